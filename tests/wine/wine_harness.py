#!/usr/bin/env python3
"""Runs a Windows build of lptspi end to end under Wine, against hwinterface-sim.sys.

  wine_harness.py prefix --template DIR [--driver-build DIR]
                                              make the template prefix (once per test run;
                                              skipped when the driver's build lacks the driver)
  wine_harness.py run SCENARIO --template DIR --windows-build DIR [--driver-build DIR]
                          [--key FILE] [--work DIR] [--host-build DIR]
  wine_harness.py remove --template DIR       delete the template prefix
  wine_harness.py list                        the scenarios

--windows-build is the build whose programs run: lptspi.exe, lptspi-scramble.exe,
lptspi-backup.exe and lptspi-check.exe, 64- or 32-bit. --driver-build (default: the same) is the
windows-x64 build that gives hwinterface-sim.sys and hwi-check.exe: the prefix is 64-bit, so its
driver host and its service tools are 64-bit whichever tool runs. wine64 hands a 32-bit program to the 32-bit loader (Debian's wine32 package);
where that loader cannot start, the 32-bit tool's scenarios are skipped.

Each scenario gets its own prefix, copied from the template (the big, never-written files are
hard links, everything else a real copy), keeps its wineserver alive with `wineserver -p` so that
the driver service survives between steps, and ends with the service stopped and deleted,
`wineserver -k` on that prefix only and the prefix removed. Its work folder stays when it fails,
with wine.log: what Wine's system processes and the driver hosts printed (LPTSPI_WINEDEBUG, e.g.
"+ntoskrnl", is handed on as WINEDEBUG to see more).

The scenarios of families.py (each flash family's runs) and station.py (lptspi --station) also
run the host build's programs (--host-build, the default preset's) on the simulated PC with the
equivalent LPTSPI_SIM_* settings, and compare the two.

Standard output of the Windows programs is compared byte for byte. They write it through the C
runtime in text mode, which stores every "\\n" as "\\r\\n" (Wine passes the bytes through
unchanged to a file or a pipe); a lone "\\r" stays as it is. The expected transcripts
are written with "\\n" and converted the same way before comparing, so nothing is stripped from
what the program printed.

Exit status: 0 pass, 1 fail, 77 skipped (the Windows build or the tool is not there yet).
"""

import argparse
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
CHIP_SIZE = 1 << 20
PAGE = 256
WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver"
SIM_DRIVER = r"C:\windows\system32\drivers\hwinterface-sim.sys"
TOOL_SERVICE_BINARY = r"System32\Drivers\hwinterface.sys"
# Files Wine only ever reads: shared with the template through hard links.
LINKED_SUFFIXES = (".dll", ".exe", ".nls", ".drv", ".ocx", ".sys", ".acm", ".cpl", ".tlb",
                   ".ds", ".ax", ".com", ".msstyles", ".ttf", ".fon")


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def log(message):
    print(message, flush=True)


def wine_env(prefix):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    # LPTSPI_WINEDEBUG, when set, is handed on as WINEDEBUG to see what Wine does (e.g.
    # "+ntoskrnl"); otherwise Wine stays quiet.
    env["WINEDEBUG"] = os.environ.get("LPTSPI_WINEDEBUG", "-all")
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="  # no Mono or Gecko installer
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def make_template(template):
    """Creates the template prefix. Takes about 10 s."""
    if os.path.exists(template):
        shutil.rmtree(template)
    os.makedirs(os.path.dirname(os.path.abspath(template)), exist_ok=True)
    started = time.monotonic()
    env = wine_env(template)
    run = subprocess.run([WINE64, "wineboot", "-i"], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, timeout=300)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=120)
    if run.returncode != 0 or not os.path.isdir(os.path.join(template, "drive_c", "windows")):
        raise Failure("wineboot -i failed (status %d):\n%s" %
                      (run.returncode, run.stdout.decode(errors="replace")))
    with open(os.path.join(template, "lptspi-template.stamp"), "w") as stamp:
        stamp.write("ready\n")
    log("template prefix %s made in %.1f s" % (template, time.monotonic() - started))


