"""The flash families under Wine, scenarios of wine_harness.py: each Windows program's run on a
chip the simulated-chip driver was asked for, compared byte for byte with the host build's run on
the simulated PC with the equivalent LPTSPI_SIM_* settings and the same old contents, and the chip
read back from both."""

import os
import random
import re
import shutil
import subprocess

import wine_harness as h


class Chip:
    """A board's chip as both simulated PCs choose it: the driver's choose request (hwi-check
    choose) and the host's LPTSPI_SIM_* settings. `status` None: the family's at power-up; the
    times None: the family's at `corner`; `erase_ms` a cut, in both."""

    def __init__(self, family, size, status=None, corner="typical", erase_ms=None):
        self.family = family
        self.size = size
        self.status = status
        self.corner = corner
        self.erase_ms = erase_ms

    def choose(self):
        """hwi-check's verb and its arguments."""
        return ["choose", self.family, "-" if self.status is None else "0x%02x" % self.status,
                self.corner, "-", "-" if self.erase_ms is None else str(self.erase_ms * 1000)]

    def settings(self, powered_up):
        """The host's settings; the starting status only for the first run (`powered_up`), the
        chip file keeping the chip's state after it as the driver keeps its chip."""
        values = {"LPTSPI_SIM_FLASH": self.family, "LPTSPI_SIM_TIMING": self.corner}
        if self.erase_ms is not None:
            values["LPTSPI_SIM_ERASE_MS"] = str(self.erase_ms)
        if powered_up and self.status is not None:
            values["LPTSPI_SIM_STATUS"] = "0x%02x" % self.status
        return values

    def board(self):
        """The chip as an entry of LPTSPI_SIM_BOARDS."""
        values = self.settings(True)
        entry = values.pop("LPTSPI_SIM_FLASH")
        for name, value in sorted(values.items()):
            entry += ":%s=%s" % (name[len("LPTSPI_SIM_"):].lower(), value)
        return entry


def host_program(build, program):
    path = os.path.join(build or "", "tool", program + "-sim")
    if not build or not os.path.isfile(path):
        raise h.Skip("%s is missing (give --host-build, the default preset's build)" % path)
    return path


def run_on_host(build, program, argv, folder, settings):
    """`program` of the host build (lptspi, lptspi-check, lptspi-backup: their -sim builds) in
    `folder`, with `settings` and no other LPTSPI_SIM_* variable."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("LPTSPI_SIM_")}
    env.update(settings)
    return subprocess.run([host_program(build, program)] + argv, cwd=folder, env=env,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)


class HostPC:
    """The host build's simulated PC beside the prefix, in the work folder's host/: the same
    programs on a chip file holding the same old contents."""

    def __init__(self, s, chip, contents):
        self.build = s.args.host_build
        self.work = s.work
        self.folder = os.path.join(s.work, "host")
        os.makedirs(self.folder)
        self.chip = chip
        self.chip_path = os.path.join(self.folder, "chip.bin")
        with open(self.chip_path, "wb") as f:
            f.write(contents)
        self.runs = 0

    def share(self, name):
        """The work folder's file `name` (an image) copied beside the host's programs."""
        shutil.copyfile(os.path.join(self.work, name), os.path.join(self.folder, name))

    def run(self, program, argv):
        settings = self.chip.settings(self.runs == 0)
        settings["LPTSPI_SIM_CHIP"] = self.chip_path
        self.runs += 1
        return run_on_host(self.build, program, argv, self.folder, settings)

    def contents(self):
        with open(self.chip_path, "rb") as f:
            return f.read()


# Lines about the PC rather than the chip: the Windows version (Wine's is not the host's), whether
# the system describes LPT1 to the driver (the host's simulated system does; under Wine the driver
# takes the usual place), and what a port access costs (0.2 ms a driver request under Wine, 1 us
# on the host's virtual clock).
PC_LINES = re.compile(rb"^(platform: |port: LPT\d's registers |speed: ).*\r\n", re.MULTILINE)
# A verdict's time, "(..., 0.3 s)", which tells real time under Wine and virtual time on the host.
VERDICT_TIMES = re.compile(rb", \d+\.\d s\)(?=\r\n)")


def comparable(out):
    """A transcript without its progress lines, its verdicts' times and its lines about the PC."""
    return PC_LINES.sub(b"", VERDICT_TIMES.sub(b")", h.PROGRESS_LINE.sub(b"", out)))


def compare_with_host(what, wine, host):
    """Wine's standard output against the host build's, whose line feeds the Windows C runtime
    would have written as carriage return and line feed."""
    got = comparable(wine)
    wanted = comparable(host.replace(b"\n", b"\r\n"))
    if got == wanted:
        return
    i = h.first_difference(got, wanted)
    raise h.Failure("%s under Wine differs from the host build's at byte %d:\n  Wine %r\n"
                    "  host %r\nWine's whole output: %r\nthe host's: %r" %
                    (what, i, got[max(0, i - 40):i + 60], wanted[max(0, i - 40):i + 60], wine,
                     host))


