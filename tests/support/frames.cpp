#include "frames.h"

#include <cstdio>
#include <sstream>
#include <utility>
#include <vector>

namespace {

struct Frame {
    bool bad = false;
    int bits = 0;            // bits clocked in
    unsigned out = 0;        // the byte being clocked in
    unsigned in = 0;         // the byte being sampled
    bool all_sampled = true; // every bit of the current byte was sampled before its rising edge
    std::vector<unsigned> bytes;
    std::vector<bool> received; // the byte's every bit was sampled
    std::vector<unsigned> samples;
};

std::string describe(const Frame& f) {
    if (f.bad || f.bits != 0 || f.bytes.empty())
        return "bad frame";
    char text[48];
    size_t n = 0;
    bool query = f.bytes[0] == 0x05 && f.bytes.size() > 1;
    for (size_t i = 1; query && i < f.bytes.size(); i++)
        query = f.received[i];
    if (query) {
        n = std::snprintf(text, sizeof text, "05=%02x", f.samples.back());
        if (f.bytes.size() > 2)
            std::snprintf(text + n, sizeof text - n, "*%zu", f.bytes.size() - 1);
        return text;
    }
    for (size_t i = 0; i < f.bytes.size() && i < 4; i++)
        n += std::snprintf(text + n, sizeof text - n, i ? " %02x" : "%02x", f.bytes[i]);
    if (f.bytes.size() > 4)
        std::snprintf(text + n, sizeof text - n, " +%zu", f.bytes.size() - 4);
    return text;
}

} // namespace

std::string decode_frames(const std::string& trace, const std::string& data) {
    char status[8];
    std::snprintf(status, sizeof status, "%04lx", std::stoul(data, nullptr, 16) + 1);
    std::vector<std::pair<std::string, int>> events;
    auto add = [&](const std::string& event) {
        if (!events.empty() && events.back().first == event)
            events.back().second++;
        else
            events.emplace_back(event, 1);
    };
    unsigned lines = 0x00; // the data register as last written
    bool selected = false, sampled = false;
    int sample = 0;
    Frame f;
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
        const bool on_data = line.compare(2, 4, data) == 0,
                   on_status = line.compare(2, 4, status) == 0;
        if (line[0] == 'R' && on_status) {
            if (selected && !(lines & 0x08)) {
                sampled = true;
                sample = (std::stoi(line.substr(7), nullptr, 16) >> 6) & 1;
            } else if (!selected) {
                add("R " + line.substr(2, 4));
            }
            continue;
        }
        if (line[0] != 'W' || !on_data) {
            add(line[0] == 'R' ? line.substr(0, 6) : line);
            continue;
        }
        const unsigned value = static_cast<unsigned>(std::stoul(line.substr(7), nullptr, 16));
        const bool cs_low = !(value & 0x04), sck = value & 0x08, was_sck = lines & 0x08;
        if (!selected && cs_low) {
            selected = true;
            f = Frame{};
            f.bad = sck || !(value & 0x01);
            sampled = false;
        } else if (selected && !cs_low) {
            selected = false;
            add(describe(f));
        } else if (selected) {
            if (!(value & 0x01))
                f.bad = true;
            if (sck && !was_sck) { // rising edge: the flash takes data-out
                if ((value & 0x02) != (lines & 0x02))
                    f.bad = true; // data changed with the edge, not before it
                f.out = f.out << 1 | ((value >> 1) & 1);
                f.in = f.in << 1 | static_cast<unsigned>(sample);
                f.all_sampled = f.all_sampled && sampled;
                if (++f.bits == 8) {
                    f.bytes.push_back(f.out);
                    f.received.push_back(f.all_sampled);
                    f.samples.push_back(f.in);
                    f.bits = 0;
                    f.out = f.in = 0;
                    f.all_sampled = true;
                }
            } else if (!sck && was_sck) {
                sampled = false; // the flash puts its next bit out on the falling edge
            }
        } else if (value == 0x05) {
            add("idle");
        } else {
            add(line);
        }
        lines = value;
    }
    if (selected)
        add("unfinished frame");
    std::string text;
    for (const auto& [event, count] : events)
        text += event + (count > 1 ? " x" + std::to_string(count) : "") + "\n";
    return text;
}
