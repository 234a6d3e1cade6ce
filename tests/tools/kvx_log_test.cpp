// Runs the built kvx-log program on files made by the writer and by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "log/log_csv.h"
#include "log/log_writer.h"
#include "tests/log/log_test_support.h"

namespace kvx {
namespace {

#ifdef KVX_LOG_TOOL

class KvxLogTool : public ::testing::Test {
  protected:
    void SetUp() override { test::useCentralEuropeanTime(); }

    test::ToolRun run(std::vector<std::string> args) {
        return test::runProgram(KVX_LOG_TOOL, std::move(args), dir);
    }

    // Writes records through the writer into the file of 24 May 2014, 13:00 local time.
    std::string writeLog(const std::vector<LogRecord>& records, bool header) {
        LogWriter writer(dir.path(), [] { return test::at(2014, 5, 24, 13); });
        EXPECT_EQ(writer.openLogFile(
                      header ? LogWriter::kRequestHeader : LogWriter::kRequestConnect, 113),
                  LOG_OK);
        for (const LogRecord& r : records)
            EXPECT_EQ(writer.appendLogRecord(r), LOG_OK);
        EXPECT_EQ(writer.closeLogFile(), LOG_OK);
        return dir.file("log_2014_5_24_13.log");
    }

    static std::vector<LogRecord> varied(int count) {
        std::vector<LogRecord> records(static_cast<std::size_t>(count));
        for (int n = 0; n < count; ++n) {
            records[n].time = static_cast<std::int32_t>(test::utc(2014, 5, 24, 11, 0, 0)) + n / 5;
            for (int i = 0; i < kLogValueCount; ++i)
                records[n].values[i] = ((n * 7919 + i * 104729) % 65536) - 32768;
        }
        return records;
    }

    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> result;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }

    test::TempDir dir;
};

// "2014-05-24T13:00:00+02:00" back to calendar seconds.
std::int64_t parseIsoTime(const std::string& text) {
    int y, mo, d, h, mi, s, oh, om;
    char sign;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &y, &mo, &d, &h, &mi, &s,
                    &sign, &oh, &om) != 9)
        return -1;
    const std::int64_t offset = (sign == '-' ? -1 : 1) * (oh * 3600 + om * 60);
    return test::utc(y, mo, d, h, mi, s) - offset;
}

TEST_F(KvxLogTool, RawCsvGivesBackExactlyWhatTheWriterStored) {
    const std::vector<LogRecord> records = varied(300);
    const test::ToolRun r = run({"csv", writeLog(records, true), "--raw"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> rows = lines(r.out);
    ASSERT_EQ(rows.size(), records.size() + 1);
    EXPECT_EQ(rows[0] + "\n", csvHeaderRow());
    for (std::size_t n = 0; n < records.size(); ++n) {
        std::istringstream row(rows[n + 1]);
        std::string cell;
        ASSERT_TRUE(std::getline(row, cell, ','));
        LogRecord back;
        back.time = static_cast<std::int32_t>(parseIsoTime(cell));
        for (int i = 0; i < kLogValueCount; ++i) {
            ASSERT_TRUE(std::getline(row, cell, ',')) << rows[n + 1];
            back.values[i] = std::stoi(cell);
        }
        EXPECT_FALSE(std::getline(row, cell, ','));
        ASSERT_EQ(back, records[n]) << rows[n + 1];
    }
}

TEST_F(KvxLogTool, CsvWithoutRawWritesEngineeringUnits) {
    LogRecord record;
    record.time = static_cast<std::int32_t>(test::utc(2014, 5, 24, 11, 59, 59));
    record.values[2] = -5;     // engine_load, tenths
    record.values[19] = 1250;  // vibration_max, thousandths
    const test::ToolRun r = run({"csv", writeLog({record}, false)});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> rows = lines(r.out);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1],
              "2014-05-24T13:59:59+02:00,0,0,-0.5,0,0.000,0.0,0,0,0,0.00,0.0,0.0,0.00,0.00,0,0,"
              "0.0,0,0,1.250");
}

TEST_F(KvxLogTool, InfoDescribesEachFile) {
    const std::string withHeader = writeLog(varied(11), true);
    const std::string plain = dir.file("plain.log");
    std::vector<std::uint8_t> bytes = test::readBytes(withHeader);
    test::writeBytes(plain, std::vector<std::uint8_t>(bytes.begin() + 40, bytes.end()));
    const test::ToolRun r = run({"info", withHeader, plain});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, withHeader +
                         "\n"
                         "  title: KVX, Firmware ver: 1.13\n"
                         "  records: 11\n"
                         "  first record: 2014-05-24T13:00:00+02:00\n"
                         "  last record: 2014-05-24T13:00:02+02:00\n"
                         "  trailing partial record: none\n" +
                         plain +
                         "\n"
                         "  title: none (no header)\n"
                         "  records: 11\n"
                         "  first record: 2014-05-24T13:00:00+02:00\n"
                         "  last record: 2014-05-24T13:00:02+02:00\n"
                         "  trailing partial record: none\n");
}

