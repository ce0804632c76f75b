// lptspi --station on the simulated PC with its operator: boards of several families one after
// another, some bouncing as they go on, their verdicts, chip files and log rows; Ctrl-C during a
// board; the refusals that touch no port; two stations appending to one log at once, and a log
// another program holds.
#include "../support/frames.h"
#include "../support/process.h"
#include "../support/runs.h"

#include "sha256.h"

#include <gtest/gtest.h>

#include <cctype>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const size_t MIB = 1024 * 1024;

std::string sha256_of(const std::string& bytes) {
    char hex[SHA256_HEX];
    sha256_hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), hex);
    return hex;
}

// The lines a person follows at the station: the boards' own lines, the requests and the
// summary, each verdict's time taken out.
std::string station_lines(const std::string& out) {
    std::string kept;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        end = end == std::string::npos ? out.size() : end + 1;
        const std::string line = out.substr(at, end - at);
        at = end;
        if (line.rfind("board ", 0) == 0 || line.rfind("remove", 0) == 0 ||
            line.rfind("waiting", 0) == 0 || line.find(" passed, ") != std::string::npos ||
            line.rfind("\a", 0) == 0)
            kept += line.find("PASS: ") != std::string::npos ? untimed(line) : line;
    }
    return kept;
}

// The log's rows, each split into its fields (none of these rows quotes a field).
std::vector<std::vector<std::string>> rows_of(const std::string& log) {
    std::vector<std::vector<std::string>> rows;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find("\r\n", at);
        if (end == std::string::npos)
            end = log.size();
        std::vector<std::string> fields;
        std::string line = log.substr(at, end - at), field;
        for (char c : line + ",") {
            if (c == ',') {
                fields.push_back(field);
                field.clear();
            } else {
                field += c;
            }
        }
        rows.push_back(fields);
        at = end + 2;
    }
    return rows;
}

const std::vector<std::string> HEADER = {"time",   "computer", "port",   "board", "chip",
                                         "id",     "image",    "sha256", "pages", "seconds",
                                         "result", "reason",   "serial", "kept"};

// Whether a process waits for the flock on the empty file `path`: the kernel lists its request
// in /proc/locks behind "->". Asked until one does, for 20 s at most, or until `path` is
// written (by a program that did not wait).
bool waited_for(const std::string& path) {
    struct stat st {};
    const std::string inode = ":" + std::to_string(stat(path.c_str(), &st) == 0 ? st.st_ino : 0);
    for (int ms = 0; ms < 20000 && stat(path.c_str(), &st) == 0 && st.st_size == 0; ms++) {
        std::istringstream locks(read_file("/proc/locks"));
        for (std::string line; std::getline(locks, line);) {
            if (line.find("-> FLOCK") != std::string::npos &&
                line.find(inode + " ") != std::string::npos)
                return true;
        }
        usleep(1000);
    }
    return false;
}

class StationTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip";
    std::string image = dir + "/image.bin";
    std::string log = dir + "/log.csv";

    Env boards(const std::string& list) {
        return {{"LPTSPI_SIM_CHIP", chip}, {"LPTSPI_SIM_BOARDS", list}};
    }
};

