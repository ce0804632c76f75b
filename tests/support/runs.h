// What the tests of whole runs feed the tools and expect back: images, and the transcript lines
// several of them share.
#pragma once

#include <cstddef>
#include <string>

// Inline, so that constants built from them elsewhere are initialised after them.
// The port opened on an NT PC, and then its ECP set to byte mode.
inline const std::string NT_OPENED = "Opening parallel port LPT1 \nOn windows system 2 \n";
inline const std::string OPENING = NT_OPENED + "setting ECP port to SPP bidirectional mode  \n";
// The port found in use, and the line that ends every run that could not claim it.
inline const std::string PORT_IN_USE = "Opening parallel port LPT1 \nParallel port is in use! \n";
inline const std::string GAME_OVER = "Game over cant get a handle for the parallel port ! \n";
// The status read before anything else is done with the flash.
inline const std::string IDLE = "serial flash in idle state 0x00\n\n";

// `size` bytes that differ from page to page and within each page, varied by `seed`.
std::string pattern(size_t size, int seed = 0);

// `raw` exclusive-or'ed byte by byte with the key, as lptspi-scramble makes an image.
std::string scramble(std::string raw);

// What the flash holds after programming `raw`: the image, then key bytes to the page's end.
std::string programmed(const std::string& raw);

// `fmt` with one int filled in, as printf would.
std::string format(const char* fmt, int value);

// A transcript of lptspi --fast, --verify or lptspi-backup into a file, its progress lines (one
// a tenth of each phase: "programming  40%  2 of 5 pages, 0:01 left") taken out. The phases'
// percentages, as "programming 20 40 60 80 100\n" a phase, go to `*shown`.
std::string without_progress(const std::string& out, std::string* shown = nullptr);

// The verdict line of a run that passed, up to its timing: "PASS: M25P80 holds image.bin (3
// pages, firmware sha256 " and the first twelve digits of the digest of `firmware`.
std::string pass_line(const std::string& holder, const std::string& path, int pages,
                      const std::string& firmware);

// The lines of an lptspi-check transcript about the flash, its protection and the result (those
// starting "flash: ", "unprotect: " or "result: ").
std::string findings(const std::string& out);

// `out` with the time its verdict line ends with taken out: "(..., 12.3 s)" becomes "(...)".
std::string untimed(std::string out);

// What lptspi-backup says after saving `pages` pages of `contents` (the chip's bytes) to `path`,
// the verdict's time taken out: the saved line, the file's and the firmware's digests and the
// verdict naming `chip`.
std::string saved_lines(int pages, const std::string& contents, const std::string& path,
                        const std::string& chip = "M25P80");