def copy_prefix(template, prefix):
    if not os.path.exists(os.path.join(template, "lptspi-template.stamp")):
        raise Failure("no template prefix at %s (run the prefix step first)" % template)

    def copy(src, dst):
        if src.lower().endswith(LINKED_SUFFIXES):
            os.link(src, dst)
        else:
            shutil.copy2(src, dst)

    shutil.copytree(template, prefix, symlinks=True, copy_function=copy)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Prefix:
    """A scenario's own prefix, with its own wineserver."""

    def __init__(self, template, path):
        self.path = path
        self.env = wine_env(path)
        started = time.monotonic()
        copy_prefix(template, path)
        # LPT1 has to open for lptspi's claim; nothing is ever written through it.
        self.link_port(1)
        subprocess.run([WINESERVER, "-p"], env=self.env, check=True, timeout=60)
        # The system's processes (services.exe, and winedevice.exe hosting the drivers) keep the
        # standard handles of the first program in the prefix: one that does nothing starts them
        # with their output, the driver hosts' included, going to wine.log beside the prefix.
        self.log_path = os.path.join(os.path.dirname(path), "wine.log")
        with open(self.log_path, "wb") as system_log:
            subprocess.run([WINE64, "cmd", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=system_log, stderr=system_log, timeout=300)
        log("prefix %s ready in %.1f s" % (path, time.monotonic() - started))

    def link_port(self, n):
        """LPTn opens, for a program's claim on it, as a link to /dev/null."""
        lpt = os.path.join(self.path, "dosdevices", "lpt%d" % n)
        if os.path.lexists(lpt):
            os.remove(lpt)
        os.symlink("/dev/null", lpt)

    def install(self, driver):
        dest = os.path.join(self.path, "drive_c", "windows", "system32", "drivers",
                            "hwinterface-sim.sys")
        shutil.copyfile(driver, dest)

    def run(self, argv, cwd=None, timeout=300):
        result = self.run_once(argv, cwd, timeout)
        if result.returncode != 0 and not result.stdout and not result.stderr:
            # Every program run here says why it fails. A failure with nothing said is Wine not
            # starting the program at all (seen once in CI: status 1 after 0.02 s, where a start
            # takes 0.1 s), so it is started once more; a fault of the program fails again.
            log("%s: status %d after %.2f s with no output: Wine did not start it; once more" %
                (os.path.basename(argv[0]), result.returncode, result.seconds))
            result = self.run_once(argv, cwd, timeout)
        return result

    def run_once(self, argv, cwd, timeout):
        # Output goes to files, not pipes: were a program the first in the prefix, the system
        # processes it starts would inherit its standard handles and outlive it, so a pipe would
        # never reach end of file.
        started = time.monotonic()
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run([WINE64] + argv, env=self.env, cwd=cwd,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    timeout=timeout)
            out.seek(0)
            err.seek(0)
            result.stdout = out.read()
            result.stderr = err.read()
        result.seconds = time.monotonic() - started
        return result

    def close(self, helper):
        # Best effort: the scenario may have failed half way.
        if helper:
            self.run([helper, "stop", "delete"], timeout=60)
        subprocess.run([WINESERVER, "-k"], env=self.env, timeout=60)
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=60)
        shutil.rmtree(self.path, ignore_errors=True)


PE_MACHINE_I386 = 0x14C