// Five boards from power-up, the first two bouncing as they go on (their identification read
// with a byte or all three as ones, then with one byte so twice in a row), the SST25 protected
// as it comes, the W25Q80 with a stuck byte, and Ctrl-C from the operator after the last: a
// verdict numbered by board, the bell for the failure alone, the summary, exit 2; each chip
// file holds the image, the failed one with its stuck bits; the log has its header and a row
// for every board, its identification as the board gives it once settled.
TEST_F(StationTest, WritesBoardAfterBoardUntilCtrlC) {
    const std::string raw = pattern(3000, 5);
    write_file(image, scramble(raw));
    RunResult run =
        run_program({TOOL, "--station", "--log", log, image},
                    boards("m25p80:bounce=6,sst25vf080b:bounce=6,w25q80:stuck=0x300:0x81,gd25q80,"
                           "mx25l8005,end"));
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_EQ(run.err, "");
    const std::string sha = sha256_of(raw);
    const struct {
        const char* name;
        const char* id;
        const char* ids; // as the transcript names it
        bool passes;
    } expected[] = {{"M25P80", "202014", "20 20 14", true},
                    {"SST25VF080B", "bf258e", "bf 25 8e", true},
                    {"W25Q80", "ef4014", "ef 40 14", false},
                    {"GD25Q80", "c84014", "c8 40 14", true},
                    {"MX25L8005", "c22014", "c2 20 14", true}};
    const std::string waiting = "waiting for a board on LPT1 (Ctrl-C ends)\n";
    std::string lines = waiting;
    for (int n = 1; n <= 5; n++) {
        const auto& e = expected[n - 1];
        const std::string board = "board " + std::to_string(n) + ": ";
        lines += board + "flash id " + e.ids + " answers\n";
        lines += e.passes ? board + "PASS: " + e.name + " holds " + image +
                                " (12 pages, firmware sha256 " + sha.substr(0, 12) + "...)\n"
                          : board + "FAIL: page 3 differs from " + image + " (1 byte)\n\a";
        lines += "remove the board\n" + waiting;
    }
    lines += "5 boards: 4 passed, 1 failed (board 3)\n";
    EXPECT_EQ(station_lines(run.out), lines);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1),
              "firmware " + image + ": 12 pages, sha256 " + sha + "\n");

    std::string flashed = programmed(raw);
    flashed += std::string(MIB - flashed.size(), '\xFF');
    for (int n = 1; n <= 5; n++) {
        SCOPED_TRACE(n);
        std::string want = flashed;
        if (!expected[n - 1].passes)
            want[0x300] = static_cast<char>(want[0x300] | 0x81);
        EXPECT_TRUE(read_file(chip + "." + std::to_string(n)) == want);
    }

    const auto rows = rows_of(read_file(log));
    ASSERT_EQ(rows.size(), 6u) << read_file(log);
    EXPECT_EQ(rows[0], HEADER);
    // "2026-12-08T16:37:51+01:00": digits but for the separators, by their places.
    const auto is_time = [](const std::string& t) {
        const std::string shape = "dddd-dd-ddTdd:dd:dd+dd:dd";
        bool ok = t.size() == shape.size();
        for (size_t i = 0; ok && i < t.size(); i++)
            ok = shape[i] == 'd'   ? std::isdigit(static_cast<unsigned char>(t[i])) != 0
                 : shape[i] == '+' ? t[i] == '+' || t[i] == '-'
                                   : t[i] == shape[i];
        return ok;
    };
    for (int n = 1; n <= 5; n++) {
        SCOPED_TRACE(n);
        const auto& e = expected[n - 1];
        std::vector<std::string> row = rows[n];
        ASSERT_EQ(row.size(), HEADER.size());
        EXPECT_TRUE(is_time(row[0])) << row[0];
        EXPECT_EQ(row[9].find_first_not_of("0123456789."), std::string::npos) << row[9];
        EXPECT_EQ(row[9].find('.'), row[9].size() - 2) << row[9];
        EXPECT_GT(std::stod(row[9]), 0.0);
        row[0] = row[9] = "";
        EXPECT_EQ(row, (std::vector<std::string>{
                           "", "SIMULATED-PC", "LPT1", std::to_string(n), e.name, e.id, image, sha,
                           "12", "", e.passes ? "pass" : "fail",
                           e.passes ? "" : "page 3 differs from " + image + " (1 byte)", "", ""}));
    }
}

// Ctrl-C while a board is programmed: the run stops as --fast does (an SST25's word sequence
// ended first, so the chip is left out of it), the board is logged as interrupted, the summary
// follows, exit 130.
TEST_F(StationTest, CtrlCDuringABoardLogsItInterrupted) {
    write_file(image, scramble(pattern(4095 * 256, 6)));
    for (const char* flash : {"m25p80", "sst25vf080b"}) {
        SCOPED_TRACE(flash);
        std::remove(log.c_str());
        std::remove((chip + ".1.status").c_str());
        Child run({TOOL, "--station", "--log", log, image}, boards(flash));
        ASSERT_TRUE(run.wait_for("programming  10%"));
        run.signal(SIGINT);
        RunResult result = run.finish();
        EXPECT_EQ(result.status, 130);
        const std::string end = "\nboard 1: interrupted: the flash may be half-written; putting "
                                "the board back erases and rewrites it whole\n"
                                "1 board: 0 passed, 1 failed (board 1)\n";
        ASSERT_GE(result.out.size(), end.size());
        EXPECT_EQ(result.out.substr(result.out.size() - end.size()), end);
        const auto rows = rows_of(read_file(log));
        ASSERT_EQ(rows.size(), 2u);
        ASSERT_EQ(rows[1].size(), HEADER.size());
        EXPECT_EQ(rows[1][10], "interrupted");
        EXPECT_EQ(rows[1][11], "");
        EXPECT_EQ(read_file(chip + ".1.status").find("aai"), std::string::npos)
            << "left inside its word sequence";
    }
}

