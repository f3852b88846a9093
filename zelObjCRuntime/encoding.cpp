// encoding module: not written yet.
