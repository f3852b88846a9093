// type module: not written yet.