// What the station refuses before it touches the port: a log it cannot open, options that do
// not go with it. One line and the usage where it is the command line's fault, the verdict on a
// line of its own, exit 1, no port access at all.
TEST_F(StationTest, RefusesBeforeTouchingThePort) {
    write_file(image, scramble(pattern(300, 1)));
    const std::string trace = dir + "/trace";
    const std::string firmware =
        "firmware " + image + ": 2 pages, sha256 " + sha256_of(pattern(300, 1)) + "\n";
    const std::string usage = "lptspi [--port LPTn] [--fast | --verify] program.bin";
    const struct {
        std::vector<std::string> argv;
        std::string said;
    } cases[] = {
        {{TOOL, "--station", "--log", dir + "/missing/log.csv", image},
         firmware + "Error the log " + dir +
             "/missing/log.csv cannot be written (cannot open it: The system cannot find the "
             "path specified): no board touched \nFAIL: the log " +
             dir +
             "/missing/log.csv cannot be written (cannot open it: The system cannot find the "
             "path specified): no board touched\n"},
        {{TOOL, "--station", "--log", dir, image},
         firmware + "Error the log " + dir +
             " cannot be written (cannot open it: Access is denied): no board touched \nFAIL: the "
             "log " +
             dir + " cannot be written (cannot open it: Access is denied): no board touched\n"},
        {{TOOL, "--station", "--fast", image},
         "Error --station and --fast together: --station writes every board as --fast does \n" +
             usage + "\nFAIL: --station and --fast together: nothing done\n"},
        {{TOOL, "--verify", "--station", image},
         "Error --station and --verify together: --station writes every board as --fast does \n" +
             usage + "\nFAIL: --station and --verify together: nothing done\n"},
        {{TOOL, "--log", log, image},
         "Error --log without --station: only the station keeps a log \n" + usage +
             "\nFAIL: --log without --station: nothing done\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv[1] + " " + c.argv[2]);
        Env env = boards("m25p80,end");
        env.emplace_back("LPTSPI_SIM_TRACE", trace);
        RunResult run = run_program(c.argv, env);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, c.said);
        EXPECT_EQ(read_file(trace), "") << "the port was touched";
    }
}

