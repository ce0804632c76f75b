// The flash families on the simulated PC: what lptspi-check-sim says about each, at power-up (also
// judged against lptspi --fast) and after --unprotect; what lptspi-sim's own run does to each; what
// lptspi-backup-sim saves.
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string CHECK = LPTSPI_CHECK_EXE, TOOL = LPTSPI_SIM_EXE, BACKUP = LPTSPI_BACKUP_EXE;
const int KIB = 1024;

std::string upper(std::string name) {
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// `family` as the simulated PC names it; the check names it in capitals, if at all.
std::string id_line(const char* id, const char* maker, int kib, std::string family = "") {
    for (char& c : family)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "flash: id " + std::string(id) + ", the same three times: " + maker +
           (family.empty() ? "" : " " + family) + format(", %d KiB\n", kib);
}
const std::string CLEAR = "flash: status 0x00: not busy, write latch clear, no block protection, "
                          "status register not locked\n";
// The W25Q's status register 2 as it comes from the factory.
const std::string CLEAR2 =
    "flash: status register 2 0x00: QE clear; CMP clear; SRP1 clear: not locked down\n";
const std::string NOT_IDLE = "flash: lptspi refuses a flash whose status is not 0x00: "
                             "lptspi --fast clears the protection itself\n";
const std::string READY = "result: everything lptspi needs was found\n";
const std::string CANNOT = "result: lptspi cannot program this flash (see above)\n";
const std::string ATTENTION = "result: the flash or its wiring needs attention (see above)\n";
const std::string NOTHING = "unprotect: nothing to clear (status 0x00)\n";
const std::string FAST_READY = "result: lptspi --fast can write this flash as it is\n";
// The same findings judged with --fast: lptspi --fast writes every family as it comes.
std::string judged_fast(const std::string& check) {
    return check.substr(0, check.rfind("result: ")) + FAST_READY;
}
std::string one_byte(const char* name) {
    return "flash: " + std::string(name) +
           " programs one byte per command: lptspi --fast programs it in words; lptspi writes "
           "only the first byte of each page\n";
}
std::string pin_bit(const char* name) {
    return "flash: " + std::string(name) +
           " reads status 0x10 even with nothing protected (WPP: the write-protect pin high, as "
           "the adapter holds it): lptspi --fast programs it; lptspi refuses it as not idle\n";
}

// What lptspi's own run does with a 3-page image on a chip of old contents.
enum Outcome { VERIFIED, NOT_IDLE_1C, NOT_IDLE_10, FIRST_BYTES, WAITS_FOR_EVER };

struct Family {
    const char* flash; // LPTSPI_SIM_FLASH
    const char* id;
    const char* maker;
    int kib;
    // The check's findings after its identification line at power-up, and --unprotect's.
    std::string check, unprotect;
    int check_status, unprotected_status;
    Outcome run, unprotected_run;
};

const std::vector<Family>& families() {
    static const std::string sst25_status = "flash: status 0x1c: not busy, write latch clear, "
                                            "block protection on (BP0 BP1 BP2), status register "
                                            "not locked\n";
    static const std::string at25_status = "flash: status 0x1c: not busy, write latch clear, block "
                                           "protection on (SWP0 SWP1), also WPP, status register "
                                           "not locked\n";
    static const std::string sst25_cleared = " nothing is protected now, but lptspi still cannot "
                                             "program it (see above)\n" +
                                             CANNOT;
    static const std::string at25_cleared = "unprotect: status 0x1c cleared to 0x10 (global "
                                            "unprotect): nothing is protected now, but lptspi "
                                            "still cannot program it (see above)\n";
    static const std::vector<Family> all = {
        {"m25p80", "20 20 14", "ST/Micron (20)", 1024, CLEAR + READY, NOTHING + READY, 0, 0,
         VERIFIED, VERIFIED},
        {"w25q80", "ef 40 14", "Winbond (ef)", 1024, CLEAR + CLEAR2 + READY, NOTHING + READY, 0, 0,
         VERIFIED, VERIFIED},
        {"mx25l8005", "c2 20 14", "Macronix (c2)", 1024, CLEAR + READY, NOTHING + READY, 0, 0,
         VERIFIED, VERIFIED},
        {"gd25q80", "c8 40 14", "GigaDevice (c8)", 1024, CLEAR + READY, NOTHING + READY, 0, 0,
         VERIFIED, VERIFIED},
        {"en25f80", "1c 31 14", "EON (1c)", 1024, CLEAR + READY, NOTHING + READY, 0, 0, VERIFIED,
         VERIFIED},
        {"w25q128", "ef 40 18", "Winbond (ef)", 16384,
         CLEAR + CLEAR2 +
             "flash: W25Q128 takes about 40 s to erase, up to 200 s: lptspi shows status = 03 "
             "meanwhile\n" +
             READY,
         NOTHING + READY, 0, 0, VERIFIED, VERIFIED},
        {"sst25vf080b", "bf 25 8e", "SST/Microchip (bf)", 1024,
         sst25_status + NOT_IDLE + one_byte("SST25VF080B") + ATTENTION,
         "unprotect: status 0x1c cleared to 0x00 (enable-write-status, write status):" +
             sst25_cleared,
         2, 2, NOT_IDLE_1C, FIRST_BYTES},
        {"sst25vf040b", "bf 25 8d", "SST/Microchip (bf)", 512,
         sst25_status + NOT_IDLE + one_byte("SST25VF040B") + ATTENTION,
         "unprotect: status 0x1c cleared to 0x00 (enable-write-status, write status):" +
             sst25_cleared,
         2, 2, NOT_IDLE_1C, FIRST_BYTES},
        {"sst25vf016b", "bf 25 41", "SST/Microchip (bf)", 2048,
         sst25_status + NOT_IDLE + one_byte("SST25VF016B") + ATTENTION,
         "unprotect: status 0x1c cleared to 0x00 (enable-write-status, write status):" +
             sst25_cleared,
         2, 2, NOT_IDLE_1C, FIRST_BYTES},
        {"sst26vf016b", "bf 26 41", "SST/Microchip (bf)", 2048,
         "flash: status 0x00: not busy, write latch clear, block protection kept in a "
         "register of its own\n"
         "flash: SST26VF016B block-protection register (0x72): 55 55 ff ff ff ff: blocks "
         "locked, as at every power-up: lptspi --fast unlocks them itself; the chip ignores "
         "lptspi's bulk erase, and lptspi waits for ever on status = 02 (the write latch the "
         "erase command left set): for lptspi, lptspi-check --unprotect unlocks them until the "
         "chip is powered off\n" +
             ATTENTION,
         "unprotect: after the global unlock the block-protection register reads 00 00 00 00 00 "
         "00: every block unlocked: lptspi takes this flash now, until it is powered off\n" +
             READY,
         2, 0, WAITS_FOR_EVER, VERIFIED},
        {"at25df081a", "1f 45 01", "Atmel/Adesto (1f)", 1024,
         at25_status + pin_bit("AT25DF081A") + ATTENTION, at25_cleared + CANNOT, 2, 2, NOT_IDLE_1C,
         NOT_IDLE_10},
        {"at26df161a", "1f 46 01", "Atmel/Adesto (1f)", 2048,
         at25_status + pin_bit("AT26DF161A") + ATTENTION, at25_cleared + CANNOT, 2, 2, NOT_IDLE_1C,
         NOT_IDLE_10},
        {"m45pe80", "20 40 14", "ST/Micron (20)", 1024,
         CLEAR +
             "flash: M45PE80 has no bulk erase: lptspi --fast erases it sector by sector; lptspi "
             "cannot erase it, and waits for ever on status = 02 (the write latch its erase "
             "command left set)\nflash: M45PE80's write-protect pin (W, pin 3) protects its "
             "bottom 64 KiB while it is held low, whatever the status says: hold W high (the "
             "adapter's wiring decides; no command reads the pin)\n" +
             CANNOT,
         "unprotect: nothing to clear: M45PE80 has no block protection but its write-protect pin "
         "(see above)\n" +
             CANNOT,
         2, 2, WAITS_FOR_EVER, WAITS_FOR_EVER},
    };
    return all;
}

class FamilyTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";

    // A new chip file of `bytes`: the chip starts at power-up.
    void new_chip(const std::string& bytes) {
        std::remove(chip.c_str());
        for (const std::string& name : folder_entries(dir))
            std::remove((dir + "/" + name).c_str());
        write_file(chip, bytes);
    }
    Env on(const Family& f) { return {{"LPTSPI_SIM_FLASH", f.flash}, {"LPTSPI_SIM_CHIP", chip}}; }
};

