// kvx-log plot run as a technician runs it: pictures that decode with the size asked for and
// name the channels, and every bad option or input refused with a clear message and no picture.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QImage>
#include <QString>
#include <QXmlStreamReader>
#include <cstdlib>
#include <filesystem>

#include "overview_test_support.h"

namespace kvx {
namespace {

using test::TempDir;
using ::testing::HasSubstr;

class KvxLogPlot : public ::testing::Test {
  protected:
    void SetUp() override {
        test::useCentralEuropeanTime();
        setenv("XDG_CACHE_HOME", cache_.path().c_str(), 1);
        h10_ = test::utc(2026, 12, 8, 9, 0, 0);
        logs_ = work_.file("logs");
        std::filesystem::create_directory(logs_);
        for (int h = 0; h < 3; ++h) {
            std::vector<LogRecord> records = test::steadyRecords(
                h10_ + h * 3600, 3600, 1, [h](int f) { return f == 15 ? 1500 + 100 * h : 10 * f; });
            if (h == 1) records[100].time = 3;  // damaged
            test::writeBytes(logs_ + "/" + test::logNameFor(h10_ + h * 3600),
                             test::logBytes(records));
        }
    }
    void TearDown() override { unsetenv("XDG_CACHE_HOME"); }

    test::ToolRun plot(std::vector<std::string> args) {
        args.insert(args.begin(), "plot");
        return test::runProgram(KVX_LOG_TOOL, args, work_);
    }

    TempDir work_, cache_;
    std::string logs_;
    std::int64_t h10_ = 0;
};

TEST_F(KvxLogPlot, WritesAPngOfTheSizeAskedFor) {
    const std::string out = work_.file("day.png");
    const test::ToolRun run = plot({logs_, "--size", "900x500", "--out", out});
    EXPECT_EQ(run.status, 3) << run.err;  // one damaged record, named
    EXPECT_THAT(run.err, HasSubstr("log_2026_12_8_11.log: 1 of 3600 records damaged"));
    QImage image(QString::fromStdString(out));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 900);
    EXPECT_EQ(image.height(), 500);
    // Something is drawn: the traces of eight strips are far more than the frames.
    int coloured = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            coloured += std::abs(c.red() - c.blue()) > 60 || std::abs(c.green() - c.blue()) > 60;
        }
    EXPECT_GT(coloured, 3000);
}

TEST_F(KvxLogPlot, WritesAnSvgThatNamesTheChannelsAskedFor) {
    const std::string out = work_.file("two.svg");
    const test::ToolRun run =
        plot({logs_ + "/log_2026_12_8_10.log", logs_ + "/log_2026_12_8_12.log", "--channels",
              "engine_speed,GAS_FLOW", "--from", "2026-12-08T10:30", "--to", "2026-12-08T12:30",
              "--out", out});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::uint8_t> bytes = test::readBytes(out);
    QXmlStreamReader xml(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                    static_cast<qsizetype>(bytes.size())));
    QStringList texts;
    QString viewBox;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("svg")) {
            viewBox = xml.attributes().value("viewBox").toString();
        }
        if (xml.isStartElement() && xml.name() == QLatin1String("text"))
            texts << xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(viewBox.toStdString(), "0 0 1920 1080");
    EXPECT_TRUE(texts.contains("engine_speed (RPM)")) << texts.join('|').toStdString();
    EXPECT_TRUE(texts.contains("gas_flow (SCFM)"));
    EXPECT_FALSE(texts.contains("vibration (in/s)"));
    EXPECT_TRUE(texts.contains("KVX log 2026-12-08 10:30 to 2026-12-08 12:30, 2 files"));
    // The highest speed in view is the 12 o'clock file's.
    EXPECT_TRUE(texts.contains("1700"));
}

TEST_F(KvxLogPlot, RefusesBadOptionsAndInputsWithAClearErrorAndNoPicture) {
    const std::string empty = work_.file("empty"), foreign = work_.file("foreign");
    std::filesystem::create_directory(empty);
    std::filesystem::create_directory(foreign);
    test::writeBytes(foreign + "/readme.txt", {'h', 'i'});
    test::writeBytes(foreign + "/data.bin", std::vector<std::uint8_t>(900, 7));
    const std::string junk = work_.file("log_2026_12_8_10.log");
    test::writeBytes(junk, std::vector<std::uint8_t>(2000, 0xEE));
    const std::string out = work_.file("out.png");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--out", out}, 2, "plot needs a FILE or FOLDER"},
        {{logs_}, 2, "plot needs --out FILE.png or --out FILE.svg"},
        {{logs_, "--out", work_.file("out.jpg")},
         2,
         "for --out: expected a name ending in .png or .svg"},
        {{logs_, "--channels", "speed", "--out", out}, 2, "unknown channel 'speed' (channels: "},
        {{logs_, "--channels", "engine_speed,engine_speed", "--out", out},
         2,
         "channel 'engine_speed' is named twice"},
        {{logs_, "--from", "tomorrow", "--out", out},
         2,
         "bad value 'tomorrow' for --from: expected a local time"},
        {{logs_, "--from", "2026-12-08T12", "--to", "2026-12-08T11", "--out", out},
         2,
         "--to must be later than --from"},
        {{logs_, "--size", "20x20", "--out", out}, 2, "bad value '20x20' for --size"},
        {{logs_, "--colour", "red", "--out", out}, 2, "unknown option '--colour'"},
        {{empty, "--out", out},
         1,
         "empty holds no log files (log_<year>_<month>_<day>_<hour>.log)"},
        {{foreign, "--out", out}, 1, "foreign holds no log files"},
        {{junk, "--out", out}, 1, "not a KVX log file"},
        {{logs_, "--from", "2026-12-09", "--to", "2026-12-10", "--out", out},
         1,
         "no log files between 2026-12-09 00:00 and 2026-12-10 00:00"},
        {{logs_ + "/log_2026_12_8_10.log", "--from", "2026-12-09", "--out", out},
         1,
         "no records from 2026-12-09 00:00 on (the files hold 2026-12-08 10:00 to 2026-12-08 "
         "11:00)"},
        {{logs_, "--out", work_.file("no/such/folder.png")}, 1, "cannot write "},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const test::ToolRun run = plot(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.message));
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

}  // namespace
}  // namespace kvx