// A log that is not a log: the image file itself, by any name the system gives it (another
// spelling, a symbolic or a hard link), or a file whose first line is not the log's header, is
// refused before the port is touched, the file left as it was. An empty file, or a log whose
// header ends in a line feed alone, is taken.
TEST_F(StationTest, RefusesALogThatIsNotALog) {
    const std::string raw = pattern(300, 3);
    write_file(image, scramble(raw));
    const std::string firmware = "firmware " + image + ": 2 pages, sha256 " + sha256_of(raw) + "\n";
    const std::string symbolic = dir + "/symbolic.csv", hard = dir + "/hard.csv";
    ASSERT_EQ(symlink("image.bin", symbolic.c_str()), 0);
    ASSERT_EQ(link(image.c_str(), hard.c_str()), 0);
    const std::string header = "time,computer,port,board,chip,id,image,sha256,pages,seconds,result,"
                               "reason";
    const struct {
        std::string log, holds; // the log named, and what it holds before (unless it is the image)
        bool image_itself, taken;
    } cases[] = {
        {image, "", true, false},
        {dir + "/./image.bin", "", true, false},
        {symbolic, "", true, false},
        {hard, "", true, false},
        {log, "firmware notes\n" + header + "\r\n", false, false},
        {log, "time,computer,port\r\n", false, false},
        {log, header.substr(0, 20), false, false},
        {log, header + ",serial\r\n", false, false},
        {log, std::string("\0\x01\x02", 3), false, false},
        {log, "", false, true},
        {log, header + "\n", false, true},
    };
    const std::string trace = dir + "/trace";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.log + ": " + c.holds);
        if (!c.image_itself)
            write_file(c.log, c.holds);
        const std::string before = read_file(c.log);
        Env env = boards("m25p80,end");
        env.emplace_back("LPTSPI_SIM_TRACE", trace);
        RunResult run = run_program({TOOL, "--station", "--log", c.log, image}, env);
        if (c.taken) {
            // The header when the file was empty, then one row, after what the file held.
            EXPECT_EQ(run.status, 0) << run.out;
            const std::string after = read_file(c.log);
            const std::string added = after.substr(before.size());
            ASSERT_EQ(after.substr(0, before.size()), before);
            const auto rows = rows_of(added);
            ASSERT_EQ(rows.size(), before.empty() ? 2u : 1u) << after;
            if (before.empty()) {
                EXPECT_EQ(rows[0], HEADER);
            }
            // A log of the earlier columns takes its rows in its own twelve.
            ASSERT_EQ(rows.back().size(), before.empty() ? HEADER.size() : 12u);
            EXPECT_EQ(rows.back()[10], "pass");
            continue;
        }
        const std::string why = c.image_itself ? "the log " + c.log + " is the image file itself"
                                               : c.log + " is not a station log";
        const std::string said =
            c.image_itself
                ? "Error " + why + ": no board touched \n"
                : "Error " + why + " (its first line is not the log's header): no board touched \n";
        EXPECT_EQ(run.out, firmware + said + "FAIL: " + why + ": no board touched\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(read_file(trace), "") << "the port was touched";
        EXPECT_TRUE(read_file(c.log) == before) << "the file was changed";
        EXPECT_TRUE(read_file(image) == scramble(raw)) << "the image was changed";
    }
}

// Two simulated PCs, each a station on a port of its own, append to one log at once: one header,
// every row whole, none lost.
// Two simulated PCs, each a station on a port of its own, append to one log at once: one
// header, every row whole, none lost.
TEST_F(StationTest, TwoStationsShareOneLog) {
    const std::string raw = pattern(256, 2);
    write_file(image, scramble(raw));
    std::string list;
    for (int n = 0; n < 12; n++)
        list += "m25p80:erase_ms=1,";
    list += "end";
    Env first = boards(list);
    Env second = {{"LPTSPI_SIM_CHIP", dir + "/other"},
                  {"LPTSPI_SIM_BOARDS", list},
                  {"LPTSPI_SIM_PORT", "LPT2:legacy"}};
    Child one({TOOL, "--station", "--log", log, image}, first);
    Child two({TOOL, "--port", "LPT2", "--station", "--log", log, image}, second);
    RunResult a = one.finish(), b = two.finish();
    EXPECT_EQ(a.status, 0) << a.out;
    EXPECT_EQ(b.status, 0) << b.out;
    const auto rows = rows_of(read_file(log));
    ASSERT_EQ(rows.size(), 25u);
    EXPECT_EQ(rows[0], HEADER);
    std::map<std::string, std::vector<std::string>> boards_by_port;
    for (size_t i = 1; i < rows.size(); i++) {
        ASSERT_EQ(rows[i].size(), HEADER.size()) << i;
        EXPECT_EQ(rows[i][10], "pass");
        EXPECT_EQ(rows[i][7], sha256_of(raw));
        boards_by_port[rows[i][2]].push_back(rows[i][3]);
    }
    std::vector<std::string> numbers;
    for (int n = 1; n <= 12; n++)
        numbers.push_back(std::to_string(n));
    EXPECT_EQ(boards_by_port["LPT1"], numbers);
    EXPECT_EQ(boards_by_port["LPT2"], numbers);
}

