/* The port behind the driver. One file implements it per build: port_direct.c (the processor's
 * port instructions, hwinterface.sys) or sim/driver/port_sim.cpp (the simulated parallel port,
 * adapter and flash chip, hwinterface-sim.sys). */
#ifndef HWI_BACKEND_H
#define HWI_BACKEND_H

#include "hwi_dispatch.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Not const: the simulated chip's size, and with it chip_size, changes on request. */
extern struct hwi_ops hwi_backend;

/* Called from DriverEntry before the device exists. */
void hwi_backend_start(void);

/* Ports the backend itself describes, as the system would (the simulated port once a test placed
 * it): copies at most `max` into `out` and returns how many. */
unsigned hwi_backend_ports(struct hwi_port* out, unsigned max);

/* Serialises requests to state the backend's ports share (the simulated one's model); the real
 * ports need none. The glue holds it around each hwi_dispatch call (which takes the port's own
 * lock inside it) and around a new handle's learning of its ports and their locks. */
void hwi_backend_lock(void);
void hwi_backend_unlock(void);

#ifdef __cplusplus
}
#endif

#endif
