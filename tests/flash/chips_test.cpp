// The table of flash families against the makers' datasheets, for what the whole runs on the
// simulated families do not show: erase commands and times, and which status bits protect.
#include "flash/chips.h"
#include "flash/commands.h"
#include "flash/procedures.h"
#include "sim/model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

TEST(ChipTable, EraseCommandsAndTimes) {
    for (int i = 0; i < flash_chip_count; i++) {
        const FlashChip& chip = flash_chips[i];
        SCOPED_TRACE(chip.name);
        const bool m45pe = std::strcmp(chip.name, "M45PE80") == 0;
        const bool m25p =
            std::strcmp(chip.name, "M25P80") == 0 || std::strcmp(chip.name, "S25FL008A") == 0;
        // Every family erases 64 KiB with 0xD8; all but the M45PE (page erase 0xDB) in bulk with
        // 0xC7, and all but the M25P80, the S25FL008A and the M45PE 4 KiB with 0x20.
        EXPECT_EQ(chip.sector_erase, 0xD8);
        EXPECT_EQ(chip.bulk_erase, m45pe ? 0x00 : 0xC7);
        EXPECT_EQ(chip.page_erase, m45pe ? 0xDB : 0x00);
        EXPECT_EQ(chip.small_erase, m45pe || m25p ? 0x00 : 0x20);
        EXPECT_LE(chip.bulk_ms, chip.bulk_max_ms);
        EXPECT_LT(0, chip.sector_ms);
        EXPECT_LE(chip.sector_ms, chip.sector_max_ms);
        EXPECT_LT(0, chip.program_us);
        EXPECT_LE(chip.program_us, chip.program_max_us);
        // An SST25 programs a word in about 7 us (10 us at most), the others a page in 0.7-1.5 ms.
        EXPECT_EQ(chip.program_us < 100, chip.program->words != 0);
        for (int j = 0; j < i; j++)
            EXPECT_NE(std::memcmp(chip.id, flash_chips[j].id, 3), 0) << flash_chips[j].name;
    }
    // The 16 MiB chip's bulk erase: about 40 s, up to 200 s; the SST25's about 35 ms, 50 at most.
    const unsigned char w25q128[3] = {0xEF, 0x40, 0x18}, sst25[3] = {0xBF, 0x25, 0x8E};
    EXPECT_EQ(find_chip(w25q128)->bulk_ms, 40000);
    EXPECT_EQ(find_chip(w25q128)->bulk_max_ms, 200000);
    EXPECT_EQ(find_chip(sst25)->bulk_ms, 35);
    EXPECT_EQ(find_chip(sst25)->bulk_max_ms, 50);
}

// Which status bits protect: a bit that shows the write-protect pin (AT25DF's WPP) or an
// auto-address-increment in progress (SST25's AAI) does not; the SST26 keeps its protection
// elsewhere; a chip not in the table is read as the common model.
TEST(ChipTable, StatusProtectionByFamily) {
    const unsigned char at25df[3] = {0x1F, 0x45, 0x01}, sst25[3] = {0xBF, 0x25, 0x8E},
                        sst26[3] = {0xBF, 0x26, 0x41}, m25p80[3] = {0x20, 0x20, 0x14};
    const struct {
        const unsigned char* id;
        int status;
        int protects;
    } cases[] = {
        {at25df, 0x1C, 1},  {at25df, 0x10, 0},  {at25df, 0x90, 1}, {at25df, 0x20, 0},
        {sst25, 0x1C, 1},   {sst25, 0x20, 1},   {sst25, 0x40, 0},  {sst25, 0x80, 1},
        {sst26, 0x3C, 0},   {m25p80, 0x40, 1},  {m25p80, 0x80, 1}, {m25p80, 0x02, 0},
        {nullptr, 0x1C, 1}, {nullptr, 0x03, 0},
    };
    for (const auto& c : cases) {
        const FlashChip* chip = c.id != nullptr ? find_chip(c.id) : nullptr;
        EXPECT_EQ(status_protects(chip, c.status), c.protects)
            << (chip != nullptr ? chip->name : "not in the table") << " status " << c.status;
    }
}

} // namespace