// Two stations side by side take serial numbers from one counter file and log to one log: 24
// boards, 24 numbers, none handed out twice; a board that fails keeps its number, logged with
// it, and the counter file holds the next number, as a line a person can edit.
TEST_F(StationTest, TwoStationsShareOneCounterFile) {
    const std::string raw = pattern(256, 3);
    write_file(image, scramble(raw));
    const std::string counter = dir + "/serials.txt";
    write_file(counter, "000100\n");
    std::string list;
    for (int n = 0; n < 12; n++)
        list += n == 4 ? "m25p80:erase_ms=1:stuck=0x30:0xFF," : "m25p80:erase_ms=1,";
    list += "end";
    Env second = {{"LPTSPI_SIM_CHIP", dir + "/other"},
                  {"LPTSPI_SIM_BOARDS", list},
                  {"LPTSPI_SIM_PORT", "LPT2:legacy"}};
    const std::vector<std::string> serial = {"--serial", "0x20:dec:6", "--serials", counter};
    std::vector<std::string> argv1 = {TOOL, "--station", "--log", log};
    argv1.insert(argv1.end(), serial.begin(), serial.end());
    argv1.push_back(image);
    std::vector<std::string> argv2 = argv1;
    argv2.insert(argv2.begin() + 1, {"--port", "LPT2"});
    Child one(argv1, boards(list));
    Child two(argv2, second);
    RunResult a = one.finish(), b = two.finish();
    EXPECT_EQ(a.status, 2) << a.out;
    EXPECT_EQ(b.status, 2) << b.out;
    const auto rows = rows_of(read_file(log));
    ASSERT_EQ(rows.size(), 25u);
    std::set<std::string> numbers;
    for (size_t i = 1; i < rows.size(); i++) {
        ASSERT_EQ(rows[i].size(), HEADER.size()) << i;
        const std::string& number = rows[i][12];
        numbers.insert(number);
        EXPECT_EQ(rows[i][10], rows[i][3] == "5" ? "fail" : "pass") << i;
        // Each board holds the number its row gives.
        const std::string board = (rows[i][2] == "LPT1" ? chip : dir + "/other") + "." + rows[i][3];
        EXPECT_EQ(read_file(board).substr(0x20, 6), number) << board;
    }
    ASSERT_EQ(numbers.size(), 24u) << "a number handed out twice";
    EXPECT_EQ(*numbers.begin(), "000100");
    EXPECT_EQ(*numbers.rbegin(), "000123");
    EXPECT_EQ(read_file(counter), "000124\r\n");
}

