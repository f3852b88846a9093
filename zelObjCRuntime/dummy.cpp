// dummy module: not written yet.
