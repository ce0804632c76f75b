/* The test requests only hwinterface-sim.sys answers, beside the chip requests of hwi_dispatch.h
 * (read chip, write chip, set chip size, place the port): which chip a board carries, whether it
 * is on the cable, and which of the two simulated ports' boards the chip requests reach. The
 * real driver does not know them (STATUS_INVALID_DEVICE_REQUEST). C, for hwi-check.c too. */
#ifndef SIM_REQUESTS_H
#define SIM_REQUESTS_H

#include "../../driver/hwi_dispatch.h"

/* Chooses the chip of the selected board (see HWI_SIM_IOCTL_SELECT_BOARD), as LPTSPI_SIM_FLASH,
 * LPTSPI_SIM_STATUS, LPTSPI_SIM_TIMING, LPTSPI_SIM_PROGRAM_US and LPTSPI_SIM_ERASE_MS choose the
 * simulated PC's. Input, HWI_SIM_CHOOSE_IN bytes:
 *   0-15   the family's name in lower case (as LPTSPI_SIM_FLASH names it), NUL-padded
 *   16     flags: HWI_SIM_STATUS_GIVEN, HWI_SIM_DEEP_POWER_DOWN
 *   17     the status register at power-up, with HWI_SIM_STATUS_GIVEN (else the family's)
 *   18     the timing corner: HWI_SIM_TYPICAL, HWI_SIM_MINIMUM or HWI_SIM_MAXIMUM
 *   19     0
 *   20-23  every program's busy time in microseconds, little-endian; HWI_SIM_FAMILY_TIME: the
 *          family's at the corner
 *   24-27  every erase's busy time in microseconds, the same way
 * The board gets an erased chip of that family at the family's size, powered up as when a board
 * is put on a port in use: the port keeps its registers and its clock, the chip sees its lines
 * from now on (if the board is on the cable). No output. Information = 0. An unknown family,
 * unknown flags, a corner outside the three, or a nonzero byte 19 give
 * HWI_STATUS_INVALID_PARAMETER; so does HWI_SIM_DEEP_POWER_DOWN, until the simulated chip has a
 * deep power-down. When the driver loads, each board's chip is the default one (an M25P80 of
 * 1 MiB at status 00) with its erase cut to HWI_SIM_LOAD_ERASE_US and its program at
 * HWI_SIM_LOAD_PROGRAM_US. */
#define HWI_SIM_IOCTL_CHOOSE_CHIP HWI_CTL_CODE(0x8F4) /* 0x9C4023D0 */
/* Puts the selected board on the cable (input 1 byte: 1) or takes it away (0), as an operator
 * at a station does: away, data-in reads high, as with no chip, and the chip keeps its contents
 * for the chip requests; put back, it powers up afresh (its volatile protection as at power-up)
 * and sees the port's lines from then on. A board is on the cable when the driver loads. No
 * output. Information = 0. Any other value gives HWI_STATUS_INVALID_PARAMETER. */
#define HWI_SIM_IOCTL_CABLE HWI_CTL_CODE(0x8F5) /* 0x9C4023D4 */
/* Selects the board the chip requests (read, write, set size, choose, cable) reach from now on,
 * by its port's base (input 2 bytes, little-endian): the first port's (0x378, or where the place
 * request put it), or HWI_SIM_SECOND_PORT, LPT2's legacy port with its ECP block 0x400 above,
 * which answers only once it was first selected (with the default chip, on the cable). No
 * output. Information = 0. Any other base gives HWI_STATUS_INVALID_PARAMETER. When the driver
 * loads, the first port's board is selected. */
#define HWI_SIM_IOCTL_SELECT_BOARD HWI_CTL_CODE(0x8F6) /* 0x9C4023D8 */

#define HWI_SIM_CHOOSE_IN 28u
#define HWI_SIM_NAME_MAX 16u
#define HWI_SIM_STATUS_GIVEN 0x01u
#define HWI_SIM_DEEP_POWER_DOWN 0x02u /* the chip starts in deep power-down: not modelled yet */
#define HWI_SIM_TYPICAL 0u
#define HWI_SIM_MINIMUM 1u
#define HWI_SIM_MAXIMUM 2u
#define HWI_SIM_FAMILY_TIME 0xFFFFFFFFul
#define HWI_SIM_CABLE_IN 1u
#define HWI_SIM_SELECT_IN 2u
#define HWI_SIM_SECOND_PORT 0x278u
/* The times a board's chip takes when the driver loads: the M25P80's page program, and an erase
 * cut from seconds so that lptspi's first status poll, 100 ms after its erase command, reads 00. */
#define HWI_SIM_LOAD_PROGRAM_US 1400ul
#define HWI_SIM_LOAD_ERASE_US 10000ul

#ifdef __cplusplus
#include "../chip_choice.h"

/* The choice a choose-chip request's input makes: HWI_STATUS_SUCCESS with `choice` filled in
 * (its size the family's), or the status the request is refused with, `choice` unchanged.
 * Freestanding, as the model is: the driver and the host's tests both call it. */
hwi_status sim_choice_from_request(const unsigned char* in, unsigned long in_len,
                                   simcore::ChipChoice& choice);
#endif

#endif