TEST_F(FamilyTest, CheckNamesTheChipAndWhatWorksAtPowerUpAndAfterUnprotect) {
    for (const Family& f : families()) {
        SCOPED_TRACE(f.flash);
        const std::string old = pattern(f.kib * KIB, 3);
        new_chip(old);
        RunResult first = run_program({CHECK}, on(f));
        EXPECT_EQ(findings(first.out), id_line(f.id, f.maker, f.kib, f.flash) + f.check);
        EXPECT_EQ(first.status, f.check_status);
        RunResult fast = run_program({CHECK, "--fast"}, on(f));
        EXPECT_EQ(findings(fast.out),
                  id_line(f.id, f.maker, f.kib, f.flash) + judged_fast(f.check));
        EXPECT_EQ(fast.status, 0);
        RunResult second = run_program({CHECK, "--unprotect"}, on(f));
        const std::string found = findings(second.out);
        EXPECT_EQ(found.substr(found.find("unprotect: ")), f.unprotect);
        EXPECT_EQ(second.status, f.unprotected_status);
        // Switched off and on, every family is as it was at power-up.
        Env cycled = on(f);
        cycled.emplace_back("LPTSPI_SIM_POWER", "cycle");
        RunResult third = run_program({CHECK}, cycled);
        EXPECT_EQ(findings(third.out), id_line(f.id, f.maker, f.kib, f.flash) + f.check);
        EXPECT_TRUE(read_file(chip) == old);
    }
    // An identification not in the table that gives a size: a common chip of that size.
    new_chip("");
    RunResult unknown = run_program({CHECK}, {{"LPTSPI_SIM_ID", "0xEF4015"},
                                              {"LPTSPI_SIM_SIZE", "0x200000"},
                                              {"LPTSPI_SIM_CHIP", chip}});
    EXPECT_EQ(findings(unknown.out),
              id_line("ef 40 15", "Winbond (ef)", 2048) +
                  "flash: not in lptspi's table of flash chips: taken as a common 25-series chip "
                  "of the size its identification gives\n" +
                  CLEAR + READY);
    EXPECT_EQ(unknown.status, 0);
}

