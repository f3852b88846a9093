// protocol module: not written yet.
