// The simulated port: the parallel port at 0x378 (or where a test places it, as a PCI card's), the
// adapter and a 25-series flash chip (1 MiB unless a test asks for another size), from
// sim/model.cpp, so that the Windows build of lptspi can run end to end under Wine.
//
// Time: every port access costs 1 us of virtual time (the model's access_ns), and the real time
// that passed since the previous access is added on top, so the tool's pauses (it sleeps
// 100 ms between erase polls) count as they would on a real PC. Page program keeps the model's
// usual 1.4 ms busy time; erase is cut to 10 ms (real chips take seconds), so the first status
// poll after an erase, 100 ms later, already reads 00 and the tests stay fast.
//
// The chip starts erased (all 0xFF) and 1 MiB each time the driver loads; the chip requests of
// hwi_dispatch.h let tests choose another size, put old contents in first and read the result
// back.
#include "hwi_backend.h"
#include "model.h"
#include "sim_kernel.h"

namespace {

const uint32_t kDefaultChipSize = 1u << 20;
const uint32_t kAccessNs = 1000;
const uint64_t kProgramNs = 1400 * 1000ull;
const uint64_t kEraseNs = 10 * 1000 * 1000ull;

uint8_t chip[HWI_CHIP_SIZE_MAX];
simcore::Model model;
hwi_ports learned;
hwi_port placed; // base 0: the port is the motherboard's, which the system does not describe here
uint64_t real_ns_seen; // real time already added to the model's clock

// Brings the model's clock up to date with the real time that passed since the last access.
void catch_up() {
    const uint64_t now = sim_clock_ns();
    if (now > real_ns_seen) {
        simcore::model_advance(model, now - real_ns_seen);
        real_ns_seen = now;
    }
}

unsigned char sim_inb(unsigned short port) {
    catch_up();
    return simcore::model_read(model, port);
}

void sim_outb(unsigned short port, unsigned char value) {
    catch_up();
    simcore::model_write(model, port, value);
}

void sim_read_chip(unsigned long offset, unsigned char* out, unsigned long len) {
    for (unsigned long i = 0; i < len; i++)
        out[i] = chip[offset + i];
}

void sim_write_chip(unsigned long offset, const unsigned char* in, unsigned long len) {
    for (unsigned long i = 0; i < len; i++)
        chip[offset + i] = in[i];
}

// The model's port registers where the port is: the motherboard's, or where a test placed it.
void seat_port() {
    model.base = placed.base != 0 ? placed.base : simcore::kLptBase;
    model.ecr_port =
        static_cast<uint16_t>(placed.base == 0 ? simcore::kLptBase + simcore::kEcrOffset
                                               : placed.ecp + simcore::kEcpEcrOffset);
    model.ecp = placed.base == 0 || placed.ecp != 0 ? 1 : 0;
}

// An erased chip of `size` bytes and a port just powered up, where it was placed. The size is a
// power of two from HWI_CHIP_SIZE_MIN up, which the model always takes.
void power_up(uint32_t size) {
    for (uint32_t i = 0; i < size; i++)
        chip[i] = 0xFF;
    model = simcore::Model();
    model.memory = chip;
    model.size = size;
    model.access_ns = kAccessNs;
    model.program_ns = kProgramNs;
    model.erase_ns = kEraseNs;
    seat_port();
    model.miso_mode = simcore::kMisoChip;
    model.power_status = 0x00;
    simcore::model_init(model);
    hwi_backend.chip_size = size;
    sim_clock_start();
    real_ns_seen = 0;
}

void sim_set_chip_size(unsigned long size) {
    power_up(static_cast<uint32_t>(size));
}

// The chip keeps its contents; the port powers up at its new place.
void sim_place_port(const hwi_port* port) {
    placed = *port;
    seat_port();
    model.ecr = simcore::kEcrPowerUp;
}

} // namespace

extern "C" {

struct hwi_ops hwi_backend = {sim_inb,        sim_outb,          kDefaultChipSize, sim_read_chip,
                              sim_write_chip, sim_set_chip_size, &learned,         sim_place_port};

void hwi_backend_start(void) {
    power_up(kDefaultChipSize);
}

unsigned hwi_backend_ports(struct hwi_port* out, unsigned max) {
    if (placed.base == 0 || max == 0)
        return 0;
    out[0] = placed;
    return 1;
}

} // extern "C"