namespace {

// The waits give up after twice the table's maximum: that maximum must never be below the
// simulated family's, taken apart from the makers' datasheets, or a slow but sound chip would be
// given up on. Each simulated family is held against the row the tool makes of its
// identification: its own, or the common model's for one the table does not list. Two
// families share a listed identification: the MX25L8006E the MX25L8005's row, which must cover
// both; the XM25QH80B the M45PE80's, whose procedure it does not take (status bits the M45PE80
// lacks send it to the common procedure), so it is held against the common model. A family that
// does not answer 0x9F is one the tool does not program. Every chip is woken from deep power-down
// before it is identified, so the table's longest release (tRES1) must cover every family's, and
// each row's its own family's.
TEST(ChipTable, ReleaseFromDeepPowerDownCoversEveryFamily) {
    using namespace simcore;
    for (int k = 0; k < kFamilyCount; k++) {
        const Family& family = kFamilies[k];
        SCOPED_TRACE(family.name);
        EXPECT_GE(longest_release_us(),
                  static_cast<int>(family_time(family, kOpRelease, kMaximum)));
        const unsigned char id[3] = {static_cast<unsigned char>(family.jedec_id >> 16),
                                     static_cast<unsigned char>(family.jedec_id >> 8),
                                     static_cast<unsigned char>(family.jedec_id)};
        FlashChip chip;
        if (resolve_chip(id, &chip) == CHIP_KNOWN && std::strcmp(family.name, "xm25qh80b") != 0) {
            EXPECT_GE(chip.release_us, static_cast<int>(family_time(family, kOpRelease, kMaximum)));
        }
    }
    EXPECT_EQ(longest_release_us(), 30);
}

TEST(ChipTable, MaximaAreNeverBelowTheSimulatedFamilies) {
    using namespace simcore;
    const unsigned char unlisted[3] = {0x7A, 0x00, 0x19};
    FlashChip common;
    resolve_chip(unlisted, &common);
    int held = 0;
    for (int k = 0; k < kFamilyCount; k++) {
        const Family& family = kFamilies[k];
        SCOPED_TRACE(family.name);
        if ((family.commands & kNoJedecId) != 0)
            continue;
        const unsigned char id[3] = {static_cast<unsigned char>(family.jedec_id >> 16),
                                     static_cast<unsigned char>(family.jedec_id >> 8),
                                     static_cast<unsigned char>(family.jedec_id)};
        FlashChip chip;
        resolve_chip(id, &chip);
        if (std::strcmp(family.name, "xm25qh80b") == 0)
            chip = common;
        const struct {
            Operation op;
            long long tool_us;
        } limits[] = {
            {kOpStatusWrite, chip.status_write_max_ms * 1000LL},
            {kOpProgram, chip.program_max_us},
            {kOpErasePage, chip.sector_max_ms * 1000LL},
            {kOpErase64k, chip.sector_max_ms * 1000LL},
            {kOpEraseChip, chip.bulk_max_ms * 1000LL},
        };
        for (const auto& l : limits) {
            EXPECT_GE(l.tool_us, family_time(family, l.op, kMaximum))
                << "operation " << static_cast<int>(l.op);
        }
        held++;
    }
    EXPECT_EQ(held, kFamilyCount - 2); // all but the two older SST25 parts
}

} // namespace

namespace {

// "Which chip is this", asked once for every program: always a row, and its kind.
TEST(ChipTable, ResolverGivesARowOfEachKind) {
    const struct {
        unsigned char id[3];
        int kind;
        const char* name;
        int size;
    } cases[] = {
        {{0xBF, 0x25, 0x8E}, CHIP_KNOWN, "SST25VF080B", 1 << 20},
        {{0xEF, 0x40, 0x15}, CHIP_COMMON, "the flash", 2 << 20},
        {{0x7A, 0x00, 0x19}, CHIP_NO_SIZE, "the flash", 0},
        {{0xFF, 0xFF, 0xFF}, CHIP_SILENT, "the flash", 0},
        {{0x00, 0x00, 0x00}, CHIP_SILENT, "the flash", 0},
    };
    int longest_bulk = 0;
    for (int i = 0; i < flash_chip_count; i++)
        longest_bulk = std::max(longest_bulk, flash_chips[i].bulk_max_ms);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + std::to_string(c.kind));
        FlashChip chip;
        EXPECT_EQ(resolve_chip(c.id, &chip), c.kind);
        EXPECT_STREQ(chip.name, c.name);
        EXPECT_EQ(chip.size, c.size);
        if (c.kind == CHIP_KNOWN)
            continue;
        // The common model, with the table's longest times as its limits.
        EXPECT_EQ(chip.program, &PROGRAM_PAGES);
        EXPECT_EQ(chip.bulk_erase, 0xC7);
        EXPECT_EQ(chip.protection, &PROTECT_STATUS_WREN);
        EXPECT_EQ(chip.bulk_max_ms, longest_bulk);
        EXPECT_EQ(chip.status_write_max_ms, status_write_max_ms(nullptr));
        EXPECT_EQ(std::memcmp(chip.id, c.id, 3), 0);
    }
}

} // namespace
