// Page-rounding and descrambling of accepted images (refusals are run on the executable).
#include "image.h"
#include "key.h"
#include "../support/process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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
    loaded.status = prepare_image(2, argv, &loaded.buffer, &loaded.pages);
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

} // namespace
