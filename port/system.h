// The one door to the operating system. On Windows these are the real Win32 and runtime
// declarations; elsewhere the same names, types and values are served by the simulated PC.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <conio.h>
#include <stdlib.h>
// msvcrt's direct port I/O. The 32-bit runtime exports both; the 64-bit build gets them from
// inout64.cpp (the 95/98/Me family, the only user of them, has no 64-bit edition).
extern "C" int __cdecl _inp(unsigned short port);
extern "C" int __cdecl _outp(unsigned short port, int value);
// Windows' answer when a driver's signature is refused (winerror.h of Vista's SDK and later).
#ifndef ERROR_INVALID_IMAGE_HASH
#define ERROR_INVALID_IMAGE_HASH 577L
#endif
#else
#include "../sim/windows.h"
#endif