// A serial number given for one board, in each format, and what the command line must not give.
TEST_F(StationTest, SerialNumberFormats) {
    write_file(image, scramble(pattern(512, 4)));
    const struct {
        std::vector<std::string> args;
        std::string bytes; // at 0x40, or "": refused, exit 1
        std::string said;  // the verdict's clause, or the refusal's first line
    } cases[] = {
        {{"--fast", "--serial", "0x40:dec:8=1234"}, "00001234", ", serial 00001234"},
        {{"--fast", "--serial", "64:le32=0x12345678"}, "\x78\x56\x34\x12", ", serial 305419896"},
        {{"--update", "--serial", "0x40:be32=305419896"}, "\x12\x34\x56\x78", ", serial 305419896"},
        {{"--fast", "--serial", "0x40:mac=00:1a:2b:00:00:01"},
         std::string("\x00\x1a\x2b\x00\x00\x01", 6),
         ", serial 00:1a:2b:00:00:01"},
        {{"--fast", "--serial", "0x40:dec:4=12345"}, "", "Error 12345 is not a dec:4 number \n"},
        {{"--fast", "--serial", "0x40:hex"},
         "",
         "Error --serial formats are dec:N, le32, be32 and mac, not hex \n"},
        {{"--fast", "--serial", "0x40:le32"},
         "",
         "Error --serial OFFSET:FORMAT=VALUE: one board takes the number given \n"},
        {{"--station", "--serial", "0x40:le32=1", "--serials", "x"},
         "",
         "Error --station takes --serial OFFSET:FORMAT with --serials FILE: the counter file the "
         "numbers come from \n"},
        {{"--station", "--serials", "x"},
         "",
         "Error --serials without --serial: where the number goes is not said \n"},
        {{"--fast", "--serial", "0x1fe:le32=1"},
         "",
         "Error --serial at 0x1fe (4 bytes) lies outside " + image +
             " (512 bytes in 2 pages): nothing touched \n"},
        {{"--fast", "--keep", "0x42:2", "--serial", "0x40:le32=1"},
         "",
         "Error --serial at 0x40 overlaps --keep 0x42:2: nothing touched \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[2]);
        std::remove(chip.c_str());
        std::vector<std::string> argv = {TOOL};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.push_back(image);
        const RunResult result = run_program(argv, {{"LPTSPI_SIM_CHIP", chip}});
        if (c.bytes.empty()) {
            EXPECT_EQ(result.out.substr(0, c.said.size()), c.said) << result.out;
            EXPECT_EQ(result.status, 1);
            continue;
        }
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_NE(result.out.find(c.said + ", "), std::string::npos) << result.out;
        EXPECT_EQ(read_file(chip).substr(0x40, c.bytes.size()), c.bytes);
    }
}

// Another program holds the log's lock when the station starts (this test, through a real
// flock, as the simulated PC's lock is): the station waits for it; the holder writes the header
// and a row of its own and lets go; the station then appends its board's row after that one,
// whole, and no second header. On the 95/98/Me family, without LockFileEx, LockFile is tried
// every 10 ms: the simulated PC's other holder lets go after 0.5 s, and the station goes on; or
// only after 30 s, by when the station has given up, touching no port.
TEST_F(StationTest, WaitsForTheLogHeldElsewhere) {
    const std::string raw = pattern(256, 4);
    write_file(image, scramble(raw));
    write_file(log, "");
    const int holder = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    Child station({TOOL, "--station", "--log", log, image}, boards("m25p80,end"));
    const bool waited = waited_for(log);
    std::string theirs;
    for (const std::string& field : HEADER)
        theirs += field + (&field == &HEADER.back() ? "\r\n" : ",");
    theirs += "2026-12-08T16:37:51+01:00,OTHER-PC,LPT2,7,M25P80,202014,other.bin," + sha256_of("") +
              ",1,0.4,pass,,,\r\n";
    EXPECT_EQ(write(holder, theirs.data(), theirs.size()), static_cast<ssize_t>(theirs.size()));
    close(holder);
    RunResult run = station.finish();
    ASSERT_TRUE(waited) << read_file(log);
    EXPECT_EQ(run.status, 0) << run.out;
    const auto rows = rows_of(read_file(log));
    ASSERT_EQ(rows.size(), 3u) << read_file(log);
    EXPECT_EQ(read_file(log).substr(0, theirs.size()), theirs);
    std::vector<std::string> ours = rows[2];
    ASSERT_EQ(ours.size(), HEADER.size());
    ours[0] = ours[9] = "";
    EXPECT_EQ(ours, (std::vector<std::string>{"", "SIMULATED-PC", "LPT1", "1", "M25P80", "202014",
                                              image, sha256_of(raw), "1", "", "pass", "", "", ""}));

    const std::string trace = dir + "/trace";
    const struct {
        const char* held;
        int status;
        std::string tail, events; // the transcript's end, the trace's start
        size_t rows;
    } cases[] = {
        {"500", 0, "\n1 board: 1 passed, 0 failed\n", "S 10 x50\nR 077a\n", 2},
        {"30010", 1,
         "Error the log " + log +
             " cannot be written (cannot lock it: The process cannot access the file because "
             "another process has locked a portion of the file): no board touched \nFAIL: the "
             "log " +
             log +
             " cannot be written (cannot lock it: The process cannot access the file because "
             "another process has locked a portion of the file): no board touched\n",
         "S 10 x3000\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.held);
        std::remove(log.c_str());
        Env env = boards("m25p80,end");
        env.insert(env.end(), {{"LPTSPI_SIM_PLATFORM", "9x"},
                               {"LPTSPI_SIM_LOCK_HELD", c.held},
                               {"LPTSPI_SIM_TRACE", trace}});
        run = run_program({TOOL, "--station", "--log", log, image}, env);
        EXPECT_EQ(run.status, c.status) << run.out;
        ASSERT_GE(run.out.size(), c.tail.size());
        EXPECT_EQ(run.out.substr(run.out.size() - c.tail.size()), c.tail);
        EXPECT_EQ(decode_frames(read_file(trace)).substr(0, c.events.size()), c.events);
        EXPECT_EQ(rows_of(read_file(log)).size(), c.rows);
    }
}

} // namespace
