#include "runs.h"

#include "sha256.h"

#include "key.h"

#include <cstdio>
#include <sstream>

std::string pattern(size_t size, int seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i++)
        bytes[i] = static_cast<char>((i >> 8) ^ (i * 13) ^ seed);
    return bytes;
}

std::string scramble(std::string raw) {
    for (size_t i = 0; i < raw.size(); i++)
        raw[i] = static_cast<char>(static_cast<unsigned char>(raw[i]) ^ key[i]);
    return raw;
}

std::string programmed(const std::string& raw) {
    std::string bytes = raw;
    for (size_t i = raw.size(); i % 256 != 0; i++)
        bytes += static_cast<char>(key[i]);
    return bytes;
}

std::string format(const char* fmt, int value) {
    char text[128];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

std::string without_progress(const std::string& out, std::string* shown) {
    std::string kept, phases, phase;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        end = end == std::string::npos ? out.size() : end + 1;
        const std::string line = out.substr(at, end - at);
        at = end;
        // "phase" padded to 11 characters, a space, the percentage in 3, and '%'.
        const bool progress = line.size() > 16 && line[15] == '%' && line[11] == ' ' &&
                              line.find_first_not_of(" 0123456789", 12) == 15;
        if (!progress) {
            kept += line;
            continue;
        }
        std::string name = line.substr(0, 11);
        name.erase(name.find_last_not_of(' ') + 1);
        std::string percent = line.substr(12, 3);
        percent.erase(0, percent.find_first_not_of(' '));
        if (name != phase)
            phases += (phase.empty() ? "" : "\n") + name;
        phases += " " + percent;
        phase = name;
    }
    if (shown != nullptr)
        *shown = phases.empty() ? "" : phases + "\n";
    return kept;
}

std::string pass_line(const std::string& holder, const std::string& path, int pages,
                      const std::string& firmware) {
    char hex[SHA256_HEX];
    sha256_hex(reinterpret_cast<const unsigned char*>(firmware.data()), firmware.size(), hex);
    return "PASS: " + holder + " holds " + path + format(" (%d page", pages) +
           (pages == 1 ? "" : "s") + ", firmware sha256 " + std::string(hex, 12) + "..., ";
}

std::string untimed(std::string out) {
    const size_t verdict = out.rfind("PASS: ");
    const size_t end = verdict == std::string::npos ? verdict : out.find(" s)\n", verdict);
    if (end == std::string::npos)
        return out;
    const size_t comma = out.rfind(", ", end);
    return out.erase(comma, end + 2 - comma);
}

std::string saved_lines(int pages, const std::string& contents, const std::string& path,
                        const std::string& chip) {
    const std::string firmware = contents.substr(0, pages * 256);
    const std::string image = scramble(firmware);
    char image_hex[SHA256_HEX], firmware_hex[SHA256_HEX];
    sha256_hex(reinterpret_cast<const unsigned char*>(image.data()), image.size(), image_hex);
    sha256_hex(reinterpret_cast<const unsigned char*>(firmware.data()), firmware.size(),
               firmware_hex);
    return format("%d pages saved to ", pages) + path + "\n" + image_hex + "  " + path + "\n" +
           firmware_hex + "  (the firmware in it)\nPASS: " + chip + " saved to " + path +
           " (firmware sha256 " + std::string(firmware_hex, 12) + "...)\n";
}

std::string findings(const std::string& out) {
    std::istringstream in(out);
    std::string line, kept;
    while (std::getline(in, line)) {
        for (const char* head : {"flash: ", "unprotect: ", "result: "}) {
            if (line.rfind(head, 0) == 0)
                kept += line + "\n";
        }
    }
    return kept;
}
