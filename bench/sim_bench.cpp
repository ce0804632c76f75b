// One port access through the paths the tool uses: DeviceIoControl on the hwinterface device
// (write and read requests) on the NT family, and _outp on the 95/98/Me family.
#include "sim/pc.h"
#include "sim/windows.h"

#include <benchmark/benchmark.h>

namespace {

const DWORD kIoctlRead = 0x9C402004;
const DWORD kIoctlWrite = 0x9C402008;

HANDLE open_device() {
    return CreateFileA("\\\\.\\hwinterface", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Leaves the chip streaming a read from address 0, so every clock edge does real work.
template <typename Write> void start_read(Write write) {
    write(0x05);
    write(0x01);                   // select
    for (int i = 0; i < 32; ++i) { // read command and a 24-bit address: 0x03 00 00 00
        const bool one = i == 6 || i == 7;
        const uint8_t b = one ? 0x03 : 0x01;
        write(b);
        write(static_cast<uint8_t>(b | 0x08));
        write(b);
    }
}

void BM_IoctlWrite(benchmark::State& state) {
    sim::reset(sim::Settings{});
    HANDLE h = open_device();
    BYTE in[3] = {0x78, 0x03, 0x01};
    DWORD returned = 0;
    auto write = [&](uint8_t v) {
        in[2] = v;
        DeviceIoControl(h, kIoctlWrite, in, 3, nullptr, 0, &returned, nullptr);
    };
    start_read(write);
    uint8_t v = 0x01;
    for (auto _ : state) {
        v ^= 0x08; // alternate rising and falling clock edges
        in[2] = v;
        benchmark::DoNotOptimize(
            DeviceIoControl(h, kIoctlWrite, in, 3, nullptr, 0, &returned, nullptr));
    }
    if (sim::access_count() < static_cast<uint64_t>(state.iterations())) {
        state.SkipWithError("accesses were not counted");
    }
    CloseHandle(h);
}
BENCHMARK(BM_IoctlWrite)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_IoctlRead(benchmark::State& state) {
    sim::reset(sim::Settings{});
    HANDLE h = open_device();
    BYTE in[2] = {0x79, 0x03};
    BYTE out = 0;
    DWORD returned = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            DeviceIoControl(h, kIoctlRead, in, 2, &out, 1, &returned, nullptr));
        benchmark::DoNotOptimize(out);
    }
    CloseHandle(h);
}
BENCHMARK(BM_IoctlRead)->Repetitions(9)->ReportAggregatesOnly(true);

// The tool's whole bit: data set, sample status, clock high, clock low (four accesses).
void BM_IoctlBit(benchmark::State& state) {
    sim::reset(sim::Settings{});
    HANDLE h = open_device();
    BYTE w[3] = {0x78, 0x03, 0x01};
    BYTE r[2] = {0x79, 0x03};
    BYTE out = 0;
    DWORD returned = 0;
    auto write = [&](uint8_t v) {
        w[2] = v;
        DeviceIoControl(h, kIoctlWrite, w, 3, nullptr, 0, &returned, nullptr);
    };
    start_read(write);
    for (auto _ : state) {
        write(0x01);
        DeviceIoControl(h, kIoctlRead, r, 2, &out, 1, &returned, nullptr);
        benchmark::DoNotOptimize(out);
        write(0x09);
        write(0x01);
    }
    state.SetItemsProcessed(state.iterations() * 4);
    CloseHandle(h);
}
BENCHMARK(BM_IoctlBit)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_Outp9x(benchmark::State& state) {
    sim::Settings s;
    s.platform = sim::Platform::win9x;
    sim::reset(s);
    start_read([](uint8_t v) { _outp(0x378, v); });
    int v = 0x01;
    for (auto _ : state) {
        v ^= 0x08;
        benchmark::DoNotOptimize(_outp(0x378, v));
    }
}
BENCHMARK(BM_Outp9x)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace
