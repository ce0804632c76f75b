// The table of flash families against the makers' datasheets: what each program relies on.
#include "flash/chips.h"
#include "flash/commands.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

const int KIB = 1024;

TEST(ChipTable, EachFamilyAsItsDatasheetSays) {
    const struct {
        unsigned char id[3];
        const char* name;
        int size_kib;
        int program, status_enable, unprotect;
        int protection_register; // bytes
        bool bulk_erase;         // 0xC7
        bool id_gives_size;      // the third identification byte is the base-2 logarithm
    } facts[] = {
        {{0x20, 0x20, 0x14},
         "M25P80",
         1024,
         PROGRAM_PAGE,
         ENABLE_WREN,
         UNPROTECT_STATUS_0,
         0,
         true,
         true},
        {{0xEF, 0x40, 0x14},
         "W25Q80",
         1024,
         PROGRAM_PAGE,
         ENABLE_WREN,
         UNPROTECT_STATUS_0,
         0,
         true,
         true},
        {{0xC2, 0x20, 0x14},
         "MX25L8005",
         1024,
         PROGRAM_PAGE,
         ENABLE_WREN,
         UNPROTECT_STATUS_0,
         0,
         true,
         true},
        {{0xC8, 0x40, 0x14},
         "GD25Q80",
         1024,
         PROGRAM_PAGE,
         ENABLE_WREN,
         UNPROTECT_STATUS_0,
         0,
         true,
         true},
        {{0x1C, 0x31, 0x14},
         "EN25F80",
         1024,
         PROGRAM_PAGE,
         ENABLE_WREN,
         UNPROTECT_STATUS_0,
         0,
         true,
         true},
        {{0xEF, 0x40, 0x18},
         "W25Q128",
         16384,
         PROGRAM_PAGE,
         ENABLE_WREN,
         UNPROTECT_STATUS_0,
         0,
         true,
         true},
        {{0xBF, 0x25, 0x8E},
         "SST25VF080B",
         1024,
         PROGRAM_AAI_WORD,
         ENABLE_EWSR,
         UNPROTECT_STATUS_0,
         0,
         true,
         false},
        {{0xBF, 0x25, 0x8D},
         "SST25VF040B",
         512,
         PROGRAM_AAI_WORD,
         ENABLE_EWSR,
         UNPROTECT_STATUS_0,
         0,
         true,
         false},
        {{0xBF, 0x25, 0x41},
         "SST25VF016B",
         2048,
         PROGRAM_AAI_WORD,
         ENABLE_EITHER,
         UNPROTECT_STATUS_0,
         0,
         true,
         false},
        {{0xBF, 0x26, 0x41},
         "SST26VF016B",
         2048,
         PROGRAM_PAGE,
         ENABLE_WREN,
         UNPROTECT_SST26_GLOBAL,
         6,
         true,
         false},
        {{0x1F, 0x45, 0x01},
         "AT25DF081A",
         1024,
         PROGRAM_PAGE,
         ENABLE_WREN,
         UNPROTECT_AT25_GLOBAL,
         0,
         true,
         false},
        {{0x1F, 0x46, 0x01},
         "AT26DF161A",
         2048,
         PROGRAM_PAGE,
         ENABLE_WREN,
         UNPROTECT_AT25_GLOBAL,
         0,
         true,
         false},
        {{0x20, 0x40, 0x14},
         "M45PE80",
         1024,
         PROGRAM_PAGE,
         ENABLE_WREN,
         UNPROTECT_NONE,
         0,
         false,
         true},
    };
    ASSERT_EQ(flash_chip_count, static_cast<int>(sizeof facts / sizeof facts[0]));
    std::set<std::string> names;
    for (const auto& f : facts) {
        SCOPED_TRACE(f.name);
        const FlashChip* chip = find_chip(f.id);
        ASSERT_NE(chip, nullptr);
        names.insert(chip->name);
        EXPECT_STREQ(chip->name, f.name);
        EXPECT_EQ(chip->size, f.size_kib * KIB);
        EXPECT_EQ(chip->program, f.program);
        EXPECT_EQ(chip->status_enable, f.status_enable);
        EXPECT_EQ(chip->unprotect, f.unprotect);
        EXPECT_EQ(chip->protection_register, f.protection_register);
        EXPECT_EQ(chip->bulk_erase, f.bulk_erase ? 0xC7 : 0x00);
        EXPECT_EQ(mc_id_size(f.id) == chip->size, f.id_gives_size);
        // Every family erases 64 KiB sectors with 0xD8; the M45PE has page erase besides.
        EXPECT_EQ(chip->sector_erase, 0xD8);
        EXPECT_EQ(chip->page_erase, f.bulk_erase ? 0x00 : 0xDB);
        EXPECT_LE(chip->bulk_ms, chip->bulk_max_ms);
        EXPECT_LE(chip->sector_ms, chip->sector_max_ms);
        EXPECT_LE(chip->program_us, chip->program_max_us);
        EXPECT_GT(chip->program_us, 0);
    }
    EXPECT_EQ(names.size(), sizeof facts / sizeof facts[0]);

    // The 16 MiB chip's bulk erase: about 40 s, up to 200 s.
    const unsigned char w25q128[3] = {0xEF, 0x40, 0x18};
    EXPECT_EQ(find_chip(w25q128)->bulk_ms, 40000);
    EXPECT_EQ(find_chip(w25q128)->bulk_max_ms, 200000);
    const unsigned char unknown[3] = {0xEF, 0x40, 0x15};
    EXPECT_EQ(find_chip(unknown), nullptr);
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
    EXPECT_EQ(STATUS_AT25DF.idle, 0x10); // WPP: the pin held high
}

} // namespace
