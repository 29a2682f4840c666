#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "audio/Interrupt.h"
#include "audio/SafeFile.h"
#include "support/Files.h"
#include "support/SmallFileSystem.h"
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

namespace {
std::vector<std::string> names(const std::string& dir) {
    std::vector<std::string> v;
    for (const auto& e : std::filesystem::directory_iterator(dir)) v.push_back(e.path().filename().string());
    std::sort(v.begin(), v.end());
    return v;
}
}  // namespace

// Until commit the new file has no name: neither an interrupt nor SIGKILL
// can leave a partial file in the folder.
TEST(SafeFile, NoPartialFileEvenWhenKilled) {
    TempDir dir;
    const std::string name = dir.file("x.bin");
    std::ofstream(name) << "old";
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            InstallInterruptCleanup();
            SafeFile f;
            if (!f.open(name)) ::_exit(3);
            std::string big(3 << 20, 'n');
            f.write(big.data(), big.size());
            ::raise(sig);
            ::_exit(4);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
        EXPECT_EQ(names(dir.path()), std::vector<std::string>{"x.bin"}) << sig;
        EXPECT_EQ(readFile(name), "old");
    }
    // While writing, the folder shows only the old file.
    SafeFile f;
    ASSERT_TRUE(f.open(name));
    f.write("new", 3);
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"x.bin"});
    ASSERT_TRUE(f.commit());
    EXPECT_EQ(readFile(name), "new");
}

// A named temporary file (where the file system has no unnamed ones) is
// removed by an interrupt, and the program still ends through the signal.
TEST(SafeFile, InterruptRemovesRegisteredTemporaryFiles) {
    TempDir dir;
    const std::string temp = dir.file("tempwav0.wav");
    std::ofstream(temp) << "partial";
    const pid_t pid = ::fork();
    if (pid == 0) {
        InstallInterruptCleanup();
        TempFileGuard guard(temp);
        ::raise(SIGTERM);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // A guard that ended no longer removes anything.
    std::ofstream(temp) << "kept";
    { TempFileGuard guard(temp); }
    EXPECT_EQ(readFile(temp), "kept");
}

TEST(SafeFile, SymbolicLinkKeepsPointingToTheReplacedFile) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("real").c_str(), 0755), 0);
    const std::string target = dir.file("real/song.wav");
    std::ofstream(target) << "old";
    const std::string link = dir.file("link.wav");
    ASSERT_EQ(::symlink("real/song.wav", link.c_str()), 0);
    SafeFile f;
    ASSERT_TRUE(f.open(link));
    f.write("new", 3);
    ASSERT_TRUE(f.commit());
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(names(dir.file("real")), std::vector<std::string>{"song.wav"});
    // A link to a file that is not there yet creates that file.
    const std::string dangling = dir.file("later.wav");
    ASSERT_EQ(::symlink("real/later.wav", dangling.c_str()), 0);
    SafeFile g;
    ASSERT_TRUE(g.open(dangling));
    g.write("made", 4);
    ASSERT_TRUE(g.commit());
    EXPECT_EQ(readFile(dir.file("real/later.wav")), "made");
}

TEST(SafeFile, HardLinksSeeTheNewContents) {
    TempDir dir;
    const std::string a = dir.file("a.mid");
    const std::string b = dir.file("b.mid");
    std::ofstream(a) << "old contents";
    ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
    struct stat before {};
    ::stat(a.c_str(), &before);
    SafeFile f;
    ASSERT_TRUE(f.open(a));
    f.write("new", 3);
    ASSERT_TRUE(f.commit());
    struct stat after {};
    ::stat(a.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(readFile(a), "new");
    EXPECT_EQ(readFile(b), "new");
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"a.mid", "b.mid"}));
}

// A pipe (like a device) is written into; it is not replaced by a file.
TEST(SafeFile, PipeIsWrittenIntoNotReplaced) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    SafeFile f;
    ASSERT_TRUE(f.open(fifo));
    f.write("through the pipe", 16);
    EXPECT_TRUE(f.commit());
    char buf[64] = {};
    EXPECT_EQ(::read(reader, buf, sizeof buf), 16);
    EXPECT_STREQ(buf, "through the pipe");
    ::close(reader);
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    // Without a reader the save fails at once instead of waiting.
    SafeFile g;
    EXPECT_FALSE(g.open(fifo));
    EXPECT_EQ(g.error(), ENXIO);
}