// lptspi's own run, unchanged on every chip, on a chip of old contents: at power-up, and after
// lptspi-check --unprotect on the same powered chip.
TEST_F(FamilyTest, DefaultRunOnEachFamilyAtPowerUpAndUnprotected) {
    const std::string raw = pattern(600), image = dir + "/image.bin";
    const std::string opened = OPENING, erasing = IDLE + "Bulk erasing flash checking status... \n";
    for (const Family& f : families()) {
        for (bool unprotected : {false, true}) {
            SCOPED_TRACE(std::string(f.flash) + (unprotected ? " unprotected" : " at power-up"));
            const std::string old = pattern(f.kib * KIB, 5);
            new_chip(old);
            if (unprotected)
                run_program({CHECK, "--unprotect"}, on(f));
            write_file(image, scramble(raw));
            Child child({TOOL, image}, on(f));
            const Outcome outcome = unprotected ? f.unprotected_run : f.run;
            if (outcome == WAITS_FOR_EVER) {
                std::string polls;
                for (int i = 0; i < 50; i++)
                    polls += "\rstatus = 02 ";
                EXPECT_TRUE(child.wait_for(polls));
                child.signal(SIGHUP); // its console closed: no message
            }
            RunResult result = child.finish();
            std::string expected = old, tail;
            int status = 0;
            switch (outcome) {
            case VERIFIED:
                expected = programmed(raw) + std::string(old.size() - 768, '\xFF');
                tail = "\rpage 1 ok\rpage 2 ok\rpage 3 ok\ndone!";
                break;
            case NOT_IDLE_1C:
            case NOT_IDLE_10:
                tail = opened + format("serial flash not idle! reporting state 0x%02x\n\n",
                                       outcome == NOT_IDLE_1C ? 0x1C : 0x10);
                status = 1;
                break;
            case FIRST_BYTES: // the erase works; each page program writes its first byte
                expected = std::string(old.size(), '\xFF');
                for (size_t page = 0; page < 3; page++)
                    expected[page * 256] = programmed(raw)[page * 256];
                tail = "\ndone, verifying...\n!!! page 0 failed to verify \n";
                for (int i = 1; i < 256; i++) {
                    const int wanted = static_cast<unsigned char>(programmed(raw)[i]);
                    if (wanted != 0xFF)
                        tail += format("%03x: ff != ", i) + format("%02x\n", wanted);
                }
                tail += "\ndone!";
                status = 2;
                break;
            case WAITS_FOR_EVER: // the bulk erase ignored, its write latch left set
                tail = "\rstatus = 02 ";
                EXPECT_EQ(result.out.substr(0, opened.size() + erasing.size()), opened + erasing);
                status = 128 + SIGHUP;
                break;
            }
            ASSERT_GE(result.out.size(), tail.size());
            EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);
            EXPECT_EQ(result.status, status);
            EXPECT_TRUE(read_file(chip) == expected);
        }
    }
}

