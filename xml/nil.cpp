#include "xml/ezxml.h"

// The one shared empty list; its single null entry ends every walk at once.
extern "C" char *EZXML_NIL[] = {nullptr};
