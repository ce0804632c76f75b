// _inp and _outp for the 64-bit Windows build, whose runtime lacks them. Only the 95/98/Me family
// reaches them, and it never runs 64-bit code, so these exist to keep one source for both builds.
#include "system.h"

#include <intrin.h>

extern "C" int __cdecl _inp(unsigned short port) {
    return __inbyte(port);
}

extern "C" int __cdecl _outp(unsigned short port, int value) {
    __outbyte(port, static_cast<unsigned char>(value));
    return value;
}
