// Linked only into lptspi-sim: boots the simulated PC from the LPTSPI_SIM_* environment before
// main() runs, and saves the chip and prints the report at exit.
#include "sim/pc.h"

namespace {

struct Boot {
    Boot() { sim::boot_from_environment(); }
};

const Boot boot;

} // namespace