// The backup reads the family's whole size from the table, says when lptspi will refuse the chip
// as it is, and saves the pages in use; a chip whose identification is not in the table and
// claims less than it holds is refused, not saved blank.
TEST_F(FamilyTest, BackupOfEachFamily) {
    const std::string out = dir + "/backup.bin";
    const std::string protected_line = "the flash is write-protected: lptspi will refuse it until "
                                       "the protection is cleared (lptspi-check --unprotect)\n";
    for (const Family& f : families()) {
        SCOPED_TRACE(f.flash);
        std::string contents(f.kib * KIB, '\xFF');
        contents.replace(0, 2048, pattern(2048, 1));
        new_chip(contents);
        RunResult result = run_program({BACKUP, out}, on(f));
        const std::string family = f.flash;
        const bool status_protected = family.rfind("sst25", 0) == 0 || family.rfind("at2", 0) == 0;
        const std::string head =
            OPENING + format("serial flash in idle state 0x%02x\n\n", status_protected ? 0x1C : 0) +
            (status_protected ? protected_line : "") +
            (family == "sst26vf016b"
                 ? "the flash's blocks are locked (its block-protection register): lptspi's erase "
                   "and programs will be ignored until they are unlocked (lptspi-check "
                   "--unprotect)\n"
                 : "") +
            "flash " + upper(f.flash) + " (" + f.id + format("), %d KiB\n", f.kib) +
            format("reading %d pages twice...\n", f.kib * 4);
        const std::string said = untimed(without_progress(result.out));
        EXPECT_EQ(said.substr(0, head.size()), head);
        const std::string tail =
            "both reads agree\n" + saved_lines(8, contents, out, upper(f.flash));
        EXPECT_EQ(said.substr(said.size() - tail.size()), tail);
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(read_file(out) == scramble(contents.substr(0, 2048)));
    }

    // 1 MiB that says 512 KiB, with data only at 0x90000.
    new_chip(std::string(0x90000, '\xFF') + pattern(256, 2));
    RunResult result =
        run_program({BACKUP, out}, {{"LPTSPI_SIM_ID", "0x5A2013"}, {"LPTSPI_SIM_CHIP", chip}});
    EXPECT_NE(result.out.find("flash id 5a 20 13, 512 KiB: not in lptspi's table of flash chips, "
                              "taken as a common 25-series chip of the size its identification "
                              "gives\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.substr(result.out.find("\n!!!")),
              "\n!!! the flash does not repeat its first 512 KiB at 0x090000: it is larger than "
              "its identification says, " +
                  out + " not written \nFAIL: the flash is larger than its identification says: " +
                  out + " not written\n");
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"chip.bin"});
}

} // namespace

