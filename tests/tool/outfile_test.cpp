// A new file that must not replace anything: a name taken while the file was being made is left
// alone, and the temporary file goes.
#include "outfile.h"
#include "../support/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(NewFile, NameTakenMeanwhileIsLeftAlone) {
    std::string dir = make_temp_dir(), path = dir + "/backup.bin";
    const unsigned char data[] = {1, 2, 3};
    char reason[64];
    NewFile file;
    ASSERT_EQ(new_file_begin(&file, path.c_str(), reason, sizeof reason), 0);
    write_file(path, "made meanwhile");
    EXPECT_EQ(new_file_finish(&file, data, sizeof data, reason, sizeof reason), OUTFILE_EXISTS);
    EXPECT_STREQ(reason, "File exists");
    EXPECT_EQ(read_file(path), "made meanwhile");
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"backup.bin"});
}

} // namespace
