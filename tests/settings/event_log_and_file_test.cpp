// The event log's texts, and the settings file: its reads by firmware, its bytes, and a write
// that never leaves half a file behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "settings/event_log.h"
#include "settings/settings_file.h"
#include "tests/support/fake_link.h"
#include "tests/support/file_size_limit.h"

namespace kvx {
namespace {

namespace fs = std::filesystem;

TEST(EventLog, RowsShowDateTimeAndEventAsTheControllerStoresThem) {
    struct Case {
        std::int16_t event, monthDay, year, time;
        const char *date, *clock, *text;
    };
    const Case cases[] = {
        {0, 0, 0, 0, "0/0/0", "0:0.0", ""},
        {0x4000, 0x0C1F, 14, 0x1A3D, "12/31/14", "13:7.5", " Gas ON "},
        {0x0001, 0x0101, 2026, static_cast<std::int16_t>(0xFFFF), "1/1/2026", "31:63.7",
         " Low supply pressure "},
        {0x0800, static_cast<std::int16_t>(0xFFFF), -1, 0x0008, "255/255/-1", "0:1.0",
         " Power up "},
    };
    // Each case in its own row, so a mixed-up word index shows.
    EventWords words{};
    for (int n = 0; n < 4; ++n) {
        const Case& c = cases[n];
        words[n] = c.event;
        words[10 + 2 * n] = c.monthDay;
        words[11 + 2 * n] = c.year;
        words[30 + n] = c.time;
    }
    const auto rows = eventLogRows(words);
    for (int n = 0; n < kEventRows; ++n) {
        SCOPED_TRACE(n);
        const Case& c = cases[n < 4 ? n : 0];
        EXPECT_EQ(rows[n].date, c.date);
        EXPECT_EQ(rows[n].time, c.clock);
        EXPECT_EQ(rows[n].event, c.text);
    }
    EXPECT_EQ(eventDateId(9), 1081);
    EXPECT_EQ(eventTextId(0), 1056);
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    EXPECT_EQ(at, text.size()) << "text after the last CR LF";
    return lines;
}

TEST(SettingsFile, ReadsAndLinesFollowTheFirmwareVersion) {
    using R = std::vector<std::pair<int, int>>;
    struct Case {
        int firmware;
        R reads;
        std::size_t lines;
        const char* header;
        const char* last;
    };
    const Case cases[] = {
        // Before 1.06 the controller gives no register after 92: those rows stay 0.
        {100, R{{1, 40}, {41, 40}, {81, 12}}, 116, "Dravo SN: 65535 ver. 1",
         "left_bank_sa_address,0"},
        {105, R{{1, 40}, {41, 40}, {81, 12}}, 116, "Dravo SN: 65535 ver. 1.05",
         "left_bank_sa_address,0"},
        // From 1.06 on it gives 81 to 114 in one read, as the calibration editor reads them.
        {106, R{{1, 40}, {41, 40}, {81, 34}}, 116, "Dravo SN: 65535 ver. 1.06",
         "left_bank_sa_address,114"},
        {111, R{{1, 40}, {41, 40}, {81, 34}}, 116, "Dravo SN: 65535 ver. 1.11",
         "left_bank_sa_address,114"},
        {112, R{{1, 40}, {41, 40}, {81, 12}, {93, 58}, {151, 1}}, 153, "Dravo SN: 65535 ver. 1.12",
         "gas_btu_ft3,151"},
        {114, R{{1, 40}, {41, 40}, {81, 12}, {93, 58}, {151, 1}}, 153, "Dravo SN: 65535 ver. 1.14",
         "gas_btu_ft3,151"},
        {115, R{{1, 40}, {41, 40}, {81, 12}, {93, 58}, {151, 24}}, 176, "Dravo SN: 65535 ver. 1.15",
         "min_substitution_rpm,174"},
        {117, R{{1, 40}, {41, 40}, {81, 12}, {93, 58}, {151, 24}, {175, 3}}, 179,
         "Dravo SN: 65535 ver. 1.17", "spare1,177"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware);
        test::FakeLink link;
        link.open = true;
        for (int r = 1; r <= 177; ++r)
            link.holding[r] = static_cast<std::int16_t>(r);
        link.holding[2] = static_cast<std::int16_t>(c.firmware);
        link.holding[3] = -1;  // serial numbers are shown unsigned
        link.holding[63] = -1;
        SettingsImage image;
        image.fill(7);  // nothing of an earlier image survives
        ASSERT_EQ(readSettingsImage(link, 1, c.firmware, image), 0);
        R reads;
        for (const auto& call : link.calls)
            reads.emplace_back(call.ref, call.count);
        EXPECT_EQ(reads, c.reads);
        const auto lines = linesOf(settingsFileText(image, c.firmware));
        ASSERT_EQ(lines.size(), c.lines);
        EXPECT_EQ(lines[0], c.header);
        EXPECT_EQ(lines[1], "");
        EXPECT_EQ(lines[2], "product_type,1");
        EXPECT_EQ(lines[64], "sibstit_load2,65535");
        if (c.last) {
            EXPECT_EQ(lines.back(), c.last);
        }
    }
}

std::string contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(SettingsFile, AFailedWriteLeavesTheOldFileAndNothingElse) {
    const fs::path dir =
        fs::path(::testing::TempDir()) / ("kvx_file_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path file = dir / "backup.csv";
    EXPECT_EQ(writeFileAtomically(file.string(), "old\r\n"), "");
    EXPECT_EQ(writeFileAtomically(file.string(), "new\r\n"), "");
    EXPECT_EQ(contents(file), "new\r\n");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(file).permissions()), 0666 & ~mask);