TEST_F(KvxLogTool, ATitleWithControlBytesIsShownEscaped) {
    // Another tool's header: the signature, a terminal escape that clears the screen, a tab.
    const std::string title = "KVX \x1b[2J\tv\\1";
    std::vector<std::uint8_t> bytes(title.begin(), title.end());
    bytes.resize(40, 0);
    const std::string path = dir.file("other.log");
    test::writeBytes(path, bytes);
    const test::ToolRun r = run({"info", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  title: KVX \\x1b[2J\\x09v\\x5c1\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

// A file copied while the viewer writes it, or cut by a power loss, ends part way through a
// record or the header. Its whole records are the data; the cut is a warning, not a failure.
TEST_F(KvxLogTool, ACutFileGivesItsWholeRecordsWithAWarning) {
    struct Case {
        const char* name;
        bool header;
        int records;
        std::size_t keep;  // bytes of the file kept
        int wantRecords;
        const char* wantInfo;
        const char* wantWarning;
    };
    const Case cases[] = {
        {"partial record after a header", true, 4, 40 + 84 * 3 + 50, 3,
         "  trailing partial record: 50 bytes\n", "truncated: 50 bytes of a partial record"},
        {"partial record, no header", false, 3, 84 * 2 + 1, 2,
         "  trailing partial record: 1 bytes\n", "truncated: 1 bytes of a partial record"},
        {"header cut short", true, 1, 17, 0, "  header: truncated, 17 of 40 bytes\n",
         "truncated: the header is incomplete (17 of 40 bytes)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(dir.file("log_2014_5_24_13.log").c_str());  // the writer would append
        const std::string path = writeLog(varied(c.records), c.header);
        std::vector<std::uint8_t> bytes = test::readBytes(path);
        ASSERT_GT(bytes.size(), c.keep);
        bytes.resize(c.keep);
        test::writeBytes(path, bytes);

        const test::ToolRun info = run({"info", path});
        EXPECT_EQ(info.status, 0) << info.err;
        EXPECT_NE(info.out.find("  records: " + std::to_string(c.wantRecords) + "\n"),
                  std::string::npos)
            << info.out;
        EXPECT_NE(info.out.find(c.wantInfo), std::string::npos) << info.out;
        EXPECT_NE(info.err.find(path + ": warning: " + c.wantWarning), std::string::npos)
            << info.err;

        const test::ToolRun csv = run({"csv", path, "--raw"});
        EXPECT_EQ(csv.status, 0) << csv.err;
        EXPECT_EQ(lines(csv.out).size(), static_cast<std::size_t>(c.wantRecords) + 1);
        EXPECT_NE(csv.err.find(path + ": warning: " + c.wantWarning), std::string::npos) << csv.err;
    }
    // A cut file among others does not spoil the exit status; an unreadable one still does.
    std::remove(dir.file("log_2014_5_24_13.log").c_str());
    const std::string cut = writeLog(varied(2), false);
    std::vector<std::uint8_t> bytes = test::readBytes(cut);
    bytes.resize(bytes.size() - 5);
    const std::string cutCopy = dir.file("copy.log");
    test::writeBytes(cutCopy, bytes);
    EXPECT_EQ(run({"info", cutCopy, cut}).status, 0);
    EXPECT_EQ(run({"info", cutCopy, dir.file("missing.log")}).status, 1);
}

TEST_F(KvxLogTool, FilesThatAreNotLogsGiveAnErrorAndNoRows) {
    const std::string text = dir.file("notes.txt");
    const std::string s =
        "Site visit 24 May: engine ran rough at idle, replaced the gas valve actuator and "
        "checked the wiring of both banks.\n";
    test::writeBytes(text, std::vector<std::uint8_t>(s.begin(), s.end()));
    const std::string tiny = dir.file("tiny.log");
    test::writeBytes(tiny, std::vector<std::uint8_t>(30, 0));
    const std::string zeros = dir.file("zeros.log");
    test::writeBytes(zeros, std::vector<std::uint8_t>(84 * 2, 0));

    for (const std::string& path : {text, tiny, zeros}) {
        const test::ToolRun csv = run({"csv", path});
        EXPECT_EQ(csv.status, 1) << path;
        EXPECT_EQ(csv.out, "") << path;
        EXPECT_NE(csv.err.find(path + ": not a KVX log file"), std::string::npos) << csv.err;
    }
    // info goes on to the next file and still fails overall.
    const std::string good = writeLog(varied(2), false);
    const test::ToolRun info = run({"info", text, dir.file("missing.log"), dir.path(), good});
    EXPECT_EQ(info.status, 1);
    EXPECT_EQ(info.out.rfind(good + "\n", 0), 0u) << info.out;
    EXPECT_NE(info.err.find("missing.log: cannot open: No such file or directory"),
              std::string::npos)
        << info.err;
    EXPECT_NE(info.err.find(dir.path() + ": is a directory"), std::string::npos);
}

// A damaged record costs only itself: every readable record is given, each damaged one is
// named by its number on standard error, and the exit status says that some were skipped.
TEST_F(KvxLogTool, DamagedRecordsAreSkippedNamedAndCounted) {
    const std::int32_t hourStart = static_cast<std::int32_t>(test::utc(2014, 5, 24, 11, 0, 0));
    struct Case {
        const char* name;
        std::vector<int> damaged;  // record numbers changed by damage
        void (*damage)(LogRecord&);
        int wantStatus;
        std::vector<const char*> wantErr;  // on standard error
    };
    const Case cases[] = {
        {"bytes of another kind in one record",
         {37},
         [](LogRecord& r) {
             r.time = static_cast<std::int32_t>(test::utc(1921, 3, 2, 4, 5, 6));
             r.values[15] = -1515870811;
         },
         3,
         {"record 37 ", "before 1980", "1 of 100 records damaged"}},
        {"a value no register can have, first and last record",
         {0, 99},
         [](LogRecord& r) { r.values[15] = -1515870811; },
         3,
         {"record 0 ", "record 99 ", "engine_speed is -1515870811", "2 of 100 records damaged"}},
        {"a time hours away from the file's hour",
         {50},
         [](LogRecord& r) { r.time += 3 * 3600; },
         3,
         {"record 50 ", "outside the file's hour", "1 of 100 records damaged"}},
        {"a record stamped seconds after the hour ended is not damage",
         {99},
         [](LogRecord& r) { r.time = static_cast<std::int32_t>(test::utc(2014, 5, 24, 12, 0, 4)); },
         0,
         {}},
        {"every record damaged",
         {},
         [](LogRecord& r) { r.values[3] = 1 << 20; },
         1,
         {"record 0 ", "no readable record"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(dir.file("log_2014_5_24_13.log").c_str());
        std::vector<LogRecord> records = varied(100);
        std::vector<bool> bad(records.size(), c.damaged.empty());
        for (int n : c.damaged)
            bad[n] = true;
        for (std::size_t n = 0; n < records.size(); ++n) {
            records[n].time = hourStart + static_cast<std::int32_t>(n) * 30;
            if (bad[n] && c.wantStatus != 0) c.damage(records[n]);
        }
        for (int n : c.damaged)
            if (c.wantStatus == 0) c.damage(records[n]);
        const std::string path = writeLog(records, true);

        const test::ToolRun csv = run({"csv", path, "--raw"});
        EXPECT_EQ(csv.status, c.wantStatus) << csv.err;
        std::string want = c.wantStatus == 1 ? "" : csvHeaderRow();
        for (std::size_t n = 0; n < records.size() && c.wantStatus != 1; ++n)
            if (!bad[n] || c.wantStatus == 0) appendCsvRow(records[n], true, want);
        EXPECT_EQ(lines(csv.out).size(), lines(want).size());
        EXPECT_TRUE(csv.out == want) << "the rows are not exactly the readable records";
        for (const char* text : c.wantErr)
            EXPECT_NE(csv.err.find(text), std::string::npos) << text << " in\n" << csv.err;
        if (c.wantStatus == 0) {
            EXPECT_EQ(csv.err, "");
        }

        const test::ToolRun info = run({"info", path});
        EXPECT_EQ(info.status, c.wantStatus) << info.err;
        if (c.wantStatus == 3) {
            EXPECT_NE(info.out.find("  damaged records: " + std::to_string(c.damaged.size()) +
                                    ", skipped\n"),
                      std::string::npos)
                << info.out;
        }
    }
}

// A file renamed to another hour, or read in another time zone than the one it was written
// in: no record falls in the hour its name gives. That is not damage; the rows are all given.
TEST_F(KvxLogTool, RecordsAllOutsideTheNamedHourAreGivenWithAWarning) {
    std::vector<LogRecord> records = varied(20);
    for (LogRecord& r : records)
        r.time += 5 * 3600;
    const std::string path = writeLog(records, false);
    const test::ToolRun csv = run({"csv", path, "--raw"});
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(lines(csv.out).size(), records.size() + 1);
    EXPECT_NE(csv.err.find(path + ": warning: no record falls in the hour of the file name"),
              std::string::npos)
        << csv.err;
}

TEST_F(KvxLogTool, AnEmptyLogHasNoRows) {
    const std::string path = writeLog({}, false);
    const test::ToolRun csv = run({"csv", path});
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out, csvHeaderRow());
    const test::ToolRun info = run({"info", path});
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("  records: 0\n  first record: none\n"), std::string::npos);
}

TEST_F(KvxLogTool, BadUsageExitsWithTwoAndHelpWithZero) {
    const std::string path = writeLog(varied(1), false);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"dump", path},
                                               {"info"},
                                               {"csv"},
                                               {"csv", path, path},
                                               {"csv", path, "--rwa"},
                                               {"info", "--raw", path}}) {
        const test::ToolRun r = run(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("usage: kvx-log info FILE..."), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    const test::ToolRun version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("kvx-log ", 0), 0u) << version.out;
    const test::ToolRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: kvx-log info FILE...\n", 0), 0u);
    // "--" lets a file name start with a dash.
    EXPECT_EQ(run({"csv", "--raw", "--", path}).status, 0);
}

#endif  // KVX_LOG_TOOL

}  // namespace
}  // namespace kvx