def both(s, host, program, argv, status):
    """`program` with `argv` under Wine and on the host: the same transcript, both ending with
    `status`. Returns Wine's result."""
    what = " ".join([program] + argv)
    exe = os.path.join(os.path.dirname(s.tool), program + ".exe")
    if not os.path.isfile(exe):
        raise h.Skip("%s is missing" % exe)
    wine = s.prefix.run([exe] + argv, cwd=s.work)
    h.log("%s: status %d, %.2f s" % (what, wine.returncode, wine.seconds))
    native = host.run(program, argv)
    compare_with_host(what, wine.stdout, native.stdout)
    for where, result in (("under Wine", wine), ("on the host", native)):
        if result.returncode != status:
            raise h.Failure("%s exited with %d %s, expected %d (standard error %r)" %
                            (what, result.returncode, where, status, result.stderr))
    return wine


def family_image(rng):
    """Five and a half pages: a blank third page (the fast run skips it, and an SST25's word
    sequence ends before it and starts again after it) and a last page cut short."""
    raw = bytearray(rng.randbytes(5 * h.PAGE + h.PAGE // 2))
    raw[2 * h.PAGE:3 * h.PAGE] = b"\xff" * h.PAGE
    return bytes(raw)


def family_runs(s, chip, seed, check_status, backup=False):
    """On `chip` holding old contents, under Wine and on the host alike: lptspi-check (exit
    `check_status`), with `backup` lptspi-backup of the whole chip, then lptspi --fast; the chip
    then holds the image and nothing else, on both."""
    s.need_tool()
    host_program(s.args.host_build, "lptspi")
    key = s.key()
    rng = random.Random(seed)
    # Old contents up to the page before the last a backup keeps (an image holds at most 4095
    # pages), the rest erased: the backup saves the pages up to the last one in use.
    used = min(chip.size // h.PAGE, 4095) - 1
    old = rng.randbytes(used * h.PAGE) + b"\xff" * (chip.size - used * h.PAGE)
    raw = family_image(rng)
    s.start_prefix()
    s.register(start=True)
    path = os.path.join(s.work, "chip-in.bin")
    with open(path, "wb") as f:
        f.write(old)
    s.helper_run(*chip.choose(), "load", h.windows_path(path))
    host = HostPC(s, chip, old)
    image = h.make_image(s, raw, key)
    host.share(image)

    both(s, host, "lptspi-check", [], check_status)
    if backup:
        both(s, host, "lptspi-backup", ["backup.bin"], 0)
        for where in (s.work, host.folder):
            with open(os.path.join(where, "backup.bin"), "rb") as f:
                h.compare_chip(f.read(), h.xor(old[:used * h.PAGE], key))
    both(s, host, "lptspi", ["--fast", image], 0)
    wanted = h.expected_chip(raw, key, chip.size)
    h.compare_chip(s.dump_chip(chip.size), wanted)
    h.compare_chip(host.contents(), wanted)


def scenario_sst25_words(s):
    """An SST25VF080B protected as at power-up (status 0x1c): lptspi-check finds the protection and
    the byte programs; lptspi --fast clears it by enable-write-status and writes the image in
    auto-address-increment words, each sequence ended by write disable."""
    family_runs(s, Chip("sst25vf080b", 1 << 20), seed=21, check_status=2)


def scenario_sst26_locks(s):
    """An SST26VF016B, 2 MiB, its blocks locked as at power-up: lptspi-check reads the
    block-protection register, lptspi-backup saves the whole old contents, lptspi --fast unlocks
    the blocks by the global unlock and writes the image."""
    family_runs(s, Chip("sst26vf016b", 2 << 20), seed=22, check_status=2, backup=True)


def scenario_at25df_sprl(s):
    """An AT25DF081A from status 0x8c, every sector protected and the protection locked (SPRL),
    its erase cut to 10 ms: lptspi-check names both; lptspi --fast lifts them with the global
    unprotect, its two status writes."""
    family_runs(s, Chip("at25df081a", 1 << 20, status=0x8C, erase_ms=10), seed=23,
                check_status=2)


def scenario_max_times(s):
    """A W25Q80 protected (status 0x1c) at its datasheet's maximum times, none cut: its status
    write, its 6 s bulk erase and its page programs all take their longest, and lptspi --fast waits
    them out on the Windows clocks."""
    family_runs(s, Chip("w25q80", 1 << 20, status=0x1C, corner="max"), seed=24, check_status=2)


SCENARIOS = {
    "sst25-words": scenario_sst25_words,
    "sst26-locks": scenario_sst26_locks,
    "at25df-sprl": scenario_at25df_sprl,
    "max-times": scenario_max_times,
}