def pe_machine(path):
    """The Machine field of a PE image's file header, or None if `path` is not one."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
    except OSError:
        return None
    if len(head) < 0x40 or head[:2] != b"MZ":
        return None
    pe = int.from_bytes(head[0x3C:0x40], "little")
    if pe + 6 > len(head) or head[pe:pe + 4] != b"PE\0\0":
        return None
    return int.from_bytes(head[pe + 4:pe + 6], "little")


def wine32_problem():
    """Why the 32-bit loader cannot run programs here, or None when it can."""
    if not os.path.exists(WINE32):
        return "%s is not installed (Debian package wine32:i386)" % WINE32
    try:
        run = subprocess.run([WINE32, "--version"], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, timeout=60)
    except (OSError, subprocess.TimeoutExpired) as e:
        return "%s --version failed: %s" % (WINE32, e)
    if run.returncode != 0:
        return "%s --version failed (status %d): %s" % (
            WINE32, run.returncode,
            (run.stdout.decode(errors="replace").strip().splitlines() or [""])[0])
    return None


class Scenario:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        build = args.windows_build
        drivers = args.driver_build or build
        self.driver = os.path.join(drivers, "driver", "hwinterface-sim.sys")
        self.helper = os.path.join(drivers, "tests", "wine", "hwi-check.exe")
        self.tool = os.path.join(build, "tool", "lptspi.exe")
        self.scramble = os.path.join(build, "tool", "lptspi-scramble.exe")
        for path, what in ((self.driver, "the simulated-chip driver"),
                           (self.helper, "the harness helper")):
            if not os.path.isfile(path):
                raise Skip("%s is missing: %s (build the windows-x64 preset first)" % (what, path))
        bits = 32 if pe_machine(self.tool) == PE_MACHINE_I386 else 64
        if bits == 32:
            problem = wine32_problem()
            if problem:
                raise Skip("the 32-bit tool cannot run here: %s" % problem)
        log("programs from %s (%d-bit), driver and helper from %s" % (build, bits, drivers))
        self.prefix = None

    def key(self):
        return read_key(self.args.key or key_of_build(self.args.windows_build))

    def need_tool(self):
        if not os.path.isfile(self.tool):
            raise Skip("lptspi.exe is missing: %s" % self.tool)

    def start_prefix(self):
        self.prefix = Prefix(self.args.template, os.path.join(self.work, "prefix"))
        self.prefix.install(self.driver)

    def helper_run(self, *argv, expect_status=0):
        result = self.prefix.run([self.helper] + list(argv))
        out = result.stdout.decode(errors="replace")
        err = result.stderr.decode(errors="replace")
        log("hwi-check %s: status %d, %.2f s" % (" ".join(argv), result.returncode, result.seconds))
        for text in (out, err):
            if text:
                log(text.rstrip("\r\n"))
        if expect_status is not None and result.returncode != expect_status:
            raise Failure("hwi-check %s exited with %d, expected %d" %
                          (" ".join(argv), result.returncode, expect_status))
        return out.replace("\r\n", "\n")

    def expect_service(self, state, binary, *before):
        """The service as hwi-check's query finds it, after its verbs `before`."""
        got = self.helper_run(*before, "query").strip()
        wanted = "%s 1 %s" % (state, binary) if state != "absent" else "absent"
        if got != wanted:
            raise Failure("service is %r, expected %r" % (got, wanted))

    def register(self, start):
        # One run of the helper: each costs a tenth of a second.
        self.expect_service("running" if start else "stopped", SIM_DRIVER, "create", SIM_DRIVER,
                            *(["start"] if start else []))

    def load_chip(self, data):
        path = os.path.join(self.work, "chip-in.bin")
        with open(path, "wb") as f:
            f.write(data)
        self.helper_run("load", windows_path(path))

    def dump_chip(self, size=CHIP_SIZE, board=None):
        """The chip of the first port's board, or of the board of the port at `board`."""
        path = os.path.join(self.work, "chip-out.bin")
        if os.path.exists(path):
            os.remove(path)
        self.helper_run(*(["board", board] if board else []), "dump", windows_path(path))
        with open(path, "rb") as f:
            data = f.read()
        if len(data) != size:
            raise Failure("chip dump holds %d bytes, expected %d" % (len(data), size))
        return data

    def close(self):
        if self.prefix:
            self.prefix.close(self.helper)
            self.prefix = None


def first_difference(a, b):
    for i in range(min(len(a), len(b))):
        if a[i] != b[i]:
            return i
    return min(len(a), len(b))


def compare_chip(got, wanted):
    if got == wanted:
        return
    i = first_difference(got, wanted)
    count = sum(1 for x, y in zip(got, wanted) if x != y)
    raise Failure("chip differs from the expected contents at %d bytes, first at 0x%05x: "
                  "got %s, expected %s" % (count, i, got[i:i + 16].hex(), wanted[i:i + 16].hex()))


def text_mode(transcript):
    return transcript.replace("\n", "\r\n").encode("ascii")


# A progress line into a file or a pipe: the phase padded to 11, the percentage, the rest.
PROGRESS_LINE = re.compile(rb"^(erasing|programming|verifying|reading [123]) +\d+%.*\r\n",
                           re.MULTILINE)
# The time a verdict line ends with, which is the real time here.
VERDICT_TIME = re.compile(rb", \d+\.\d s\)\r\n$")


