"""lptspi --station under Wine, scenarios of wine_harness.py. The harness is the operator: it
watches what each station prints and, through the simulated-chip driver's requests, puts a board
on the cable when the station waits for one, takes it away when the station asks, and presses
Ctrl-C once the last board is gone. Every step follows a line the station printed before it
polled again, so nothing rests on timing. Transcripts are compared with the host build's station
(LPTSPI_SIM_BOARDS, whose operator does the same), the log field by field."""

import csv
import datetime
import io
import os
import random
import re
import signal
import subprocess
import time

import families
import wine_harness as h

WAITING = b"waiting for a board on LPT%d (Ctrl-C ends)\r\n"
REMOVE = b"remove the board\r\n"
LOG_HEADER = (b"time,computer,port,board,chip,id,image,sha256,pages,seconds,result,reason,serial,"
              b"kept\r\n")
BASES = {1: 0x378, 2: 0x278}
TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")


class Station:
    """`lptspi --port LPTn --station --log LOG IMAGE` in the prefix, and its operator, who puts
    `boards` (each a Chip and its old contents) on the cable one after another."""

    def __init__(self, s, port, boards, log, image):
        self.s = s
        self.port = port
        self.base = "0x%x" % BASES[port]
        self.boards = boards
        self.argv = ["--port", "LPT%d" % port, "--station", "--log", log, image]
        self.events = 0  # lines acted on: each WAITING and REMOVE, in order
        self.placed = 0
        self.left = []  # each board's chip as it was taken away
        self.interrupted = False
        self.out_path = os.path.join(s.work, "station-lpt%d.out" % port)
        self.err_path = os.path.join(s.work, "station-lpt%d.err" % port)
        s.helper_run("board", self.base, "cable", "off")  # the cable empty to begin with
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.process = subprocess.Popen([h.WINE64, s.tool] + self.argv, env=s.prefix.env,
                                            cwd=s.work, stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=err)
        self.started = time.time()
        self.ended = None

    def output(self):
        with open(self.out_path, "rb") as f:
            return f.read()

    def step(self):
        """Acts on the lines printed since the last step; True once the station has ended."""
        out = self.output()
        lines = [m.group(0) for m in re.finditer(re.escape(WAITING % self.port) + b"|" +
                                                  re.escape(REMOVE), out)]
        for line in lines[self.events:]:
            self.events += 1
            if line == REMOVE:
                self.s.helper_run("board", self.base, "cable", "off")
                continue
            if self.placed > 0:
                self.left.append(self.s.dump_chip(self.boards[self.placed - 1][0].size,
                                              board=self.base))
            if self.placed < len(self.boards):
                self.put_on(*self.boards[self.placed])
                self.placed += 1
            elif not self.interrupted:
                self.interrupt()
        if self.process.poll() is None:
            return False
        if self.ended is None:
            self.ended = time.time()
        return True

    def put_on(self, chip, contents):
        path = os.path.join(self.s.work, "board-lpt%d-%d.bin" % (self.port, self.placed + 1))
        with open(path, "wb") as f:
            f.write(contents)
        self.s.helper_run("board", self.base, *chip.choose(), "load", h.windows_path(path),
                          "cable", "on")

    def interrupt(self):
        """Ctrl-C: SIGINT to the program's own process, which Wine hands to its console control
        handler. wine64 runs a 64-bit program in the process it started, but hands a 32-bit one
        to a process of Wine's 32-bit loader: found by its command line in this prefix."""
        wanted = ("WINEPREFIX=" + self.s.prefix.path).encode()
        for pid in (p for p in os.listdir("/proc") if p.isdigit()):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    argv = f.read().split(b"\0")
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            name = re.split(rb"[/\\]", argv[0])[-1].lower()
            if (name == b"lptspi.exe" and wanted in environ and
                    [a.encode() for a in self.argv] == argv[1:len(self.argv) + 1]):
                os.kill(int(pid), signal.SIGINT)
                self.interrupted = True
                return
        raise h.Failure("LPT%d's station is not running in the prefix" % self.port)

    def end(self, status, seconds):
        """Waits for the end; checks the exit status."""
        started = time.monotonic()
        while not self.step():
            if time.monotonic() - started > seconds:
                self.process.kill()
                raise h.Failure("LPT%d's station still runs after %d s: %r" %
                                (self.port, seconds, self.output()))
            time.sleep(0.05)
        h.log("station on LPT%d: status %d, %.1f s" %
              (self.port, self.process.returncode, self.ended - self.started))
        if self.process.returncode != status:
            raise h.Failure("LPT%d's station exited with %d, expected %d: %r" %
                            (self.port, self.process.returncode, status, self.output()))


