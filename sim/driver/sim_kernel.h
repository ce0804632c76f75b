/* Kernel services for port_sim.cpp (see sim_kernel.c). */
#ifndef SIM_KERNEL_H
#define SIM_KERNEL_H

#ifdef __cplusplus
extern "C" {
#endif

void sim_clock_start(void);
/* Real time since sim_clock_start(), in nanoseconds. */
unsigned long long sim_clock_ns(void);

#ifdef __cplusplus
}
#endif

#endif
