/* The real port: the processor's IN and OUT instructions. One request at a time: a frame is
 * thousands of accesses, and another caller's access in between would be a line change the
 * flash sees in the middle of it. Requests and opens arrive at PASSIVE_LEVEL, so a mutex, which
 * lets the waiting thread sleep, serialises them. */
#include <ntddk.h>
#include <intrin.h>

#include "hwi_backend.h"

static unsigned char direct_inb(unsigned short port) {
    return __inbyte(port);
}

static void direct_outb(unsigned short port, unsigned char value) {
    __outbyte(port, value);
}

static struct hwi_ports learned;
static KMUTEX requests;

struct hwi_ops hwi_backend = {direct_inb, direct_outb, 0, 0, 0, 0, &learned, 0};

void hwi_backend_start(void) {
    KeInitializeMutex(&requests, 0);
}

unsigned hwi_backend_ports(struct hwi_port* out, unsigned max) {
    (void)out;
    (void)max;
    return 0;
}

void hwi_backend_lock(void) {
    KeWaitForSingleObject(&requests, Executive, KernelMode, FALSE, NULL);
}

void hwi_backend_unlock(void) {
    KeReleaseMutex(&requests, FALSE);
}
