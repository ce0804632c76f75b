// The simulated ports of hwinterface-sim.sys: the parallel port at 0x378 (or where a test places
// it, as a PCI card's) and, once a test selects it, LPT2's at 0x278, each with the adapter and a
// board carrying a 25-series flash chip from sim/model.cpp, so that the Windows builds of the
// programs run end to end under Wine.
//
// Time: the chip's clock is the PC's. As each request arrives, the real time that passed since the
// previous one is added to the boards' clocks, and a port access costs nothing more (the model's
// access_ns is 0): the accesses' own time is in the real time already. So an erase or a program
// takes as long on the programs' Windows clocks as the chip's times say, never less, and a
// program that waits too short a time for it is caught. The clock is read once a request, not
// once an access: a 4 KiB frame is some 130,000 accesses, and reading the clock through Wine costs
// more than an access of the model.
//
// Each board's chip is chosen as the simulated PC chooses its own (sim/chip_choice.h), here by
// the test requests of sim_requests.h: the family, its status at power-up, its timing corner and,
// where a test cuts them, its program and erase times. When the driver loads, every board
// carries the default chip, erased, 1 MiB, status 00, its page program 1.4 ms and its erase cut
// to 10 ms (real chips take seconds), so the first status poll after an erase, 100 ms later,
// already reads 00 and the tests stay fast. The chip requests of hwi_dispatch.h let tests choose
// another size, put old contents in first and read the result back.
//
// hwi_dispatch.c, the product's request handling, knows only the requests the real driver shares
// with this one. The link wraps it (--wrap=hwi_dispatch, see driver/CMakeLists.txt): the glue's
// call reaches __wrap_hwi_dispatch here, which answers the requests of sim_requests.h and hands
// every other request, unchanged, to __real_hwi_dispatch, the product's own.
#include "families.h"
#include "hwi_backend.h"
#include "sim_kernel.h"
#include "sim_requests.h"

namespace {

const uint32_t kAccessNs = 0; // the real time of an access is counted with the request's
const uint16_t kSecondEcp = HWI_SIM_SECOND_PORT + 0x400;

// A port's board: the chip on it and whether it is on the cable.
struct Board {
    simcore::Model model;
    simcore::ChipChoice choice; // kept when a test sets another size
    uint8_t* memory;
    bool on_cable;
    bool in_use; // the second port answers once a test selected it
};

uint8_t first_chip[HWI_CHIP_SIZE_MAX];
uint8_t second_chip[HWI_CHIP_SIZE_MAX];
Board boards[2];
Board* selected; // the board the chip requests reach
hwi_port placed; // base 0: the port is the motherboard's, which the system does not describe here
uint64_t real_ns_seen; // real time already added to the boards' clocks

// The chip every board carries when the driver loads.
simcore::ChipChoice load_choice() {
    simcore::ChipChoice c;
    c.program_ns = HWI_SIM_LOAD_PROGRAM_US * 1000u;
    c.erase_ns = HWI_SIM_LOAD_ERASE_US * 1000u;
    return c;
}

// Brings the boards' clocks up to date with the real time that passed since the last request.
void catch_up() {
    const uint64_t now = sim_clock_ns();
    if (now > real_ns_seen) {
        for (Board& b : boards) {
            if (b.in_use)
                simcore::model_advance(b.model, now - real_ns_seen);
        }
        real_ns_seen = now;
    }
}

bool second_port_register(unsigned short port) {
    return static_cast<unsigned short>(port - HWI_SIM_SECOND_PORT) < 3 ||
           static_cast<unsigned short>(port - kSecondEcp) < 3;
}

Board& board_at(unsigned short port) {
    return boards[1].in_use && second_port_register(port) ? boards[1] : boards[0];
}

unsigned char sim_inb(unsigned short port) {
    return simcore::model_read(board_at(port).model, port);
}

void sim_outb(unsigned short port, unsigned char value) {
    simcore::Model& m = board_at(port).model;
    if (!board_at(port).on_cable && port == m.base) {
        // No chip on the cable: the data register holds the lines, which reach nothing.
        m.now_ns += m.access_ns;
        ++m.accesses;
        m.data = value;
        return;
    }
    simcore::model_write(m, port, value);
}

void sim_read_chip(unsigned long offset, unsigned char* out, unsigned long len) {
    for (unsigned long i = 0; i < len; i++)
        out[i] = selected->memory[offset + i];
}

void sim_write_chip(unsigned long offset, const unsigned char* in, unsigned long len) {
    for (unsigned long i = 0; i < len; i++)
        selected->memory[offset + i] = in[i];
}

// The model's port registers where the board's port is: the first port on the motherboard or
// where a test placed it, the second at LPT2's legacy place with its ECP block.
void seat_port(Board& b) {
    simcore::Model& m = b.model;
    if (&b == &boards[1]) {
        m.base = HWI_SIM_SECOND_PORT;
        m.ecr_port = kSecondEcp + simcore::kEcpEcrOffset;
        m.ecp = 1;
        return;
    }
    m.base = placed.base != 0 ? placed.base : simcore::kLptBase;
    m.ecr_port = static_cast<uint16_t>(placed.base == 0 ? simcore::kLptBase + simcore::kEcrOffset
                                                        : placed.ecp + simcore::kEcpEcrOffset);
    m.ecp = placed.base == 0 || placed.ecp != 0 ? 1 : 0;
}

// The selected board's chip as the chip requests see it.
void show_selected() {
    hwi_backend.chip_size = selected->model.size;
}

// An erased chip of `size` bytes and a port just powered up, where it was placed. The size is a
// power of two from HWI_CHIP_SIZE_MIN up, which the model always takes.
void power_up(Board& b, uint32_t size) {
    for (uint32_t i = 0; i < size; i++)
        b.memory[i] = 0xFF;
    b.model = simcore::Model();
    b.model.memory = b.memory;
    b.model.access_ns = kAccessNs;
    simcore::ChipChoice c = b.choice;
    c.size = size;
    simcore::choose_chip(b.model, c); // a board's choice was taken once already
    seat_port(b);
    b.model.miso_mode = b.on_cable ? simcore::kMisoChip : simcore::kMisoHigh;
    simcore::model_init(b.model);
}

// The chip powers up on a port in use: the port keeps its registers and its clock, and the chip,
// when on the cable, sees the port's lines from now on (as the simulated PC's operator puts a
// board on).
void power_up_on_port(Board& b) {
    simcore::Model& m = b.model;
    const uint64_t now = m.now_ns, accesses = m.accesses;
    const uint8_t data = m.data, control = m.control, ecr = m.ecr;
    m.miso_mode = b.on_cable ? simcore::kMisoChip : simcore::kMisoHigh;
    simcore::model_init(m);
    m.now_ns = now;
    m.accesses = accesses;
    m.control = control;
    m.ecr = ecr;
    if (b.on_cable)
        simcore::model_data_write(m, data);
    else
        m.data = data;
}

hwi_status choose_chip(const unsigned char* in, unsigned long in_len) {
    simcore::ChipChoice c;
    const hwi_status status = sim_choice_from_request(in, in_len, c);
    if (status != HWI_STATUS_SUCCESS)
        return status;
    if (!simcore::choose_chip(selected->model, c)) // the model unchanged
        return HWI_STATUS_INVALID_PARAMETER;
    selected->choice = c;
    for (uint32_t i = 0; i < selected->model.size; i++)
        selected->memory[i] = 0xFF;
    power_up_on_port(*selected);
    show_selected();
    return HWI_STATUS_SUCCESS;
}

hwi_status set_cable(const unsigned char* in, unsigned long in_len) {
    if (in == nullptr || in_len < HWI_SIM_CABLE_IN)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    if (in[0] > 1)
        return HWI_STATUS_INVALID_PARAMETER;
    selected->on_cable = in[0] == 1;
    if (selected->on_cable) {
        power_up_on_port(*selected);
    } else {
        selected->model.miso_mode = simcore::kMisoHigh;
        simcore::update_status_port(selected->model);
    }
    return HWI_STATUS_SUCCESS;
}

hwi_status select_board(const unsigned char* in, unsigned long in_len) {
    if (in == nullptr || in_len < HWI_SIM_SELECT_IN)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    const unsigned base = in[0] | in[1] << 8;
    if (base == boards[0].model.base) {
        selected = &boards[0];
    } else if (base == HWI_SIM_SECOND_PORT && boards[0].model.base != HWI_SIM_SECOND_PORT) {
        Board& b = boards[1];
        if (!b.in_use) {
            b.memory = second_chip;
            b.choice = load_choice();
            b.on_cable = true;
            power_up(b, b.choice.family != nullptr ? b.choice.family->size
                                                   : simcore::kFamilies[0].size);
            b.in_use = true;
        }
        selected = &b;
    } else {
        return HWI_STATUS_INVALID_PARAMETER;
    }
    show_selected();
    return HWI_STATUS_SUCCESS;
}

void sim_set_chip_size(unsigned long size) {
    power_up(*selected, static_cast<uint32_t>(size));
    show_selected();
}

// The chip keeps its contents; the port powers up at its new place.
void sim_place_port(const hwi_port* port) {
    placed = *port;
    seat_port(boards[0]);
    boards[0].model.ecr = simcore::kEcrPowerUp;
}

} // namespace

