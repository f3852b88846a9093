// apply module: not written yet.
