// symbol module: not written yet.
