// Runs the built kvx-render on log files made by the writer: pictures of logged moments, and
// a one-line refusal for whatever cannot be drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "log/log_file_name.h"
#include "log/log_writer.h"
#include "tests/log/log_test_support.h"

namespace kvx {
namespace {

#ifdef KVX_RENDER_TOOL

class KvxRenderLog : public ::testing::Test {
  protected:
    void SetUp() override { test::useCentralEuropeanTime(); }

    test::ToolRun run(std::vector<std::string> args) {
        return test::runProgram(KVX_RENDER_TOOL, std::move(args), dir);
    }

    // Ten minutes of a running engine from 13:00:00 local time, one record a second.
    std::string writeEngineLog() {
        LogWriter writer(dir.path(), [] { return test::at(2014, 5, 24, 13); });
        writer.openLogFile(LogWriter::kRequestHeader, 113);
        const std::int64_t start = test::utc(2014, 5, 24, 11, 0, 0);  // 13:00 summer time
        for (int n = 0; n < 600; ++n) {
            LiveData live;
            live.engine_speed = static_cast<int>(1500 + 900 * std::sin(n * 0.01));
            live.engine_load = static_cast<int>(2000 + 1500 * std::sin(n * 0.013));
            live.diesel_flow = static_cast<int>(400 + 300 * std::cos(n * 0.02));
            live.substitution_rate = static_cast<int>(300 + 250 * std::sin(n * 0.005));
            live.engine_hp = live.engine_load;
            live.pressure_sp = 812;
            live.pressure_sp_left = 800;
            live.pressure_fdbk_left = static_cast<int>(800 + 300 * std::sin(n * 0.05));
            live.actuator_left = static_cast<int>(2000 + 1500 * std::sin(n * 0.03));
            live.vibration = static_cast<int>(300 + 200 * std::sin(n * 0.1));
            live.exhaust_temp = 600 + n / 2;
            writer.appendLogRecord(LogRecord::fromLiveData(start + n, live));
        }
        writer.closeLogFile();
        return logFilePath(dir.path(), test::at(2014, 5, 24, 13));
    }
    // Pictures for a person go to $KVX_SNAPSHOT_DIR when it is set.
    std::string picture(const char* name) {
        const char* keep = std::getenv("KVX_SNAPSHOT_DIR");
        return (keep && *keep ? std::string(keep) : dir.path()) + "/" + name + ".png";
    }

    test::TempDir dir;
};

TEST_F(KvxRenderLog, PicturesOfTwoMomentsDifferAndATimeFindsItsRecord) {
    const std::string log = writeEngineLog();
    const std::string early = picture("render_log_record_20");
    const std::string late = picture("render_log_record_450");
    const std::string at = picture("render_log_at_13_00_20");
    ASSERT_EQ(run({"--log", log, "--record", "20", "--out", early}).status, 0);
    ASSERT_EQ(run({"--log", log, "--record", "450", "--size", "1280x960", "--out", late}).status,
              0);
    const test::ToolRun r = run({"--log", log, "--at", "13:00:20", "--out", at});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto a = test::readBytes(early), b = test::readBytes(late), c = test::readBytes(at);
    ASSERT_GT(a.size(), 1000u);
    EXPECT_EQ(std::vector<std::uint8_t>(a.begin(), a.begin() + 8),
              (std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}));
    EXPECT_NE(a, b);
    EXPECT_EQ(a, c);  // 13:00:20 is record 20
}

TEST_F(KvxRenderLog, WhatCannotBeDrawnIsOneLineAndNoPicture) {
    const std::string log = writeEngineLog();
    const std::string empty = dir.file("empty.log");
    test::writeBytes(empty, {});
    const std::string out = dir.file("out.png");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    } const cases[] = {
        {{"--log", dir.file("missing.log"), "--record", "0", "--out", out}, 1, "cannot read"},
        {{"--log", empty, "--record", "0", "--out", out}, 1, "holds no records"},
        {{"--log", log, "--record", "600", "--out", out}, 1, "no record 600"},
        {{"--log", log, "--at", "14:00:00", "--out", out}, 1, "no record at 14:00:00"},
        {{"--log", log, "--record", "1", "--out", dir.path() + "/no/such/dir/x.png"},
         1,
         "cannot write"},
        {{"--log", log, "--out", out}, 2, "--record"},
        {{"--log", log, "--record", "1", "--at", "13:00:00", "--out", out}, 2, "--record"},
        {{"--log", log, "--record", "1"}, 2, "--out"},
        {{"--log", log, "--record", "-1", "--out", out}, 2, "for --record"},
        {{"--log", log, "--record", "1x", "--out", out}, 2, "for --record"},
        {{"--log", log, "--at", "25:00:00", "--out", out}, 2, "for --at"},
        {{"--log", log, "--at", "1:00:00", "--out", out}, 2, "for --at"},
        {{"--log", log, "--record", "1", "--size", "800", "--out", out}, 2, "for --size"},
        {{"--log", log, "--record", "1", "--size", "0x600", "--out", out}, 2, "for --size"},
        {{"--record", "1", "--out", out}, 2, "--log"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const test::ToolRun r = run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("kvx-render: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(test::readBytes(out).empty());
    }
}

#endif

}  // namespace
}  // namespace kvx
