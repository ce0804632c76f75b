// A port trace as the flash on the adapter sees it, for runs on any link.
#pragma once

#include <string>

// One line per event of a trace written by LPTSPI_SIM_TRACE, repeats counted ("05=03 x2"):
//   a frame, from chip select falling to rising: its first four bytes in hex, then "+N" for the
//   bytes after them, each byte as clocked into the flash on rising edges; a status query (0x05
//   then bytes the tool sampled) as "05=" and the last status read, with "*N" when N were read;
//   "S ms" for a pause; "idle" for the lines released outside a frame; any other access as traced,
//   a read without its value.
// A frame that breaks SPI mode 0 or the adapter's wiring shows as "bad frame": selected with the
// clock high, data-out changed together with a rising edge, the always-high line low, a
// partial byte, or a received byte with a bit not sampled between the falling and the rising
// edge. `data` is the port's data register as four hex digits ("0378"), its status register the
// next one.
std::string decode_frames(const std::string& trace, const std::string& data = "0378");