def without_progress(got):
    """`got` without its progress lines and its verdict's time: "(..., 12.3 s)" becomes "(...)"."""
    return VERDICT_TIME.sub(b")\r\n", PROGRESS_LINE.sub(b"", got))


def sha256_digits(data, count=12):
    return hashlib.sha256(data).hexdigest()[:count]


def compare_output(what, got, transcript):
    wanted = text_mode(transcript)
    if got == wanted:
        return
    i = first_difference(got, wanted)
    raise Failure("%s's standard output differs at byte %d:\n  got      %r\n  expected %r\n"
                  "whole output: %r" % (what, i, got[max(0, i - 20):i + 40],
                                        wanted[max(0, i - 20):i + 40], got))


# lptspi's standard output on the NT family, the driver working and the simulated chip behind
# it: the ECR reads back as an ECP port's, the chip is idle, and erase (10 ms in the simulated
# driver) is over by the first poll, 100 ms after the erase command.
ERASE_LINES = "\rstatus = 00 "


def programming_transcript(pages, located="", erase=ERASE_LINES, named=""):
    """`located`: what lptspi says of a port found away from 0x378, after the system's number;
    `erase`: what the wait for the erase printed; `named`: what lptspi --fast says of the chip."""
    text = ("Opening parallel port LPT1 \n"
            "On windows system 2 \n" + located +
            "setting ECP port to SPP bidirectional mode  \n"
            "serial flash in idle state 0x00\n\n" + named +
            "Bulk erasing flash checking status... \n" + erase +
            "\n done! \n"
            "programming code..\n"
            "%d pages ...\n" % pages)
    text += "".join("\rprogramming at %4d" % n for n in range(pages))
    text += "\ndone, verifying...\n"
    text += "".join("\rpage %d ok" % (n + 1) for n in range(pages))
    text += "\ndone!"
    return text


# What lptspi --fast says of the simulated driver's chip.
FAST_NAMED = "flash M25P80 (20 20 14), 1024 KiB\n"

NO_DRIVER_TRANSCRIPT = ("Opening parallel port LPT1 \n"
                        "On windows system 2 \n"
                        "Failed to start parallel port I/O driver!"
                        "Failed to load parallel port driver! \n"
                        "Game over cant get a handle for the parallel port ! \n")


def read_key(path):
    with open(path, "rb") as f:
        key = f.read()
    if len(key) != CHIP_SIZE:
        raise Failure("key file %s holds %d bytes, expected %d" % (path, len(key), CHIP_SIZE))
    return key


def key_of_build(build):
    """The key the Windows build embedded: its LPTSPI_KEY_FILE."""
    cache = os.path.join(build, "CMakeCache.txt")
    if os.path.isfile(cache):
        with open(cache) as f:
            for line in f:
                if line.startswith("LPTSPI_KEY_FILE:"):
                    return line.split("=", 1)[1].strip()
    return os.path.join(os.path.dirname(__file__), "..", "..", "keys", "default.key")


def xor(data, key):
    """`data` exclusive-or the key's first bytes, as whole numbers: a byte at a time would take a
    second a mebibyte."""
    if not data:
        return b""
    return (int.from_bytes(data, "little") ^
            int.from_bytes(key[:len(data)], "little")).to_bytes(len(data), "little")


def expected_chip(raw, key, size=CHIP_SIZE):
    """What lptspi leaves in a chip of `size` bytes: the image rounded up to whole pages with
    zeros, then descrambled (so the padding holds key bytes), and the rest erased."""
    pages = (len(raw) + PAGE - 1) // PAGE
    padded_len = pages * PAGE
    programmed = raw + bytes(key[len(raw):padded_len])
    return programmed + b"\xff" * (size - padded_len)