namespace {

// Every family at its datasheet's extremes (LPTSPI_SIM_TIMING), protected: the common ones with
// BP0-BP2 set, the others as at power-up, and an AT25DF with its sector-protection lock (SPRL)
// set beside the pin high, which takes two status writes. lptspi-check --unprotect clears the
// protection as at typical times, after waiting out the status write's own cycle; lptspi-check
// --fast judges that lptspi --fast writes the protected chip, which it then programs, and
// --verify finds the image there.
TEST_F(FamilyTest, FastUnprotectAndVerifyAtTheDatasheetsExtremes) {
    const std::string raw = pattern(600, 9), image = dir + "/image.bin";
    std::vector<std::pair<Family, std::string>> rows; // the family, its protected status
    for (const Family& f : families())
        rows.emplace_back(f, f.check_status == 0 ? "0x1C" : "");
    Family sprl = families()[10];
    sprl.unprotect = "unprotect: status 0x9c cleared to 0x10 (global unprotect): nothing is "
                     "protected now, but lptspi still cannot program it (see above)\n" +
                     CANNOT;
    rows.emplace_back(sprl, "0x8C");
    for (const auto& [f, status] : rows) {
        for (const char* timing : {"min", "max"}) {
            SCOPED_TRACE(std::string(f.flash) + " " + status + " at " + timing);
            const std::string old = pattern(f.kib * KIB, 4);
            Env env = on(f);
            env.emplace_back("LPTSPI_SIM_TIMING", timing);
            if (!status.empty())
                env.emplace_back("LPTSPI_SIM_STATUS", status);
            new_chip(old);
            RunResult unprotect = run_program({CHECK, "--unprotect"}, env);
            const std::string found = findings(unprotect.out);
            const std::string cleared =
                status == "0x1C"
                    ? "unprotect: status 0x1c cleared to 0x00: lptspi takes this flash now\n" +
                          READY
                    : f.unprotect;
            EXPECT_EQ(found.substr(found.find("unprotect: ")), cleared);
            EXPECT_EQ(unprotect.status, status == "0x1C" ? 0 : f.unprotected_status);

            new_chip(old);
            RunResult judged = run_program({CHECK, "--fast"}, env);
            EXPECT_EQ(judged.out.substr(judged.out.rfind("result: ")), FAST_READY);
            EXPECT_EQ(judged.status, 0);
            write_file(image, scramble(raw));
            RunResult fast = run_program({TOOL, "--fast", image}, env);
            EXPECT_EQ(fast.status, 0) << fast.out;
            // The M45PE80 erases only the 64 KiB sector the image uses.
            const size_t erased = std::string(f.flash) == "m45pe80" ? 64 * KIB : old.size();
            EXPECT_TRUE(read_file(chip) ==
                        programmed(raw) + std::string(erased - 768, '\xFF') + old.substr(erased));
            RunResult verify = run_program({TOOL, "--verify", image}, env);
            EXPECT_EQ(verify.status, 0) << verify.out;
        }
    }
}

} // namespace
