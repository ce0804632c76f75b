// A flash session on the claimed port, and the lines between its frames.
#include "session.h"

#include "commands.h"
#include "../driver/adapter.h"
#include "../port/interrupt.h"
#include "../port/registers.h"
#include "../port/system.h"

void session_open(FlashSession* s, int link) {
    *s = FlashSession();
    s->data = baseport;
    s->status = (unsigned short)(baseport + 1);
    s->access = sysver == SYSVER_NT ? ACCESS_FRAMES : ACCESS_DIRECT;
    if (sysver == SYSVER_NT && hframes == 0)
        s->access = ACCESS_DRIVER;
    s->link = link;
    s->chip.name = "the flash";
}

void session_idle(FlashSession* s) {
    Out32(s->data, ADAPTER_IDLE);
}

int session_begin(FlashSession* s) {
    session_idle(s);
    _sleep(100);
    return mc_read_status(s);
}

void session_end(FlashSession* s) {
    session_idle(s);
    _sleep(100);
}

void session_hold(FlashSession* s, int lines) {
    Out32(s->data, lines);
}

int session_stopped(const FlashSession* s) {
    return s->stopped;
}

int session_note_stop(FlashSession* s) {
    if (!s->stopped && InterruptPending())
        s->stopped = 1;
    return s->stopped;
}
