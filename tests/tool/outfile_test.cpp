// A new file that must not replace anything: the name is checked when it is begun and again,
// in the same step as the file takes it, when it is finished.
#include "outfile.h"
#include "../support/process.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace {

TEST(NewFile, TakesItsNameOnlyIfNothingHasIt) {
    std::string dir = make_temp_dir();
    std::string path = dir + "/backup.bin";
    const unsigned char data[] = {1, 2, 3};
    char reason[64];
    NewFile file;

    ASSERT_EQ(new_file_begin(&file, path.c_str(), reason, sizeof reason), 0);
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"backup.bin.0.tmp"});
    EXPECT_EQ(new_file_finish(&file, data, sizeof data, reason, sizeof reason), 0);
    EXPECT_EQ(read_file(path), "\x01\x02\x03");
    EXPECT_EQ(new_file_begin(&file, path.c_str(), reason, sizeof reason), OUTFILE_EXISTS);

    // Something takes the name while the file is being made: a file, or a link to nowhere.
    for (std::string other : {"file", "link"}) {
        SCOPED_TRACE(other);
        std::string late = dir + "/late-" + other;
        ASSERT_EQ(new_file_begin(&file, late.c_str(), reason, sizeof reason), 0);
        if (other == "file")
            write_file(late, "made meanwhile");
        else
            ASSERT_EQ(symlink("nowhere", late.c_str()), 0);
        EXPECT_EQ(new_file_finish(&file, data, sizeof data, reason, sizeof reason), OUTFILE_EXISTS);
        EXPECT_STREQ(reason, "File exists");
        EXPECT_EQ(read_file(late), other == "file" ? "made meanwhile" : "");
    }
    ASSERT_EQ(new_file_begin(&file, (dir + "/dropped").c_str(), reason, sizeof reason), 0);
    new_file_abandon(&file);
    EXPECT_EQ(folder_entries(dir),
              (std::vector<std::string>{"backup.bin", "late-file", "late-link"}));
}

} // namespace
