# Installation for one user: filled in by the install work.
