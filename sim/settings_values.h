// The simulated PC's settings whose values have a shape of their own, for settings.cpp. Each
// parse_* leaves its output alone when the variable is unset, and on a bad value gives a one-line
// message in `error` and false.
#pragma once

#include "pc.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim::detail {

// A number, hex with 0x or decimal.
bool parse_number(const char* text, uint64_t& out);
// "NAME=value: accepted", the message of a bad value.
std::string bad(const char* name, const char* value, const std::string& accepted);

// LPTSPI_SIM_SIZE, for a chip of the family `flash`.
bool parse_size(const char* (*get)(const char*), const std::string& flash, uint32_t& out,
                std::string& error);
// LPTSPI_SIM_NOISE: "rate[:seed]".
bool parse_noise(const char* (*get)(const char*), double& rate, uint64_t& seed, std::string& error);
// LPTSPI_SIM_STUCK's value `v`, checked against the chip of `s`.
bool parse_stuck(const char* v, const Settings& s, std::vector<Stuck>& out, std::string& error);
// LPTSPI_SIM_PORT: "[LPTn:]legacy" or "[LPTn:]SPP[,ECP]".
bool parse_port(const char* (*get)(const char*), uint8_t& lpt, uint16_t& base, uint16_t& ecp,
                std::string& error);

} // namespace sim::detail
