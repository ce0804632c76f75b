// The one identification against every simulated family, each asleep at power-up where it has
// deep power-down: the chip woken, the kind of answer, the row's name and size, and the chip's own
// parameter table held against the row, or made into the row of a chip the table does not list,
// whose waits must still cover the simulated family's maxima.
#include "flash/commands.h"
#include "flash/identify.h"
#include "flash/procedures.h"
#include "flash/wake.h"
#include "sim/model.h"
#include "../support/bus.h"

#include <cstring>
#include <string>

namespace {

using IdentifyTest = BusTest;

TEST_F(IdentifyTest, EveryFamilyWokenAndNamedWithItsTable) {
    const struct {
        const char* flash;
        int kind;
        const char* name;
        int kib;
        bool table; // a valid parameter table read
    } cases[] = {
        {"m25p80", CHIP_KNOWN, "M25P80", 1024, false},
        {"w25q80", CHIP_KNOWN, "W25Q80", 1024, true},
        {"mx25l8005", CHIP_KNOWN, "MX25L8005", 1024, false},
        {"gd25q80", CHIP_KNOWN, "GD25Q80", 1024, false},
        {"en25f80", CHIP_KNOWN, "EN25F80", 1024, false},
        {"w25q128", CHIP_KNOWN, "W25Q128", 16384, true},
        {"sst25vf080b", CHIP_KNOWN, "SST25VF080B", 1024, false},
        {"sst25vf040b", CHIP_KNOWN, "SST25VF040B", 512, false},
        {"sst25vf016b", CHIP_KNOWN, "SST25VF016B", 2048, false},
        {"sst26vf016b", CHIP_KNOWN, "SST26VF016B", 2048, false},
        {"at25df081a", CHIP_KNOWN, "AT25DF081A", 1024, false},
        {"at26df161a", CHIP_KNOWN, "AT26DF161A", 2048, false},
        {"m45pe80", CHIP_KNOWN, "M45PE80", 1024, false},
        {"xm25qh80b", CHIP_OTHER, "the flash", 1024, false}, // its BP bits set below
        {"mx25l8006e", CHIP_KNOWN, "MX25L8005", 1024, true},
        {"s25fl008a", CHIP_KNOWN, "S25FL008A", 1024, false},
        {"sst25vf040", CHIP_OLDER, "the flash", 0, false},
        {"sst25lf080a", CHIP_OLDER, "the flash", 0, false},
        {"sfdp-only", CHIP_TABLE, "the flash", 2048, true},
    };
    ASSERT_EQ(sizeof cases / sizeof cases[0], static_cast<size_t>(simcore::kFamilyCount));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flash);
        sim::Settings settings;
        ASSERT_TRUE(sim::set_flash(settings, c.flash));
        const simcore::Family* family = simcore::find_family(c.flash);
        settings.asleep = (family->commands & simcore::kHasDeepPowerDown) != 0;
        settings.asleep_given = true;
        settings.timing = sim::Timing::max;
        if (c.kind == CHIP_OTHER) {
            settings.status = 0x1C;
            settings.status_given = true;
        }
        power_up(settings);
        FlashSession s;
        session_open(&s, LINK_FAST);
        const int status = session_begin_awake(&s);
        EXPECT_NE(status, 0xFF) << "still asleep";
        unsigned char ids[2][3];
        FlashOutcome o = {};
        flash_identify(&s, 2, ids, &o);
        EXPECT_EQ(s.kind, c.kind);
        EXPECT_STREQ(s.chip.name, c.name);
        if (c.kind != CHIP_OLDER) {
            EXPECT_EQ(s.chip.size, c.kib * 1024);
        }
        EXPECT_EQ(s.table.valid != 0, c.table);
        EXPECT_EQ(s.table.differs, 0);
        if (c.kind == CHIP_OLDER) {
            EXPECT_EQ(o.kind, OUTCOME_OLDER_CHIP);
            EXPECT_EQ(s.older[0], 0xBF);
        }
        if (c.kind != CHIP_TABLE)
            continue;
        // The row its table makes: the erases and the status write as the table gives them, the
        // waits never shorter than the family's maxima.
        using namespace simcore;
        EXPECT_EQ(s.chip.small_erase, 0x20);
        EXPECT_EQ(s.chip.sector_erase, 0xD8);
        EXPECT_EQ(s.chip.protection, &PROTECT_STATUS_WREN);
        EXPECT_GE(s.chip.sector_max_ms * 1000LL, family_time(*family, kOpErase64k, kMaximum));
        EXPECT_GE(s.chip.bulk_max_ms * 1000LL, family_time(*family, kOpEraseChip, kMaximum));
        EXPECT_GE(s.chip.program_max_us, family_time(*family, kOpProgram, kMaximum));
        EXPECT_GE(s.chip.status_write_max_ms * 1000LL,
                  family_time(*family, kOpStatusWrite, kMaximum));
    }
}

// A chip a parameter table describes keeps its quad-enable bit where the table places it, in status
// register 2: read and written with the first, its BP bits cleared and QE kept (CMP, which the
// table does not name, as read). The board is a simulated W25Q80, whose register 2 holds those
// bits; the table is the one the row is made from. (A quad-enable bit at status bit 6 is not
// shown here: the simulated chips keep their write latch while bit 6 is set, as the SST25 does in
// a word sequence.)
TEST_F(IdentifyTest, TableRowKeepsQuadEnableWhereTheTablePlacesIt) {
    const struct {
        const char* flash;
        int qe;
        uint8_t status, status2;
        int after, after2; // the registers after the unprotect
    } cases[] = {
        {"w25q80", QE_STATUS2_BIT1, 0x1C, 0x02, 0x00, 0x02},
        {"w25q80", QE_STATUS2_BIT1, 0x00, 0x42, 0x00, 0x42}, // CMP unknown to a table: kept
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.flash) + " " + std::to_string(c.qe));
        sim::Settings settings;
        ASSERT_TRUE(sim::set_flash(settings, c.flash));
        settings.status = c.status;
        settings.status_given = true;
        settings.status2 = c.status2;
        settings.status2_given = true;
        power_up(settings);
        FlashSession s;
        session_open(&s, LINK_FAST);
        const int status = session_begin(&s);
        const unsigned char id[3] = {0x3C, 0x25, 0x01};
        FlashTable t = {};
        t.valid = 1;
        t.bytes = 1 << 20;
        t.qe = c.qe;
        t.status_enable = 0x06;
        common_chip(id, &s.chip);
        ASSERT_TRUE(chip_from_table(&t, &s.chip));
        s.kind = CHIP_TABLE;
        ProtectionState p;
        read_protection(&s, status, &p);
        FlashOutcome o = {};
        EXPECT_EQ(clear_protection(&s, &p, &o), OUTCOME_DONE);
        EXPECT_EQ(mc_read_status(&s), c.after);
        if (c.after2 >= 0) {
            EXPECT_EQ(mc_read_status2(&s), c.after2);
        }
    }
}

} // namespace
