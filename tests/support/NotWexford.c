/* A library that is not the expansion-board library. */
int NotWexford_Version(void) { return 1; }
