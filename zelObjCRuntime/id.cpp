// id module: not written yet.