def make_image(scenario, raw, key):
    """Scrambles `raw` into image.bin; with lptspi-scramble.exe at hand, through it, checked
    against the harness's own exclusive-or."""
    image = xor(raw, key)
    raw_path = os.path.join(scenario.work, "firmware.bin")
    image_path = os.path.join(scenario.work, "image.bin")
    with open(raw_path, "wb") as f:
        f.write(raw)
    # lptspi-scramble refuses an empty input: an empty image is an empty file.
    if os.path.isfile(scenario.scramble) and raw:
        result = scenario.prefix.run([scenario.scramble, "firmware.bin", "image.bin"],
                                     cwd=scenario.work)
        if result.returncode != 0:
            raise Failure("lptspi-scramble exited with %d: %s" %
                          (result.returncode, result.stderr.decode(errors="replace")))
        with open(image_path, "rb") as f:
            made = f.read()
        if made != image:
            raise Failure("lptspi-scramble's image differs from the key's exclusive-or at byte "
                          "%d" % first_difference(made, image))
        log("lptspi-scramble made the image (%.2f s)" % result.seconds)
    else:
        with open(image_path, "wb") as f:
            f.write(image)
    return "image.bin"


def run_tool(scenario, image):
    result = scenario.prefix.run([scenario.tool, image], cwd=scenario.work)
    log("lptspi %s: status %d, %.2f s, %d bytes of output" %
        (image, result.returncode, result.seconds, len(result.stdout)))
    if result.stderr:
        log("lptspi standard error: %r" % result.stderr)
    return result


def program(scenario, raw, key, located=""):
    """lptspi writes `raw` scrambled with `key`; checks the transcript and the exit status."""
    image = make_image(scenario, raw, key)
    result = run_tool(scenario, image)
    pages = (len(raw) + PAGE - 1) // PAGE
    compare_output("lptspi", result.stdout, programming_transcript(pages, located))
    if result.returncode != 0:
        raise Failure("lptspi exited with %d, expected 0" % result.returncode)


def programming_run(scenario, size, started, seed):
    """Programs a `size`-byte image with the driver registered (and `started` or not) and checks
    the transcript, the exit status and the chip."""
    scenario.need_tool()
    key = scenario.key()
    rng = random.Random(seed)
    raw = rng.randbytes(size)
    scenario.start_prefix()
    scenario.register(start=started)
    if started:
        # Old contents: only a bulk erase before programming gives the expected chip.
        scenario.load_chip(rng.randbytes(CHIP_SIZE))
    program(scenario, raw, key)
    scenario.expect_service("running", SIM_DRIVER)
    compare_chip(scenario.dump_chip(), expected_chip(raw, key))


def scenario_driver_running(s):
    """The driver registered with an absolute path and started by the harness; a 3-page image
    whose last page is partial, over a chip holding old contents."""
    programming_run(s, 600, started=True, seed=1)


def scenario_driver_stopped(s):
    """The driver registered but stopped: lptspi starts it itself."""
    programming_run(s, 200, started=False, seed=2)


def scenario_one_page(s):
    """Exactly one full page."""
    programming_run(s, PAGE, started=True, seed=3)


def scenario_empty_image(s):
    """An empty image: the chip is erased and nothing programmed."""
    programming_run(s, 0, started=True, seed=4)


def scenario_card(s):
    """LPT1 on a PCI card: the simulated port moved to 0xD010 with its ECP block at 0xD000, as the
    system would describe a card's; lptspi programs a 3-page image there, over old contents,
    saying where it found the port."""
    s.need_tool()
    key = s.key()
    rng = random.Random(8)
    raw = rng.randbytes(600)
    s.start_prefix()
    s.register(start=True)
    s.load_chip(rng.randbytes(CHIP_SIZE))
    s.helper_run("place", "0xd010", "0xd000")
    program(s, raw, key, located="LPT1 at 0xd010, ECP at 0xd000 \n")
    s.expect_service("running", SIM_DRIVER)
    compare_chip(s.dump_chip(), expected_chip(raw, key))


def scenario_never_registered(s):
    """No service: lptspi registers it with the relative binary path, which Wine 8 does not
    resolve, so the start fails and lptspi gives up."""
    s.need_tool()
    s.start_prefix()
    s.expect_service("absent", None)
    with open(os.path.join(s.work, "image.bin"), "wb") as f:
        f.write(bytes(range(256)))
    result = run_tool(s, "image.bin")
    compare_output("lptspi", result.stdout, NO_DRIVER_TRANSCRIPT)
    if result.returncode != 1:
        raise Failure("lptspi exited with %d, expected 1" % result.returncode)
    s.expect_service("stopped", TOOL_SERVICE_BINARY)


