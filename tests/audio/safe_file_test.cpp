#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "audio/SafeFile.h"
#include "support/Files.h"
#include "support/TempDir.h"

using namespace notavox;
using notavox::testing::readFile;
using notavox::testing::TempDir;

namespace {
size_t entries(const std::string& dir) {
    return size_t(std::distance(std::filesystem::directory_iterator(dir), {}));
}
}  // namespace

TEST(SafeFile, ReplacesOnlyOnCommit) {
    TempDir dir;
    const std::string name = dir.file("x.bin");
    std::ofstream(name) << "old";
    {
        SafeFile f;
        ASSERT_TRUE(f.open(name));
        ASSERT_TRUE(f.write("new contents", 12));
        EXPECT_EQ(readFile(name), "old");  // still the old file while writing
    }  // abandoned: discarded
    EXPECT_EQ(readFile(name), "old");
    EXPECT_EQ(entries(dir.path()), 1u);

    SafeFile f;
    ASSERT_TRUE(f.open(name));
    std::string big(3 << 20, 'a');  // larger than the buffer
    ASSERT_TRUE(f.write("x", 1));
    ASSERT_TRUE(f.write(big.data(), big.size()));
    ASSERT_TRUE(f.commit());
    EXPECT_EQ(readFile(name), "x" + big);
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(SafeFile, KeepsModeOfReplacedFileAndRefusesFolders) {
    TempDir dir;
    const std::string name = dir.file("m.bin");
    std::ofstream(name) << "old";
    ::chmod(name.c_str(), 0640);
    SafeFile f;
    ASSERT_TRUE(f.open(name));
    f.write("n", 1);
    ASSERT_TRUE(f.commit());
    struct stat st {};
    ::stat(name.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    SafeFile g;
    EXPECT_FALSE(g.open(dir.path()));
    EXPECT_FALSE(g.open(dir.file("missing/x.bin")));
    EXPECT_FALSE(g.commit());
}