def run_stations(stations, seconds=120):
    """Lets the operator serve every station until each has ended."""
    started = time.monotonic()
    while not all([station.step() for station in stations]):
        if time.monotonic() - started > seconds:
            for station in stations:
                station.process.kill()
            raise h.Failure("the stations still run after %d s: %r" %
                            (seconds, [station.output() for station in stations]))
        time.sleep(0.05)


def host_station(s, port, boards, image, folder):
    """The host build's station with the same boards, its operator LPTSPI_SIM_BOARDS's, on a PC
    whose port is LPTn where the driver has it. Returns its result, its log and each board's
    chip as it was taken away."""
    os.makedirs(folder)
    chip = os.path.join(folder, "chip.bin")
    for n, (_, contents) in enumerate(boards, 1):
        with open("%s.%d" % (chip, n), "wb") as f:
            f.write(contents)
    os.link(os.path.join(s.work, image), os.path.join(folder, image))
    settings = {"LPTSPI_SIM_CHIP": chip,
                "LPTSPI_SIM_BOARDS": ",".join(c.board() for c, _ in boards) + ",end"}
    if port != 1:
        settings["LPTSPI_SIM_PORT"] = "LPT%d:0x%x,0x%x" % (port, BASES[port], BASES[port] + 0x400)
    result = families.run_on_host(s.args.host_build, "lptspi",
                                  ["--port", "LPT%d" % port, "--station", "--log", "log.csv",
                                   image], folder, settings)
    left = []
    for n in range(1, len(boards) + 1):
        with open("%s.%d" % (chip, n), "rb") as f:
            left.append(f.read())
    return result, read_log(os.path.join(folder, "log.csv")), left


def wine_computer_name(prefix):
    """What GetComputerNameA answers in `prefix`: the name wineboot gave the PC from the host's
    (its first label, in capitals), as the prefix's registry keeps it."""
    with open(os.path.join(prefix, "system.reg"), encoding="utf-8", errors="replace") as f:
        text = f.read()
    found = re.search(r'^\[System\\\\CurrentControlSet\\\\Control\\\\ComputerName\\\\ComputerName\]'
                      r'[^\[]*?^"ComputerName"="([^"]*)"', text, re.MULTILINE)
    if not found:
        raise h.Failure("no computer name in %s/system.reg" % prefix)
    return found.group(1)