def scenario_driver_requests(s):
    """The driver alone: it serves the parallel port's registers only (a read of 0x70 and a write
    of 0xCF9 are refused with ERROR_ACCESS_DENIED while the control register still reads back;
    checked first, with the ECR at its power-up value), both port requests and their refusals,
    one read-identification command through the port, bit by bit, to the simulated chip, and
    LPT1."""
    s.start_prefix()
    s.register(start=True)
    s.helper_run("ports")
    s.helper_run("requests")
    out = s.helper_run("read-id")
    if not out.startswith("202014\n"):
        raise Failure("read identification gave %r, expected 202014" % out)
    s.helper_run("lpt1")


def scenario_driver_reload(s):
    """Test-only chip requests, then unload and load again: the device and its link go away
    with the driver and come back with it, and the chip starts erased again."""
    s.start_prefix()
    s.register(start=True)
    rng = random.Random(5)
    pattern = rng.randbytes(CHIP_SIZE)
    s.load_chip(pattern)
    compare_chip(s.dump_chip(), pattern)
    s.helper_run("stop")
    s.expect_service("stopped", SIM_DRIVER)
    s.helper_run("read-id", expect_status=1)  # \\.\hwinterface is gone
    s.helper_run("start")
    s.expect_service("running", SIM_DRIVER)
    compare_chip(s.dump_chip(), b"\xff" * CHIP_SIZE)
    s.helper_run("requests")


def scenario_fast_full(s):
    """lptspi --fast, the largest image: 4095 pages of random bytes over a chip holding old random
    contents, page 2000 blank (the fast run skips it: the erase must have cleared it)."""
    s.need_tool()
    key = s.key()
    rng = random.Random(9)
    pages = CHIP_SIZE // PAGE - 1
    raw = bytearray(rng.randbytes(pages * PAGE))
    raw[2000 * PAGE:2001 * PAGE] = b"\xff" * PAGE
    raw = bytes(raw)
    s.start_prefix()
    s.register(start=True)
    # The driver's chip keeps the PC's time: 4095 page programs of 1.4 ms would be 6 s of waits
    # that show nothing here. Its page program is cut to 0.1 ms, its erase to 10 ms as at load.
    s.helper_run("choose", "m25p80", "-", "typical", "100", "10000")
    s.load_chip(rng.randbytes(CHIP_SIZE))
    image = make_image(s, raw, key)
    result = s.prefix.run([s.tool, "--fast", image], cwd=s.work)
    log("lptspi --fast %s: status %d, %.2f s, %d bytes of output" %
        (image, result.returncode, result.seconds, len(result.stdout)))
    # The progress lines tell the real time, so they are left out; the verdict names the chip,
    # the image and the firmware's digest.
    compare_output("lptspi --fast", without_progress(result.stdout),
                   "Opening parallel port LPT1 \n"
                   "On windows system 2 \n"
                   "setting ECP port to SPP bidirectional mode  \n"
                   "serial flash in idle state 0x00\n\n" + FAST_NAMED +
                   "Bulk erasing flash checking status... \n"
                   "programming code..\n"
                   "%d pages ...\n"
                   "PASS: M25P80 holds %s (%d pages, firmware sha256 %s...)\n"
                   % (pages, image, pages, sha256_digits(raw)))
    if result.returncode != 0:
        raise Failure("lptspi exited with %d, expected 0" % result.returncode)
    compare_chip(s.dump_chip(), expected_chip(raw, key))


