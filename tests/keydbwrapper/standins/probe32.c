/* Started by the 64-bit tests to learn whether this machine runs 32-bit
   programs at all: it ends with 32 when it ran. */
int wmain(void) { return 32; }
