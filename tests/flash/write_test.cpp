// The write and verify procedures on a session of their own, against simulated boards: each
// board's whole condensed event record and its outcome (the step, the kind, the address, the
// status read), with the chip as it is left.
#include "flash/commands.h"
#include "flash/identify.h"
#include "flash/write.h"
#include "../support/bus.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// What the procedures told, one word an event: cleared(how) erase(unit x total) program(total)
// verify(total). Progress in between is left out.
void heard(void* listener, const FlashEvent* e) {
    std::string& said = *static_cast<std::string*>(listener);
    char item[48] = "";
    if (e->what == EVENT_CLEARED)
        std::snprintf(item, sizeof item, "cleared(%d) ", e->how);
    else if (e->what == EVENT_ERASE_BEGINS)
        std::snprintf(item, sizeof item, "erase(%dx%d) ", e->unit, e->unit == 0 ? 1 : e->total);
    else if (e->what == EVENT_PROGRAM_BEGINS)
        std::snprintf(item, sizeof item, "program(%d) ", e->total);
    else if (e->what == EVENT_VERIFY_BEGINS)
        std::snprintf(item, sizeof item, "verify(%d) ", e->total);
    said += item;
}

using WriteTest = BusTest;

TEST_F(WriteTest, OutcomeOfEachBoard) {
    const struct {
        const char* flash;
        int status;     // at power-up, or -1: the family's own
        bool wp_low;    // the write-protect pin held low
        uint32_t stuck; // an address whose bit 0 stays 1, or 0
        sim::Miso miso;
        std::string said;
        int step, kind, address, outcome_status;
    } cases[] = {
        {"m25p80", -1, false, 0, sim::Miso::chip, "erase(0x1) program(3) verify(3) ", STEP_VERIFY,
         OUTCOME_DONE, 0, -1},
        // Protected, the status locked by the pin: nothing erased, the latch left clear.
        {"m25p80", 0x9C, true, 0, sim::Miso::chip, "", STEP_UNPROTECT, OUTCOME_STILL_LOCKED, 0,
         0x9E},
        {"w25q80", 0x1C, false, 0, sim::Miso::chip, "cleared(1) erase(0x1) program(3) verify(3) ",
         STEP_VERIFY, OUTCOME_DONE, 0, -1},
        {"sst25vf080b", -1, false, 0, sim::Miso::chip,
         "cleared(2) erase(0x1) program(3) verify(3) ", STEP_VERIFY, OUTCOME_DONE, 0, -1},
        {"at25df081a", 0x8C, false, 0, sim::Miso::chip,
         "cleared(3) erase(0x1) program(3) verify(3) ", STEP_VERIFY, OUTCOME_DONE, 0, -1},
        {"sst26vf016b", -1, false, 0, sim::Miso::chip,
         "cleared(4) erase(0x1) program(3) verify(3) ", STEP_VERIFY, OUTCOME_DONE, 0, -1},
        // No bulk erase: the one 64 KiB sector the image uses; the pin low keeps it.
        {"m45pe80", -1, false, 0, sim::Miso::chip, "erase(65536x1) program(3) verify(3) ",
         STEP_VERIFY, OUTCOME_DONE, 0, -1},
        {"m45pe80", -1, true, 0, sim::Miso::chip, "erase(65536x1) ", STEP_ERASE_CHECK,
         OUTCOME_NOT_BLANK, 0, -1},
        {"m25p80", -1, false, 0x101, sim::Miso::chip, "erase(0x1) program(3) verify(3) ",
         STEP_VERIFY, OUTCOME_DIFFERS, 0x100, -1},
        // The supply gives way under the erase: every status reads 0xff.
        {"m25p80", -1, false, 0, sim::Miso::lost, "erase(0x1) ", STEP_ERASE, OUTCOME_SILENT, 0,
         0xFF},
    };
    std::vector<unsigned char> image(3 * 256);
    for (size_t i = 0; i < image.size(); i++)
        image[i] = static_cast<unsigned char>(i * 7 + 1) & 0xFE; // bit 0 clear: a stuck bit shows
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.flash) + " " + std::to_string(c.status));
        sim::Settings settings;
        ASSERT_TRUE(sim::set_flash(settings, c.flash));
        if (c.status >= 0) {
            settings.status = static_cast<uint8_t>(c.status);
            settings.status_given = true;
        }
        settings.wp_low = c.wp_low;
        settings.miso = c.miso;
        if (c.stuck != 0)
            settings.stuck.push_back({c.stuck, 0x01});
        power_up(settings);
        sim::set_chip_contents(std::vector<uint8_t>(256, 0x00)); // old contents in page 0
        FlashSession s;
        session_open(&s, LINK_FAST);
        std::string said;
        FlashWatch watch = {heard, &said};
        s.watch = &watch;

        FlashOutcome o = {};
        unsigned char ids[2][3];
        const int status = session_begin(&s);
        ASSERT_EQ(flash_identify(&s, 2, ids, &o), OUTCOME_DONE);
        ProtectionState p;
        read_protection(&s, status, &p);
        if (flash_write(&s, &p, image.data(), 3, &o) == OUTCOME_DONE)
            flash_verify(&s, image.data(), 3, &o);
        EXPECT_EQ(said, c.said);
        EXPECT_EQ(o.step, c.step);
        EXPECT_EQ(o.kind, c.kind);
        EXPECT_EQ(o.address, c.address);
        if (c.outcome_status >= 0) {
            EXPECT_EQ(o.status, c.outcome_status);
        }
        if (c.kind == OUTCOME_DIFFERS) {
            EXPECT_EQ(o.differ, 1);
        }
        // Whatever stopped the write, the write latch is clear (but under an erase still running).
        if (c.kind != OUTCOME_SILENT) {
            EXPECT_EQ(sim::chip_status() & STATUS_LATCH, 0) << "the write latch left set";
        }
        const std::vector<uint8_t> chip = sim::chip_contents();
        const bool written = std::equal(image.begin(), image.end(), chip.begin());
        EXPECT_EQ(written, c.kind == OUTCOME_DONE);
    }
}

// The erase plan a range picks from the row's geometries: the whole chip where it has a bulk
// erase, else as many of its largest blocks as the range needs.
TEST(ErasePlan, WholeChipOrTheLargestBlocks) {
    FlashChip common;
    common.name = "common";
    common.bulk_ms = 1000;
    const unsigned char m45pe[3] = {0x20, 0x40, 0x14};
    const FlashChip* no_bulk = find_chip(m45pe);
    FlashChip pages_only = *no_bulk;
    pages_only.sector_erase = 0;
    const struct {
        const FlashChip* chip;
        int bytes, size, count;
        unsigned char command;
    } cases[] = {
        {&common, 4095 * 256, 0, 1, 0xC7}, {no_bulk, 0, 65536, 0, 0xD8},
        {no_bulk, 1, 65536, 1, 0xD8},      {no_bulk, 65537, 65536, 2, 0xD8},
        {&pages_only, 513, 256, 3, 0xDB},
    };
    for (const auto& c : cases) {
        int count = -1;
        const EraseGeometry plan = erase_plan(c.chip, c.bytes, &count);
        EXPECT_EQ(plan.size, c.size) << c.chip->name << " " << c.bytes;
        EXPECT_EQ(count, c.count) << c.chip->name << " " << c.bytes;
        EXPECT_EQ(plan.command, c.command) << c.chip->name << " " << c.bytes;
    }
}

} // namespace