def scenario_backup(s):
    """lptspi-backup.exe reads a whole 1 MiB chip on the fast link, 4 KiB a driver request: old
    contents of known data, random up to page 4093 with page 1000 blank, and the last two pages
    blank; the file holds the pages up to the last one in use, scrambled, and the chip is left
    as it was."""
    backup = os.path.join(os.path.dirname(s.tool), "lptspi-backup.exe")
    if not os.path.isfile(backup):
        raise Skip("lptspi-backup.exe is missing: %s" % backup)
    key = s.key()
    rng = random.Random(6)
    used = CHIP_SIZE // PAGE - 2
    chip = bytearray(rng.randbytes(used * PAGE))
    chip[1000 * PAGE:1001 * PAGE] = b"\xff" * PAGE
    chip = bytes(chip) + b"\xff" * (CHIP_SIZE - used * PAGE)
    s.start_prefix()
    s.register(start=True)
    s.load_chip(chip)

    result = s.prefix.run([backup, "backup.bin"], cwd=s.work)
    log("lptspi-backup: status %d, %.2f s" % (result.returncode, result.seconds))
    compare_output("lptspi-backup", without_progress(result.stdout),
                   "Opening parallel port LPT1 \n"
                   "On windows system 2 \n"
                   "setting ECP port to SPP bidirectional mode  \n"
                   "serial flash in idle state 0x00\n\n"
                   "flash M25P80 (20 20 14), 1024 KiB\n"
                   "reading 4096 pages twice...\n"
                   "both reads agree\n"
                   "%d pages saved to backup.bin\n"
                   "%s  backup.bin\n"
                   "%s  (the firmware in it)\n"
                   "PASS: M25P80 saved to backup.bin (firmware sha256 %s...)\n"
                   % (used, hashlib.sha256(xor(chip[:used * PAGE], key)).hexdigest(),
                      hashlib.sha256(chip[:used * PAGE]).hexdigest(),
                      sha256_digits(chip[:used * PAGE])))
    if result.returncode != 0:
        raise Failure("lptspi-backup exited with %d, expected 0" % result.returncode)
    with open(os.path.join(s.work, "backup.bin"), "rb") as f:
        saved = f.read()
    compare_chip(saved, xor(chip[:used * PAGE], key))
    compare_chip(s.dump_chip(), chip)


def scenario_check(s):
    """lptspi-check.exe with the simulated-chip driver running and a chip of old contents: ready
    (exit 0), the identification and size found, the chip left as it was."""
    check = os.path.join(os.path.dirname(s.tool), "lptspi-check.exe")
    if not os.path.isfile(check):
        raise Skip("lptspi-check.exe is missing: %s" % check)
    s.start_prefix()
    s.register(start=True)
    chip = random.Random(10).randbytes(CHIP_SIZE)
    s.load_chip(chip)
    result = s.prefix.run([check], cwd=s.work)
    log("lptspi-check: status %d, %.2f s" % (result.returncode, result.seconds))
    for line in ("flash: id 20 20 14, the same three times: ST/Micron (20) M25P80, 1024 KiB\n",
                 "reads: the first 64 KiB read three times, all alike\n",
                 "result: everything lptspi needs was found\n"):
        if text_mode(line) not in result.stdout:
            raise Failure("lptspi-check did not print %r: %r" % (line, result.stdout))
    if result.returncode != 0:
        raise Failure("lptspi-check exited with %d, expected 0" % result.returncode)
    compare_chip(s.dump_chip(), chip)


def scenario_scramble_read_only(s):
    """lptspi-scramble.exe and an OUT that is a symbolic link to a file marked read-only with
    attrib +r: refused, the file kept; once writable again, the file the link names is replaced
    and the link stays a link (the move alone would put a plain file in the link's place)."""
    if not os.path.isfile(s.scramble):
        raise Skip("lptspi-scramble.exe is missing: %s" % s.scramble)
    raw, old = bytes(range(256)) * 3, b"old image"
    s.start_prefix()
    out = os.path.join(s.work, "out.img")
    for name, data in (("firmware.bin", raw), ("out.img", old)):
        with open(os.path.join(s.work, name), "wb") as f:
            f.write(data)
    os.symlink("out.img", os.path.join(s.work, "link.img"))
    for flag, err, status, contents in (
            ("+r", "lptspi-scramble: cannot replace link.img: the file is read-only\n", 1, old),
            ("-r", "", 0, xor(raw, s.key()))):
        s.prefix.run(["attrib", flag, "out.img"], cwd=s.work)
        result = s.prefix.run([s.scramble, "firmware.bin", "link.img"], cwd=s.work)
        compare_output("lptspi-scramble (standard error)", result.stderr, err)
        if result.returncode != status:
            raise Failure("lptspi-scramble exited with %d, expected %d" %
                          (result.returncode, status))
        with open(out, "rb") as f:
            if f.read() != contents or not os.path.islink(os.path.join(s.work, "link.img")):
                raise Failure("after attrib %s: out.img or link.img is not as expected" % flag)


