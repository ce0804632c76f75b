// The tool's own port path on the simulated PC: its register helpers Inp32 and Out32, one SPI bit
// (push) and a whole page read (mc_read), on the NT family (requests to the hwinterface driver)
// and on the 95/98/Me family (the processor's port instructions).
#include "flash/commands.h"
#include "flash/link.h"
#include "port/registers.h"
#include "sim/pc.h"

#include <benchmark/benchmark.h>

namespace {

// lptspi's own link on the booted PC's port.
FlashSession link;

// Boots a PC of the given family and points the tool's port helpers at it.
void boot(sim::Platform platform) {
    sim::Settings s;
    s.platform = platform;
    sim::reset(s);
    if (platform == sim::Platform::nt) {
        sysver = SYSVER_NT;
        hdriver = CreateFileA("\\\\.\\hwinterface", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    } else {
        sysver = SYSVER_WIN9X;
        hdriver = INVALID_HANDLE_VALUE;
    }
    session_open(&link, LINK_PLAIN);
}

void shut(benchmark::State& state, uint64_t accesses_per_iteration) {
    if (sim::access_count() < static_cast<uint64_t>(state.iterations()) * accesses_per_iteration) {
        state.SkipWithError("the port accesses did not reach the simulated PC");
    }
    if (hdriver != INVALID_HANDLE_VALUE) {
        CloseHandle(hdriver);
    }
    hdriver = INVALID_HANDLE_VALUE;
    sysver = SYSVER_UNKNOWN;
}

// Leaves the chip streaming a read from address 0, so every clock edge does real work.
void start_read() {
    end(&link);
    begin(&link);
    push(&link, 0x03000000u, 32); // read, address 0
}

void out32(benchmark::State& state, sim::Platform platform) {
    boot(platform);
    start_read();
    int v = 0x01;
    for (auto _ : state) {
        v ^= 0x08; // alternate rising and falling clock edges
        Out32(0x378, v);
    }
    shut(state, 1);
}
BENCHMARK_CAPTURE(out32, NT, sim::Platform::nt)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(out32, 9x, sim::Platform::win9x)->Repetitions(9)->ReportAggregatesOnly(true);

void inp32(benchmark::State& state, sim::Platform platform) {
    boot(platform);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Inp32(0x379));
    }
    shut(state, 1);
}
BENCHMARK_CAPTURE(inp32, NT, sim::Platform::nt)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(inp32, 9x, sim::Platform::win9x)->Repetitions(9)->ReportAggregatesOnly(true);

// The tool's whole bit: data set, sample status, clock high, clock low (four accesses).
void push_bit(benchmark::State& state, sim::Platform platform) {
    boot(platform);
    start_read();
    for (auto _ : state) {
        benchmark::DoNotOptimize(push(&link, 0, 1));
    }
    state.SetItemsProcessed(state.iterations() * 4);
    shut(state, 4);
}
BENCHMARK_CAPTURE(push_bit, NT, sim::Platform::nt)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(push_bit, 9x, sim::Platform::win9x)->Repetitions(9)->ReportAggregatesOnly(true);

// One page as verification reads it: select, fast read command, address and dummy byte, 256
// bytes, release. 2 + 4 * 8 * (1 + 3 + 1 + 256) accesses.
void BM_ReadPage_NT(benchmark::State& state) {
    boot(sim::Platform::nt);
    unsigned char page[256];
    for (auto _ : state) {
        mc_read(&link, 0, page, sizeof page);
        benchmark::DoNotOptimize(page);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sizeof page));
    shut(state, 2 + 32 * 261);
}
BENCHMARK(BM_ReadPage_NT)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace
