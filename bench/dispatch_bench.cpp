// The driver's request path, hwi_dispatch with the port's lock, on the requests of a whole
// 4095-page run, beside the path it replaced (kept below as `before`: the lock found by a scan
// of the handle's described ports and then of the legacy ports, the permission in a separate
// two-bit map). Both run over the same do-nothing port and lock, so the difference is the path.
//
// The request mix, counted on the simulated NT PC with a full random 4095-page image:
//   lptspi:        55,832,837 write-port and 18,542,677 read-port requests, one locate. Each bit
//                  of flash/link.cpp's push is a write, a read of the status register and two
//                  writes; begin and end add a write each.
//   lptspi --fast: 36,149 frames (1,113,198 bytes sent, 1,433,911 received), 5 reads, 5 writes.
//                  A page is a write enable (1 byte), its program frame (260 bytes) and about six
//                  frames of 16 status readings (1 byte out); the verification reads 4096 bytes
//                  a frame (5 bytes out).
#include "hwi_dispatch.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

namespace before {

// The request path as it was: legacy ports apart from the described ones.
const unsigned short legacy_bases[] = {0x378, 0x278, 0x3BC};
enum { LEGACY = 3, REGISTERS = 3, ECP_OFFSET = 0x400, READ_BIT = 1, WRITE_BIT = 2 };

struct Ports {
    unsigned count;
    hwi_port port[HWI_MAX_PORTS];
    unsigned char lock[HWI_MAX_PORTS];
    unsigned char allow[0x4000];
};

bool allowed(const Ports& p, unsigned short port, bool write) {
    return ((p.allow[port >> 2] >> ((port & 3u) * 2u)) & (write ? WRITE_BIT : READ_BIT)) != 0;
}

void allow(Ports& p, unsigned long port, unsigned bits) {
    p.allow[port >> 2] |= static_cast<unsigned char>(bits << ((port & 3u) * 2u));
}

void allow_port(Ports& p, unsigned long base, unsigned long span, unsigned long ecp,
                unsigned long ecp_span) {
    for (unsigned long i = 0; i < span && i < REGISTERS; i++)
        allow(p, base + i, i == 1 ? READ_BIT : READ_BIT | WRITE_BIT);
    for (unsigned long i = 0; ecp != 0 && i < ecp_span && i < REGISTERS; i++)
        allow(p, ecp + i, READ_BIT | WRITE_BIT);
}

// The descriptions are usable ones here: the benchmark gives no others.
void learn(Ports& p, const hwi_port* found, unsigned count) {
    std::memset(p.allow, 0, sizeof p.allow);
    for (unsigned short base : legacy_bases)
        allow_port(p, base, REGISTERS, base + ECP_OFFSET, REGISTERS);
    p.count = 0;
    for (unsigned i = 0; i < count && p.count < HWI_MAX_PORTS; i++) {
        p.lock[p.count] = static_cast<unsigned char>(LEGACY + p.count);
        p.port[p.count++] = found[i];
        allow_port(p, found[i].base, found[i].span, found[i].ecp, found[i].ecp_span);
    }
}

bool within(unsigned short port, unsigned long first, unsigned long span, unsigned long n) {
    return first != 0 && port >= first && port - first < span && port - first < n;
}

unsigned request_lock(const Ports& p, unsigned long code, const unsigned char* in,
                      unsigned long in_len) {
    if (in == nullptr || in_len < 2 ||
        (code != HWI_IOCTL_READ_PORT && code != HWI_IOCTL_WRITE_PORT &&
         code != HWI_IOCTL_SPI_FRAME))
        return HWI_NO_LOCK;
    const unsigned short port = static_cast<unsigned short>(in[0] | in[1] << 8);
    for (unsigned i = 0; i < p.count; i++) {
        if (within(port, p.port[i].base, p.port[i].span, REGISTERS) ||
            within(port, p.port[i].ecp, p.port[i].ecp_span, REGISTERS))
            return p.lock[i];
    }
    for (unsigned i = 0; i < LEGACY; i++) {
        if (within(port, legacy_bases[i], REGISTERS, REGISTERS) ||
            within(port, legacy_bases[i] + ECP_OFFSET, REGISTERS, REGISTERS))
            return i;
    }
    return HWI_NO_LOCK;
}

hwi_status frame(const hwi_ops& ops, const Ports& p, const unsigned char* in, unsigned long in_len,
                 unsigned char* out, unsigned long out_len, unsigned long* information) {
    if (in == nullptr || in_len < HWI_FRAME_HEADER)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    const unsigned short base = static_cast<unsigned short>(in[0] | in[1] << 8);
    const unsigned long receive = in[2] | in[3] << 8, send = in_len - HWI_FRAME_HEADER;
    if (receive > HWI_FRAME_MAX || send > HWI_FRAME_MAX)
        return HWI_STATUS_INVALID_PARAMETER;
    if (receive > 0 && (out == nullptr || out_len < receive))
        return HWI_STATUS_BUFFER_TOO_SMALL;
    const unsigned short status = static_cast<unsigned short>(base + 1u);
    if (!allowed(p, base, true) || !allowed(p, status, false))
        return HWI_STATUS_ACCESS_DENIED;
    ops.outb(base, 0x01);
    for (unsigned long i = 0; i < send; i++) {
        for (int bit = 7; bit >= 0; bit--) {
            const unsigned char lines = ((in[HWI_FRAME_HEADER + i] >> bit) & 1) ? 0x03 : 0x01;
            ops.outb(base, lines);
            ops.outb(base, static_cast<unsigned char>(lines | 0x08));
        }
    }
    for (unsigned long i = 0; i < receive; i++) {
        unsigned char byte = 0;
        for (int bit = 7; bit >= 0; bit--) {
            ops.outb(base, 0x01);
            byte = static_cast<unsigned char>(byte << 1 | ((ops.inb(status) & 0x40) ? 1 : 0));
            ops.outb(base, 0x09);
        }
        out[i] = byte;
    }
    ops.outb(base, 0x05);
    *information = receive;
    return HWI_STATUS_SUCCESS;
}

hwi_status dispatch(const hwi_ops& ops, const Ports& p, unsigned long code, const unsigned char* in,
                    unsigned long in_len, unsigned char* out, unsigned long out_len,
                    unsigned long* information) {
    *information = 0;
    if (code == HWI_IOCTL_WRITE_PORT) {
        if (in == nullptr || in_len < HWI_WRITE_PORT_IN)
            return HWI_STATUS_BUFFER_TOO_SMALL;
        const unsigned short port = static_cast<unsigned short>(in[0] | in[1] << 8);
        if (!allowed(p, port, true))
            return HWI_STATUS_ACCESS_DENIED;
        ops.outb(port, in[2]);
        return HWI_STATUS_SUCCESS;
    }
    if (code == HWI_IOCTL_READ_PORT) {
        if (in == nullptr || out == nullptr || in_len < HWI_READ_PORT_IN ||
            out_len < HWI_READ_PORT_OUT)
            return HWI_STATUS_BUFFER_TOO_SMALL;
        const unsigned short port = static_cast<unsigned short>(in[0] | in[1] << 8);
        if (!allowed(p, port, false))
            return HWI_STATUS_ACCESS_DENIED;
        out[0] = ops.inb(port);
        *information = HWI_READ_PORT_OUT;
        return HWI_STATUS_SUCCESS;
    }
    if (code == HWI_IOCTL_SPI_FRAME)
        return frame(ops, p, in, in_len, out, out_len, information);
    return HWI_STATUS_INVALID_DEVICE_REQUEST;
}

} // namespace before

namespace {

// The port and the locks cost next to nothing, and the compiler cannot see through them.
unsigned char port_value = 0x40;
unsigned long long lock_count = 0;
unsigned char bench_inb(unsigned short port) {
    benchmark::DoNotOptimize(port);
    return port_value;
}
void bench_outb(unsigned short port, unsigned char value) {
    benchmark::DoNotOptimize(port);
    benchmark::DoNotOptimize(value);
}
void take(unsigned lock) {
    lock_count += lock;
}
void give(unsigned lock) {
    lock_count -= lock;
}
// Not const: both paths call the port through the pointers, as the driver does.
hwi_ops ops = {bench_inb, bench_outb, 0, nullptr, nullptr, nullptr, nullptr};

// The PC: the system describes the motherboard's port as LPT1 and a PCI card's as LPT2; the run
// uses one of them.
const hwi_port kFound[] = {{0x378, 8, 0x778, 8, 1}, {0xD010, 8, 0xD000, 4, 2}};

struct Request {
    unsigned long code;
    std::vector<unsigned char> in;
    unsigned long out_len;
};

// One bit of the default run's push: data, status read, clock high, clock low.
std::vector<Request> bit_requests(unsigned short base) {
    const unsigned char lo = static_cast<unsigned char>(base),
                        hi = static_cast<unsigned char>(base >> 8);
    const unsigned char st = static_cast<unsigned char>(base + 1);
    return {{HWI_IOCTL_WRITE_PORT, {lo, hi, 0x03}, 0},
            {HWI_IOCTL_READ_PORT, {st, hi}, 1},
            {HWI_IOCTL_WRITE_PORT, {lo, hi, 0x0B}, 0},
            {HWI_IOCTL_WRITE_PORT, {lo, hi, 0x03}, 0}};
}

Request frame(unsigned short base, unsigned send, unsigned receive) {
    Request r{HWI_IOCTL_SPI_FRAME,
              {static_cast<unsigned char>(base), static_cast<unsigned char>(base >> 8),
               static_cast<unsigned char>(receive), static_cast<unsigned char>(receive >> 8)},
              receive};
    r.in.resize(HWI_FRAME_HEADER + send, 0xA5);
    return r;
}

// Sixteen pages of the fast run, and the verification's read of them.
std::vector<Request> fast_requests(unsigned short base) {
    std::vector<Request> requests;
    for (int page = 0; page < 16; page++) {
        requests.push_back(frame(base, 1, 0));   // write enable
        requests.push_back(frame(base, 260, 0)); // page program
        for (int wait = 0; wait < 6; wait++)
            requests.push_back(frame(base, 1, 16)); // status readings
    }
    requests.push_back(frame(base, 5, 4096));
    return requests;
}

enum Path { kBefore, kAfter };

template <typename Send>
void replay(benchmark::State& state, const std::vector<Request>& requests, Send send) {
    std::vector<unsigned char> out(HWI_FRAME_MAX);
    for (auto _ : state) {
        for (const Request& r : requests) {
            if (send(r, out.data()) != HWI_STATUS_SUCCESS) {
                state.SkipWithError("a request of the run was refused");
                return;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(requests.size()));
}

void run(benchmark::State& state, Path path, unsigned short base, bool fast) {
    const std::vector<Request> requests = fast ? fast_requests(base) : bit_requests(base);
    unsigned long information = 0;
    if (path == kBefore) {
        auto ports = std::make_unique<before::Ports>();
        before::learn(*ports, kFound, 2);
        // The glue: the lock found, taken around the dispatch, given back.
        replay(state, requests, [&](const Request& r, unsigned char* out) {
            const unsigned lock = before::request_lock(*ports, r.code, r.in.data(), r.in.size());
            if (lock != HWI_NO_LOCK)
                take(lock);
            const hwi_status status = before::dispatch(ops, *ports, r.code, r.in.data(),
                                                       r.in.size(), out, r.out_len, &information);
            if (lock != HWI_NO_LOCK)
                give(lock);
            return status;
        });
    } else {
        auto ports = std::make_unique<hwi_ports>();
        hwi_locks locks{};
        locks.take = take;
        locks.give = give;
        hwi_learn_ports(ports.get(), kFound, 2);
        hwi_assign_locks(&locks, ports.get());
        replay(state, requests, [&](const Request& r, unsigned char* out) {
            return hwi_dispatch(&ops, ports.get(), r.code, r.in.data(), r.in.size(), out, r.out_len,
                                &information);
        });
    }
    if (lock_count != 0)
        state.SkipWithError("a lock was not given back");
}

// The default run's port requests (3 writes to 1 read) on LPT1 and on the card, and the fast
// run's frames on LPT1: before and after, side by side.
BENCHMARK_CAPTURE(run, bits_lpt1_before, kBefore, 0x378, false);
BENCHMARK_CAPTURE(run, bits_lpt1_after, kAfter, 0x378, false);
BENCHMARK_CAPTURE(run, bits_card_before, kBefore, 0xD010, false);
BENCHMARK_CAPTURE(run, bits_card_after, kAfter, 0xD010, false);
BENCHMARK_CAPTURE(run, frames_lpt1_before, kBefore, 0x378, true);
BENCHMARK_CAPTURE(run, frames_lpt1_after, kAfter, 0x378, true);

} // namespace