extern "C" {

struct hwi_ops hwi_backend = {sim_inb,        sim_outb,          1u << 20,      sim_read_chip,
                              sim_write_chip, sim_set_chip_size, sim_place_port};

void hwi_backend_start(void) {
    Board& b = boards[0];
    b.memory = first_chip;
    b.choice = load_choice();
    b.on_cable = true;
    b.in_use = true;
    power_up(b, simcore::kFamilies[0].size);
    boards[1].in_use = false;
    selected = &b;
    show_selected();
    sim_clock_start();
    real_ns_seen = 0;
}

unsigned hwi_backend_ports(struct hwi_port* out, unsigned max) {
    if (placed.base == 0 || max == 0)
        return 0;
    out[0] = placed;
    return 1;
}

hwi_status __real_hwi_dispatch(const struct hwi_ops* ops, struct hwi_ports* ports,
                               unsigned long code, const void* in, unsigned long in_len, void* out,
                               unsigned long out_len, unsigned long* information);

// The glue's every request, under the backend's lock: the requests of sim_requests.h here, the
// rest by the product's own handling.
hwi_status __wrap_hwi_dispatch(const struct hwi_ops* ops, struct hwi_ports* ports,
                               unsigned long code, const void* in, unsigned long in_len, void* out,
                               unsigned long out_len, unsigned long* information) {
    const unsigned char* src = static_cast<const unsigned char*>(in);
    catch_up();
    switch (code) {
    case HWI_SIM_IOCTL_CHOOSE_CHIP:
        *information = 0;
        return choose_chip(src, in_len);
    case HWI_SIM_IOCTL_CABLE:
        *information = 0;
        return set_cable(src, in_len);
    case HWI_SIM_IOCTL_SELECT_BOARD:
        *information = 0;
        return select_board(src, in_len);
    default:
        return __real_hwi_dispatch(ops, ports, code, in, in_len, out, out_len, information);
    }
}

} // extern "C"
