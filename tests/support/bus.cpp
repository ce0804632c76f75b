#include "bus.h"

#include <cstdio>

std::string access_trace(const std::vector<sim::Access>& accesses) {
    std::string text;
    char item[16];
    for (const auto& a : accesses) {
        if (a.write)
            std::snprintf(item, sizeof item, "W%x:%02x", a.address, a.value);
        else
            std::snprintf(item, sizeof item, "R%x", a.address);
        if (!text.empty())
            text += ' ';
        text += item;
    }
    return text;
}

std::string access_trace() {
    return access_trace(sim::accesses());
}

void BusTest::power_up(const sim::Settings& settings) {
    sim::reset(settings);
    baseport = 0x378;
    ecpport = 0x778;
    sysver = SYSVER_NT;
    hframes = -1;
    hdriver = CreateFileA("\\\\.\\hwinterface", GENERIC_READ | GENERIC_WRITE, 0, NULL,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(hdriver, INVALID_HANDLE_VALUE);
    session_open(&link, LINK_PLAIN);
    sim::record(true);
}

std::string bits(unsigned value, int count) {
    std::string text;
    for (int i = count - 1; i >= 0; i--) {
        text += text.empty() ? "" : " ";
        text +=
            ((value >> i) & 1) ? "W378:03 R379 W378:0b W378:03" : "W378:01 R379 W378:09 W378:01";
    }
    return text;
}

std::string frame(const std::vector<unsigned>& bytes_out, int bytes_in) {
    std::string text = "W378:01";
    for (unsigned b : bytes_out)
        text += " " + bits(b, 8);
    for (int i = 0; i < bytes_in; i++)
        text += " " + bits(0, 8);
    return text + " W378:05";
}
