#include "runs.h"

#include "key.h"

#include <cstdio>

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
