// method module: not written yet.
