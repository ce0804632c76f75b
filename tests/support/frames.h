// A port trace as the flash on the adapter sees it, for runs on either link.
#pragma once

#include <string>

// One line per event of a trace written by LPTSPI_SIM_TRACE, repeats counted ("05=03 x2"): a
// frame, from chip select falling to rising, as its first four bytes in hex and "+N" for the rest,
// each byte as clocked into the flash on rising edges; a status query (0x05, then bytes the tool
// sampled) as "05=" and the last status read, with "*N" for N readings; the chip selected with
// nothing clocked and data-in read N times (the SST25's busy line) as "line=" and the last level
// read, "*N"; "S ms" for a pause; "idle"
// for the lines released outside a frame; any other access as traced, a read without its value.
// A frame that breaks SPI mode 0 or the wiring shows as "bad frame": selected with the clock
// high, data-out changed with a rising edge, the always-high line low, a partial byte, or a
// received byte with a bit not sampled between the falling and the rising edge. `data` is the
// port's data register ("0378"); its status register is the next one.
std::string decode_frames(const std::string& trace, const std::string& data = "0378");
