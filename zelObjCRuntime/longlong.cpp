// longlong module: not written yet.