TEST(SafeFile, NameLongerThanTheFileSystemAllows) {
    TempDir dir;
    SafeFile f;
    EXPECT_FALSE(f.open(dir.file(std::string(300, 'n') + ".wav")));
    EXPECT_EQ(f.error(), ENAMETOOLONG);
    EXPECT_EQ(SaveErrorText(f.error()), "Der Dateiname ist zu lang.");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

namespace {

using notavox::testing::InSmallFileSystem;
using notavox::testing::kNoSmallFileSystem;

// The file's contents as (size, byte) when every byte is the same.
std::pair<size_t, char> uniform(const std::string& name) {
    std::string s;
    if (FILE* f = std::fopen(name.c_str(), "rb")) {
        char buf[1 << 16];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        std::fclose(f);
    }
    if (s.empty() || s != std::string(s.size(), s[0])) return {s.size(), '?'};
    return {s.size(), s[0]};
}

bool save(const std::string& name, size_t size, char c, int* error = nullptr) {
    SafeFile f;
    if (!f.open(name)) return false;
    const std::string block(size, c);
    f.write(block.data(), block.size());
    const bool ok = f.commit();
    if (error) *error = f.error();
    return ok;
}

}  // namespace

// Interrupted at any moment, a save onto a file with a second hard link
// leaves both names with the whole old or the whole new contents, and no
// other file. On a tmpfs, so that the rewrite takes a good share of every
// save and the interrupts fall into it.
TEST(SafeFile, HardLinkedTargetIsNeverCutByAnInterrupt) {
    TempDir dir;
    const int status = InSmallFileSystem(dir.path(), size_t(96) << 20, [&] {
        const std::string a = dir.file("a.mid"), b = dir.file("b.mid");
        constexpr size_t kOld = 1 << 20, kA = 3 << 20, kB = 2 << 20;
        if (!save(a, kOld, 'x') || ::link(a.c_str(), b.c_str()) != 0) return 2;
        int cut = 0;
        for (int round = 0; round < 12; ++round) {
            const pid_t saver = ::fork();
            if (saver == 0) {
                InstallInterruptCleanup();
                for (;;) {
                    save(a, kA, 'a');
                    save(a, kB, 'b');
                }
            }
            ::usleep(useconds_t(2000 + (round * 7919) % 15000));
            ::kill(saver, round % 2 ? SIGINT : SIGTERM);
            int st = 0;
            ::waitpid(saver, &st, 0);
            if (!WIFSIGNALED(st)) return 3;
            const auto got = uniform(a);
            const bool whole = got == std::pair<size_t, char>{kOld, 'x'} || got == std::pair<size_t, char>{kA, 'a'} ||
                               got == std::pair<size_t, char>{kB, 'b'};
            if (!whole || uniform(b) != got || names(dir.path()) != std::vector<std::string>{"a.mid", "b.mid"}) {
                std::fprintf(stderr, "round %d: %zu bytes of '%c'\n", round, got.first, got.second);
                ++cut;
            }
        }
        return cut == 0 ? 0 : 1;
    });
    if (status == kNoSmallFileSystem) GTEST_SKIP() << "no user and mount namespaces here";
    EXPECT_EQ(status, 0);
}

// A disk that fills up: a save that does not fit fails with its cause and
// leaves the old contents under every name; one that fits is written whole.
// The second name asks for room twice (the complete copy, then the growth of
// the file itself), which is reserved before the file is touched.
TEST(SafeFile, FullDiskLeavesTheOldContentsUnderEveryName) {
    TempDir dir;
    const int status = InSmallFileSystem(dir.path(), size_t(4) << 20, [&] {
        const std::string a = dir.file("a.mid"), b = dir.file("b.mid"), c = dir.file("c.mid");
        constexpr size_t kOld = 512 << 10;
        if (!save(a, kOld, 'o') || ::link(a.c_str(), b.c_str()) != 0) return 2;
        if (!save(dir.file("filler"), size_t(1) << 20, 'f')) return 2;  // 2.5 MB left
        int error = 0;
        // 2 MB: the copy fits, the file's growth by 1.5 MB beside it not.
        if (save(a, size_t(2) << 20, 'n', &error)) return 10;
        if (error != ENOSPC) return 11;
        if (uniform(a) != std::pair<size_t, char>{kOld, 'o'} || uniform(b) != uniform(a)) return 12;
        if (names(dir.path()) != std::vector<std::string>{"a.mid", "b.mid", "filler"}) return 13;
        // 1 MB fits twice: both names show it.
        if (!save(a, size_t(1) << 20, 'm')) return 20;
        if (uniform(a) != std::pair<size_t, char>{size_t(1) << 20, 'm'} || uniform(b) != uniform(a)) return 21;
        // A single name: the copy itself does not fit.
        if (!save(c, kOld, 'o')) return 2;
        if (save(c, size_t(3) << 20, 'n', &error) || error != ENOSPC) return 30;
        if (uniform(c) != std::pair<size_t, char>{kOld, 'o'}) return 31;
        return 0;
    });
    if (status == kNoSmallFileSystem) GTEST_SKIP() << "no user and mount namespaces here";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(SaveErrorText(ENOSPC), "Der Datenträger ist voll.");
}
