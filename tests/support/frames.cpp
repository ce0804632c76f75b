#include "frames.h"

#include <cstdio>
#include <sstream>
#include <utility>
#include <vector>

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
    unsigned lines = 0, out = 0, in = 0;
    int bits = 0, sample = 0, reads = 0;
    bool selected = false, sampled = false, bad = false, all_sampled = true, query = false;
    std::vector<unsigned> bytes;
    std::istringstream trace_lines(trace);
    for (std::string line; std::getline(trace_lines, line);) {
        if (line[0] == 'R' && selected && line.compare(2, 4, status) == 0) {
            sampled = !(lines & 0x08);
            sample = (std::stoi(line.substr(7), nullptr, 16) >> 6) & 1;
            reads++;
            continue;
        }
        if (line[0] != 'W' || line.compare(2, 4, data) != 0) {
            add(line[0] == 'R' ? line.substr(0, 6) : line);
            continue;
        }
        const unsigned value = static_cast<unsigned>(std::stoul(line.substr(7), nullptr, 16));
        if (!selected && !(value & 0x04)) { // chip select falls: a frame begins
            selected = true, sampled = false, all_sampled = true, query = true;
            bad = (value & 0x08) || !(value & 0x01);
            bits = 0, out = 0, in = 0, reads = 0;
            bytes.clear();
        } else if (selected && (value & 0x04)) { // chip select rises
            selected = false;
            query = query && bytes.size() > 1 && (bytes[0] & 0xFF) == 0x05;
            char text[48] = "bad frame";
            if (!bad && bits == 0 && bytes.empty() && reads > 0)
                std::snprintf(text, sizeof text, "line=%d*%d", sample, reads);
            if (!bad && bits == 0 && query)
                std::snprintf(text, sizeof text, bytes.size() > 2 ? "05=%02x*%zu" : "05=%02x",
                              bytes.back() >> 8, bytes.size() - 1);
            for (size_t i = 0, n = 0; !bad && bits == 0 && !query && i < bytes.size() && i < 4; i++)
                n +=
                    std::snprintf(text + n, sizeof text - n, i ? " %02x" : "%02x", bytes[i] & 0xFF);
            add(text + (!bad && !query && bytes.size() > 4 ? " +" + std::to_string(bytes.size() - 4)
                                                           : ""));
        } else if (selected) {
            bad = bad || !(value & 0x01);
            if ((value & 0x08) && !(lines & 0x08)) { // rising edge: the flash takes data-out
                bad = bad || (value & 0x02) != (lines & 0x02);
                out = out << 1 | ((value >> 1) & 1);
                in = in << 1 | static_cast<unsigned>(sample);
                all_sampled = all_sampled && sampled;
                if (++bits == 8) {
                    // Each byte keeps what was sampled in bits 8 to 15.
                    query = query && (bytes.empty() || all_sampled);
                    bytes.push_back(out | in << 8);
                    bits = 0, out = 0, in = 0, all_sampled = true;
                }
            } else if (!(value & 0x08) && (lines & 0x08)) {
                sampled = false; // the flash puts its next bit out on the falling edge
            }
        } else {
            add(value == 0x05 ? "idle" : line);
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