    EXPECT_NE(writeFileAtomically((dir / "missing" / "x.csv").string(), "x"), "");
    EXPECT_NE(writeFileAtomically(dir.string(), "x"), "");
    EXPECT_EQ(writeFileAtomically((file / "x.csv").string(), "x"), "Not a directory");
    {
        // A disk that fills part-way through the file.
        const test::ScopedFileSizeLimit limit(100);
        EXPECT_EQ(writeFileAtomically(file.string(), std::string(1000, 'x')), "File too large");
    }
    EXPECT_EQ(contents(file), "new\r\n");
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
        ++entries;
    EXPECT_EQ(entries, 1);  // no temporary file left behind
    fs::remove_all(dir);
}

// A link is written through to its target, which it keeps pointing at; a link to a file not
// there yet creates that file.
TEST(SettingsFile, ASymbolicLinkIsWrittenThroughToItsTarget) {
    const fs::path dir =
        fs::path(::testing::TempDir()) / ("kvx_link_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "units");
    std::ofstream(dir / "units" / "unit7.csv", std::ios::binary) << "old\r\n";
    fs::create_symlink("units/unit7.csv", dir / "unit7.csv");  // relative to the link's folder
    fs::create_symlink(dir / "unit7.csv", dir / "again.csv");  // a link to the link
    fs::create_symlink("units/new.csv", dir / "new.csv");      // to a file not there yet
    const std::pair<const char*, const char*> cases[] = {
        {"unit7.csv", "units/unit7.csv"},
        {"again.csv", "units/unit7.csv"},
        {"new.csv", "units/new.csv"},
    };
    for (auto [link, target] : cases) {
        SCOPED_TRACE(link);
        const std::string text = std::string("from ") + link + "\r\n";
        EXPECT_EQ(writeFileAtomically((dir / link).string(), text), "");
        EXPECT_TRUE(fs::is_symlink(dir / link));
        EXPECT_EQ(contents(dir / target), text);
    }
    EXPECT_EQ(fs::read_symlink(dir / "unit7.csv"), "units/unit7.csv");
    // A link to a pipe leads to no file to replace.
    ASSERT_EQ(::mkfifo((dir / "units" / "pipe").c_str(), 0600), 0);
    fs::create_symlink("units/pipe", dir / "pipe.csv");
    EXPECT_EQ(writeFileAtomically((dir / "pipe.csv").string(), "x"), "it is not a file");
    EXPECT_TRUE(fs::is_fifo(dir / "units" / "pipe"));
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::recursive_directory_iterator(dir))
        ++entries;
    EXPECT_EQ(entries, 8);  // four links, the folder, two files and the pipe: nothing left over
    fs::remove_all(dir);
}

// An existing, writable file in a folder this user may not create files in: the file is
// written in place. Root may create files anywhere, so then the writes run as nobody in a
// child process (the folder is root's and 0555, the file 0666); any other user is refused
// by the folder's mode alone.
TEST(SettingsFile, AFileInAFolderThatRefusesNewFilesIsWrittenInPlace) {
    // The child runs this test again from the start: the folder's name is handed down to it.
    const char* handed = std::getenv("KVX_TEST_LOCKED_DIR");
    const fs::path dir =
        handed ? fs::path(handed)
               : fs::path(::testing::TempDir()) / ("kvx_locked_" + std::to_string(::getpid()));
    if (!handed) ::setenv("KVX_TEST_LOCKED_DIR", dir.c_str(), 1);
    if (fs::exists(dir)) ::chmod(dir.c_str(), 0755);
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path file = dir / "unit7.csv";
    std::ofstream(file, std::ios::binary) << "old\r\n";
    ::chmod(file.c_str(), 0666);
    ::chmod(dir.c_str(), 0555);
    if (::geteuid() == 0) {
        // Whether this process may become nobody at all (a container may forbid it).
        const pid_t child = ::fork();
        if (child == 0) ::_exit(::setresuid(65534, 65534, 65534) == 0 ? 0 : 1);
        int status = -1;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            ::unsetenv("KVX_TEST_LOCKED_DIR");
            ::chmod(dir.c_str(), 0755);
            fs::remove_all(dir);
            GTEST_SKIP() << "root that cannot become nobody: the folder's mode would not apply";
        }
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && ::setresuid(65534, 65534, 65534) != 0) std::_Exit(77);
            std::string shown;
            shown += "[" + writeFileAtomically(file.string(), "new") + "]";
            {
                // The disk fills part-way: the old text is put back.
                const test::ScopedFileSizeLimit limit(100);
                shown += "[" + writeFileAtomically(file.string(), std::string(1000, 'x')) + "]";
            }
            shown += "[" + contents(file) + "]";
            shown += "[" + writeFileAtomically(file.string(), "newer\r\n") + "]";
            // A file that is not there cannot be made in such a folder.
            shown += "[" + writeFileAtomically((dir / "other.csv").string(), "x") + "]";
            std::fprintf(stderr, "%s\n", shown.c_str());
            std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        "\\[\\]\\[File too large\\]\\[new\\]\\[\\]\\[Permission denied\\]\n");
    ::unsetenv("KVX_TEST_LOCKED_DIR");
    ::chmod(dir.c_str(), 0755);
    EXPECT_EQ(contents(file), "newer\r\n");
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
        ++entries;
    EXPECT_EQ(entries, 1);
    fs::remove_all(dir);
}

TEST(SettingsFile, CsvIsAddedOnlyWhenTheFileNameHasNoDot) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/u/.local/share/Orvik_KVX/unit7", "/home/u/.local/share/Orvik_KVX/unit7.csv"},
        {"/tmp/unit7.csv", "/tmp/unit7.csv"},
        {"/tmp/unit7.txt", "/tmp/unit7.txt"},
        {"unit7", "unit7.csv"},
    };
    for (auto [chosen, used] : cases)
        EXPECT_EQ(withCsvExtension(chosen), used) << chosen;
}

}  // namespace
}  // namespace kvx
