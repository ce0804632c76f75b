// Page-rounding and descrambling of accepted images (refusals are run on the executable).
#include "image.h"
#include "key.h"
#include "../support/process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i++)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

struct Loaded {
    int status;
    std::string out;
    unsigned char* buffer = nullptr;
    int pages = -1;
};

Loaded load(const std::string& path) {
    Loaded loaded{};
    std::string arg0 = "lptspi", arg1 = path;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    testing::internal::CaptureStdout();
    Image image{};
    loaded.status = prepare_image(2, argv, &image);
    if (loaded.status == 0) {
        loaded.buffer = image.bytes;
        loaded.pages = image.pages;
    }
    loaded.out = testing::internal::GetCapturedStdout();
    return loaded;
}

class ImageTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string file(const std::string& bytes) {
        std::string path = dir + "/image.bin";
        write_file(path, bytes);
        return path;
    }
};

TEST_F(ImageTest, AcceptedSizesRoundUpToWholePagesAndDescrambleTheSlackToKeyBytes) {
    const struct {
        size_t size;
        int pages;
    } cases[] = {{0, 0}, {1, 1}, {255, 1}, {256, 1}, {257, 2}, {MAX_IMAGE_SIZE, 4095}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::string raw = pattern(c.size);
        Loaded loaded = load(file(raw));
        ASSERT_EQ(loaded.status, 0);
        EXPECT_EQ(loaded.out, "");
        EXPECT_EQ(loaded.pages, c.pages);
        size_t length = c.size + 255;
        size_t mismatches = 0;
        for (size_t i = 0; i < length; i++) {
            unsigned char scrambled = i < c.size ? static_cast<unsigned char>(raw[i]) : 0;
            mismatches += loaded.buffer[i] != (scrambled ^ key[i]);
        }
        EXPECT_EQ(mismatches, 0u);
        std::free(loaded.buffer);
    }
}

// A file changed between its size being found and its bytes being read: `change` bytes
// appended (positive) or cut from the end (negative).
void change_file(const std::string& name, long change) {
    std::string bytes = read_file(name);
    if (change > 0)
        write_file(name, bytes + std::string(static_cast<size_t>(change), '\x77'));
    else
        ASSERT_EQ(truncate(name.c_str(), static_cast<off_t>(bytes.size()) + change), 0);
}

TEST_F(ImageTest, FileThatGrowsOrShrinksBeforeTheReadIsRefused) {
    // Growth that stays in the last page's slack (1, 255 bytes from a page boundary) would
    // otherwise go to the flash in place of key bytes; growth past it is cut at the slack. A
    // shrink is seen once the file is larger than what the first byte's read buffered.
    const struct {
        size_t size;
        long change;
    } cases[] = {{1000, 1}, {1000, 24}, {1024, 255},  {1000, 300},
                 {0, 1},    {9000, -1}, {9000, -5000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes, then " + std::to_string(c.change));
        std::string path = file(pattern(c.size));
        Image image{};
        FILE* opened = nullptr;
        int size = -1;
        testing::internal::CaptureStdout();
        ASSERT_EQ(open_image(path.c_str(), &opened, &size, &image), 0);
        change_file(path, c.change);
        const int status = read_image(opened, path.c_str(), size, &image);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cant read " + path + " \n");
        EXPECT_EQ(status, 1);
        EXPECT_EQ(image.bytes, nullptr);
        EXPECT_EQ(std::string(image.refused), path + " cannot be read");
    }
    // Unchanged, the same file loads.
    Loaded loaded = load(file(pattern(1000)));
    EXPECT_EQ(loaded.status, 0);
    EXPECT_EQ(loaded.pages, 4);
    std::free(loaded.buffer);
}

} // namespace
