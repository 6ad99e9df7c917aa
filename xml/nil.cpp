#include "xml/ezxml.h"

// The one shared empty list; its single null entry ends every walk at once.
// (Declared with C linkage in the header.)
char *EZXML_NIL[] = {nullptr};