def read_log(path):
    """The log's rows (lists of fields) after checking that it is one header and whole rows,
    each ended by CR LF."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(LOG_HEADER) or data.count(LOG_HEADER) != 1:
        raise h.Failure("%s does not start with the one header: %r" % (path, data))
    rows = list(csv.reader(io.StringIO(data[len(LOG_HEADER):].decode(), newline="")))
    if not data.endswith(b"\r\n") or data.count(b"\r\n") != len(rows) + 1 or \
            any(len(row) != 14 for row in rows):
        raise h.Failure("%s is not whole rows of 14 fields, each ended by CR LF: %r" %
                        (path, data))
    return rows


def check_row(row, host_row, station, number):
    """A row of Wine's log, field by field: the time within the station's run, the PC's name, the
    port, the board's number; chip, identification, image, digest, pages, result and reason as
    the host's station logged them; the board's seconds a tenth within the run."""
    what = "LPT%d's board %d" % (station.port, number)
    try:
        when = datetime.datetime.strptime(row[0], "%Y-%m-%dT%H:%M:%S%z")
    except ValueError:
        when = None
    # Wine's time zone is the host's: the offset is the one local time has here then.
    if not TIME.match(row[0]) or when is None or \
            not station.started - 2 <= when.timestamp() <= station.ended + 2 or \
            when.utcoffset() != datetime.datetime.fromtimestamp(when.timestamp()).astimezone() \
            .utcoffset():
        raise h.Failure("%s: time %r is not local time with its offset during the station's run "
                        "(%s to %s)" % (what, row[0], time.ctime(station.started),
                                        time.ctime(station.ended)))
    seconds = re.match(r"^\d+\.\d$", row[9])
    expected = [wine_computer_name(station.s.prefix.path), "LPT%d" % station.port,
                str(number)] + host_row[4:9]
    if row[1:4] + row[4:9] != expected or not seconds or \
            float(row[9]) > station.ended - station.started or row[10:] != host_row[10:]:
        raise h.Failure("%s: row %r, expected %r with seconds of the run and %r" %
                        (what, row, expected, host_row[10:]))


def check_station(s, station, image, log_rows):
    """LPTn's transcript and boards against the host's station, its rows of `log_rows` field by
    field."""
    host, host_rows, host_left = host_station(s, station.port, station.boards, image,
                                              os.path.join(s.work, "host-lpt%d" % station.port))
    families.compare_with_host("lptspi " + " ".join(station.argv), station.output(), host.stdout)
    if host.returncode != station.process.returncode:
        raise h.Failure("the host's station exited with %d, Wine's with %d" %
                        (host.returncode, station.process.returncode))
    rows = [row for row in log_rows if row[2] == "LPT%d" % station.port]
    if len(rows) != len(station.boards) or len(host_rows) != len(station.boards):
        raise h.Failure("LPT%d logged %d boards under Wine, %d on the host, expected %d" %
                        (station.port, len(rows), len(host_rows), len(station.boards)))
    for number, (row, host_row) in enumerate(zip(rows, host_rows), 1):
        check_row(row, host_row, station, number)
    for number, (left, host_left) in enumerate(zip(station.left, host_left), 1):
        h.compare_chip(left, host_left)
    return rows


def station_image(s, seed):
    s.need_tool()
    families.host_program(s.args.host_build, "lptspi")
    rng = random.Random(seed)
    raw = rng.randbytes(3 * h.PAGE - 40)
    s.start_prefix()
    s.register(start=True)
    return rng, raw, h.make_image(s, raw, s.key())


def scenario_station(s):
    """Two boards in a row on LPT1: a protected SST25VF080B, written; then an SST26VF016B whose
    bulk erase never ends, given up after twice its longest and logged as failed. Ctrl-C then
    ends the station with its summary, exit 2."""
    rng, raw, image = station_image(s, 31)
    boards = [(families.Chip("sst25vf080b", 1 << 20), rng.randbytes(1 << 20)),
              (families.Chip("sst26vf016b", 2 << 20, erase_ms=600000), rng.randbytes(2 << 20))]
    station = Station(s, 1, boards, "log.csv", image)
    station.end(2, 120)
    check_station(s, station, image, read_log(os.path.join(s.work, "log.csv")))
    h.compare_chip(station.left[0], h.expected_chip(raw, s.key()))


def scenario_station_pair(s):
    """Two stations side by side, on LPT1 and LPT2, each its two boards put on at once, one log:
    one header, and each row whole, through LockFileEx."""
    rng, raw, image = station_image(s, 32)
    s.prefix.link_port(2)
    lpt1 = [(families.Chip("m25p80", 1 << 20, erase_ms=10), rng.randbytes(1 << 20)),
            (families.Chip("at25df081a", 1 << 20, erase_ms=10), rng.randbytes(1 << 20))]
    lpt2 = [(families.Chip("sst25vf080b", 1 << 20), rng.randbytes(1 << 20)),
            (families.Chip("sst26vf016b", 2 << 20), rng.randbytes(2 << 20))]
    stations = [Station(s, 1, lpt1, "log.csv", image), Station(s, 2, lpt2, "log.csv", image)]
    run_stations(stations)
    rows = read_log(os.path.join(s.work, "log.csv"))
    for station in stations:
        station.end(0, 10)
        check_station(s, station, image, rows)
        for chip, board in zip(station.left, station.boards):
            h.compare_chip(chip, h.expected_chip(raw, s.key(), board[0].size))


SCENARIOS = {
    "station": scenario_station,
    "station-pair": scenario_station_pair,
}