SCENARIOS = {  # and those of families.py and station.py, see scenarios()
    "driver-requests": scenario_driver_requests,
    "driver-reload": scenario_driver_reload,
    "driver-running": scenario_driver_running,
    "driver-stopped": scenario_driver_stopped,
    "never-registered": scenario_never_registered,
    "card": scenario_card,
    "one-page": scenario_one_page,
    "empty-image": scenario_empty_image,
    "backup": scenario_backup,
    "check": scenario_check,
    "fast-full": scenario_fast_full,
    "scramble-read-only": scenario_scramble_read_only,
}


def scenarios():
    """Every scenario: this file's, and those of the files beside it, which use its helpers."""
    import families
    import station
    table = dict(SCENARIOS)
    table.update(families.SCENARIOS)
    table.update(station.SCENARIOS)
    return table


def run_scenario(args):
    work = args.work or tempfile.mkdtemp(prefix="lptspi-wine-%s-" % args.scenario)
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(work)
    started = time.monotonic()
    scenario = None
    try:
        scenario = Scenario(args, work)
        scenarios()[args.scenario](scenario)
        status = 0
        log("PASS %s" % args.scenario)
    except Skip as e:
        log("SKIP %s: %s" % (args.scenario, e))
        status = SKIP
    except (Failure, subprocess.TimeoutExpired) as e:
        log("FAIL %s: %s" % (args.scenario, e))
        status = 1
    finally:
        if scenario:
            scenario.close()
    if status == 0 or status == SKIP:
        shutil.rmtree(work, ignore_errors=True)
    else:
        log("work files kept in %s (wine.log: what Wine's system processes and the driver hosts "
            "printed; LPTSPI_WINEDEBUG=+ntoskrnl adds Wine's driver traces)" % work)
    log("%s took %.1f s" % (args.scenario, time.monotonic() - started))
    return status


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=["prefix", "run", "remove", "list"])
    parser.add_argument("scenario", nargs="?", choices=sorted(scenarios()))
    parser.add_argument("--template", help="template prefix directory")
    parser.add_argument("--windows-build", help="the Windows build whose programs run "
                        "(windows-x64 or windows-x86)")
    parser.add_argument("--driver-build", help="the windows-x64 build with hwinterface-sim.sys "
                        "and hwi-check.exe (default: --windows-build)")
    parser.add_argument("--key", help="key file the Windows build embedded (default: its "
                        "LPTSPI_KEY_FILE)")
    parser.add_argument("--work", help="scenario work directory (default: a new temporary one)")
    parser.add_argument("--host-build", help="the host build whose programs on the simulated PC "
                        "the runs of families.py and station.py are compared with (lptspi-sim, "
                        "lptspi-check-sim, lptspi-backup-sim)")
    args = parser.parse_args()

    if args.command == "list":
        for name, function in sorted(scenarios().items()):
            print("%-18s %s" % (name, " ".join(function.__doc__.split())))
        return 0
    if not args.template:
        parser.error("--template is required")
    args.template = os.path.abspath(args.template)
    if not os.path.exists(WINE64):
        log("SKIP: %s is not installed" % WINE64)
        return SKIP
    if args.command == "prefix":
        drivers = args.driver_build or args.windows_build
        driver = os.path.join(drivers or "", "driver", "hwinterface-sim.sys")
        if drivers and not os.path.isfile(driver):
            log("SKIP prefix: %s is missing (build the windows-x64 preset first)" % driver)
            return SKIP
        try:
            make_template(args.template)
        except (Failure, subprocess.TimeoutExpired) as e:
            log("FAIL prefix: %s" % e)
            return 1
        return 0
    if args.command == "remove":
        subprocess.run([WINESERVER, "-k"], env=wine_env(args.template), timeout=60)
        shutil.rmtree(args.template, ignore_errors=True)
        return 0
    if not args.scenario or not args.windows_build:
        parser.error("run needs a scenario and --windows-build")
    args.windows_build = os.path.abspath(args.windows_build)
    if args.driver_build:
        args.driver_build = os.path.abspath(args.driver_build)
    if args.work:
        args.work = os.path.abspath(args.work)
    if args.host_build:
        args.host_build = os.path.abspath(args.host_build)
    return run_scenario(args)


if __name__ == "__main__":
    # The scenario files import this file as wine_harness: run that one copy of it, so that the
    # exceptions they raise are the ones run_scenario catches.
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import wine_harness
    sys.exit(wine_harness.main())
