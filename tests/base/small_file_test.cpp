// A small file read whole: what is taken, and what is refused without waiting on it.
#include "base/small_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace kvx {
namespace {

namespace fs = std::filesystem;

TEST(SmallFile, ReadsOnlyARegularFileWithinItsSize) {
    const fs::path dir =
        fs::path(::testing::TempDir()) / ("kvx_small_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "folder");
    std::ofstream(dir / "ten") << "0123456789";
    std::ofstream(dir / "empty");
    // A pipe in the file's place is refused at once, not waited on for a writer.
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_symlink(dir / "ten", dir / "link");

    struct Case {
        const char* name;
        std::size_t maxBytes;
        SmallFile result;
        const char* text;
    } cases[] = {
        {"ten", 10, SmallFile::Read, "0123456789"},
        {"link", 10, SmallFile::Read, "0123456789"},  // a link to a file is that file
        {"empty", 10, SmallFile::Read, ""},
        {"ten", 9, SmallFile::Refused, ""},
        {"missing", 10, SmallFile::Missing, ""},
        {"folder", 10, SmallFile::Refused, ""},
        {"pipe", 10, SmallFile::Refused, ""},
    };
    for (const Case& c : cases) {
        std::string out = "left over";
        int openErrno = -1;
        EXPECT_EQ(readSmallFile((dir / c.name).string(), c.maxBytes, out, &openErrno), c.result)
            << c.name;
        EXPECT_EQ(out, c.text) << c.name;
        EXPECT_EQ(openErrno, c.result == SmallFile::Missing ? ENOENT : 0) << c.name;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kvx
