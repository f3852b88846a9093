// class module: not written yet.
