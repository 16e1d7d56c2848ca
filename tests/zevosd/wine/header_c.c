/* The public header as a C caller sees it: it compiles, and its layout checks hold. */
#include "ZEVOSD.h"

int zevosdHeaderCSizes(void) { return (int)(sizeof(OSD_REQUEST) + sizeof(OSD_REQUESTA)); }
