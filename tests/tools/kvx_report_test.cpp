// Runs the built kvx-report as a technician does, offline from generated files and live against
// the simulator, and reads the PDF back as text (pdftotext): every section and value, both
// papers, long notes across pages, and a one-line refusal without a PDF for bad input.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log/log_file_name.h"
#include "log/log_writer.h"
#include "model/registers.h"
#include "overview/channel_table.h"
#include "settings/settings_file.h"
#include "tests/log/log_test_support.h"
#include "tests/tools/child_process.h"

namespace kvx {
namespace {

#ifdef KVX_REPORT_TOOL

void put(SettingsImage& image, int reference, int value) {
    image[static_cast<std::size_t>(reference - 1)] = static_cast<std::int16_t>(value);
}

SettingsImage sampleImage() {
    SettingsImage image{};
    put(image, ref::product_type, 3);
    put(image, ref::version, 117);
    put(image, ref::serial_number, 4242);
    put(image, ref::modbus_address, 7);
    put(image, ref::indicator_type, 1);
    put(image, 41, 1234);  // load_sp0: 123.4 kW
    put(image, 51, 250);   // pressure_sp0: 2.500 in.W.C.
    put(image, 107, 126);  // low_batt_limit: 12.6 V
    put(image, 130, 1);    // low_supply_press_email: Enabled
    return image;
}

std::vector<std::string> pagesOf(const std::string& text) {
    std::vector<std::string> pages;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\f', start)) != std::string::npos; start = at + 1)
        pages.push_back(text.substr(start, at - start));
    if (start < text.size() && text.find_first_not_of(" \n", start) != std::string::npos)
        pages.push_back(text.substr(start));
    return pages;
}

// Runs of spaces as one: pdftotext -layout spaces columns by the page's widths.
std::string squeezed(const std::string& text) {
    std::string out;
    for (const char ch : text)
        if (ch != ' ' || out.empty() || out.back() != ' ') out += ch;
    return out;
}

// The program's own lines on stderr (Qt may add its warnings).
long ownLines(const std::string& err) {
    long n = 0;
    for (std::size_t at = err.find("kvx-report:"); at != std::string::npos;
         at = err.find("kvx-report:", at + 1))
        ++n;
    return n;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class KvxReport : public ::testing::Test {
  protected:
    void SetUp() override {
        test::useCentralEuropeanTime();
        std::filesystem::create_directories(dir.file("logs"));
        std::filesystem::create_directories(dir.file("out"));
        setenv("XDG_CACHE_HOME", dir.file("cache").c_str(), 1);
        write(dir.file("settings.csv"), settingsFileText(sampleImage(), 117));
    }

    test::ToolRun report(std::vector<std::string> args) {
        return test::runProgram(KVX_REPORT_TOOL, std::move(args), dir);
    }

    // The PDF as text; "" when pdftotext fails.
    std::string text(const std::string& pdf) {
        const test::ToolRun r = test::runProgram(PDFTOTEXT_PATH, {"-layout", pdf, "-"}, dir);
        return r.status == 0 ? squeezed(r.out) : "";
    }

    // The sizes (points) of every font the PDF's text is set in, as pdftohtml measures them on
    // the page (a picture's scale included); empty when pdftohtml fails.
    std::vector<double> fontSizes(const std::string& pdf) {
        const test::ToolRun r =
            test::runProgram(PDFTOHTML_PATH, {"-xml", "-i", "-zoom", "1", "-stdout", pdf}, dir);
        std::vector<double> sizes;
        if (r.status != 0) return sizes;
        const std::string key = "<fontspec id=\"";
        for (std::size_t at = r.out.find(key); at != std::string::npos;
             at = r.out.find(key, at + 1)) {
            const auto size = r.out.find("size=\"", at);
            if (size != std::string::npos) sizes.push_back(std::atof(r.out.c_str() + size + 6));
        }
        return sizes;
    }

    // The resolution (pixels per inch across the page) each picture of the PDF is shown at;
    // empty when pdfimages fails.
    std::vector<double> pictureResolutions(const std::string& pdf) {
        const test::ToolRun r = test::runProgram(PDFIMAGES_PATH, {"-list", pdf}, dir);
        std::vector<double> ppi;
        if (r.status != 0) return ppi;
        std::istringstream lines(r.out);
        std::string line;
        while (std::getline(lines, line)) {
            // page num type width height color comp bpc enc interp object ID x-ppi ...
            std::istringstream fields(line);
            std::vector<std::string> f;
            for (std::string word; fields >> word;)
                f.push_back(word);
            if (f.size() > 12 && f[2] == "image") ppi.push_back(std::atof(f[12].c_str()));
        }
        return ppi;
    }

    std::string pageSize(const std::string& pdf) {
        const test::ToolRun r = test::runProgram(PDFINFO_PATH, {pdf}, dir);
        const auto at = r.out.find("Page size:");
        return at == std::string::npos ? "" : r.out.substr(at, r.out.find('\n', at) - at);
    }

    static void write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    // Two hours of a running engine from 13:00 local time, one record a second, with a spike of
    // the exhaust temperature at 14:20.
    void writeLogs() {
        for (int hour = 13; hour <= 14; ++hour) {
            LogWriter writer(dir.file("logs"), [hour] { return test::at(2014, 5, 24, hour); });
            writer.openLogFile(LogWriter::kRequestHeader, 117);
            const std::int64_t start = test::utc(2014, 5, 24, hour - 2, 0, 0);  // summer time
            for (int n = 0; n < 3600; n += 2) {
                LiveData live;
                live.engine_speed = static_cast<int>(1500 + 300 * std::sin(n * 0.002));
                live.engine_load = static_cast<int>(2000 + 1000 * std::sin(n * 0.003));
                live.diesel_flow = 400;
                live.exhaust_temp = hour == 14 && n == 1200 ? 1400 : 700;
                writer.appendLogRecord(LogRecord::fromLiveData(start + n, live));
            }
            writer.closeLogFile();
        }
    }

    // No PDF and no temporary file is left in out/.
    bool outEmpty() { return std::filesystem::is_empty(dir.file("out")); }

    test::TempDir dir;
};

TEST_F(KvxReport, OfflineReportHoldsEverySectionAndValueOnBothPapers) {
    writeLogs();
    SettingsImage before = sampleImage();
    put(before, 41, 1000);
    put(before, 107, 120);
    write(dir.file("before.csv"), settingsFileText(before, 117));
    write(dir.file("notes.txt"),
          "Replaced the gas flow sensor.\nCalibrated the fuel pressure schedule.\n");
    struct Case {
        const char* paper;
        const char* size;
    };
    for (const Case c :
         {Case{"a4", "595 x 842 pts (A4)"}, Case{"letter", "612 x 792 pts (letter)"}}) {
        SCOPED_TRACE(c.paper);
        const std::string pdf = dir.file("out/report.pdf");
        const test::ToolRun r =
            report({"--settings", dir.file("settings.csv"), "--logs", dir.file("logs"), "--before",
                    dir.file("before.csv"), "--text", dir.file("notes.txt"), "--paper", c.paper,
                    "--out", pdf});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pageSize(pdf), std::string("Page size:       ") + c.size);
        const std::string t = text(pdf);
        for (const char* expected :
             {"Service Report", "Controller", "Product type", "Firmware version", "1.17",
              "Serial number", "4242", "Slave address", "Report date",
              "2014-05-24 13:00 to 2014-05-24 14:59",
              // the panel at the last record, as a picture and its readings
              "The panel at the logged moment 2014-05-24 14:59:58", "Engine speed", "rpm",
              "Diesel flow", "40.0",
              // only the changes, old and new side by side
              "Settings changed", "Against the backup before.csv", "41 load_sp0 100.0 kW 123.4 kW",
              "107 low_batt_limit 12.0 V 12.6 V", "Event log",
              "Not read: the event log is held by the controller", "Overview of the visit",
              "Logged from 2014-05-24 13:00 to 2014-05-24 14:59", "Technician's notes",
              "Replaced the gas flow sensor.", "Calibrated the fuel pressure schedule.",
              "page 1 of"}) {
            EXPECT_NE(t.find(expected), std::string::npos) << expected << "\n" << t;
        }
        // Every strip of the overview is named, letter for letter ("diesel_flow", never a
        // ligature).
        for (const int field : defaultOverviewFields()) {
            const OverviewChannel& c = overviewChannel(field);
            std::string label(c.name);
            if (!c.unit.empty()) label += " (" + std::string(c.unit) + ")";
            EXPECT_NE(t.find(label), std::string::npos) << label << "\n" << t;
        }
        // No text on any page, the overview's lettering included, is under 9 pt (pdftohtml
        // rounds a size to whole points).
        const std::vector<double> sizes = fontSizes(pdf);
        ASSERT_FALSE(sizes.empty());
        EXPECT_GE(*std::min_element(sizes.begin(), sizes.end()), 9.0);
        // The panel is a picture: its smallest lettering (the window's 11-pixel font) is 9 pt
        // or more on the page when the picture is shown at 11 / 9 inch per 72 pixels or less.
        const std::vector<double> ppi = pictureResolutions(pdf);
        ASSERT_EQ(ppi.size(), 1u);
        EXPECT_LE(ppi[0], 72.0 * 11 / 9);
        // Unchanged settings are not listed.
        EXPECT_EQ(t.find("pressure_sp0"), std::string::npos);
        std::filesystem::remove(pdf);
    }
}

// The panel of a chosen logged moment shows that record: the spike logged at 14:20:00.
TEST_F(KvxReport, ThePanelShowsTheRecordOfTheMomentAskedFor) {
    writeLogs();
    const std::string pdf = dir.file("out/at.pdf");
    const test::ToolRun r = report({"--settings", dir.file("settings.csv"), "--logs",
                                    dir.file("logs"), "--at", "2014-05-24T14:20", "--out", pdf});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string t = text(pdf);
    EXPECT_NE(t.find("The panel at the logged moment 2014-05-24 14:20:00 (record 600 of"),
              std::string::npos)
        << t;
    EXPECT_NE(t.find("Exhaust temperature 1400 F"), std::string::npos) << t;
}

TEST_F(KvxReport, WithoutABackupEveryScreenIsListedInEngineeringUnits) {
    const std::string pdf = dir.file("out/report.pdf");
    const test::ToolRun r = report({"--settings", dir.file("settings.csv"), "--out", pdf});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string t = text(pdf);
    for (const char* expected :
         {"Fuel Pressure Schedule Settings", "Diesel Flow Schedule / Substitution Settings",
          "Exhaust Temperature Settings", "Vibration Sensor Settings", "Vibration Maximum Schedule",
          "Flow Control Settings", "Configure Alarm Email Enablers", "Other registers (as stored)",
          "load (kW)", "pressure (in.W.C.)", "123.4", "2.500", "Low Battery Limit", "12.6",
          "Low supply pressure", "Enabled",
          "No panel: neither a controller nor a log record was given.", "No logs were given.",
          "(none)"})
        EXPECT_NE(t.find(expected), std::string::npos) << expected << "\n" << t;
}

// Long notes run over several pages; every line comes back once and whole, every table row
// stands on one page.
TEST_F(KvxReport, LongNotesAndTablesRunAcrossPagesWithoutCuttingALine) {
    std::string notes;
    for (int i = 0; i < 400; ++i)
        notes += "Note line " + std::to_string(1000 + i) + " checked.\n";
    const std::string word(700, 'q');
    notes += word + "\n";
    write(dir.file("notes.txt"), notes);
    for (const char* paper : {"a4", "letter"}) {
        SCOPED_TRACE(paper);
        const std::string pdf = dir.file("out/long.pdf");
        const test::ToolRun r = report({"--settings", dir.file("settings.csv"), "--text",
                                        dir.file("notes.txt"), "--paper", paper, "--out", pdf});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string t = text(pdf);
        const std::vector<std::string> pages = pagesOf(t);
        ASSERT_GT(pages.size(), 8u);
        for (int i = 0; i < 400; ++i) {
            const std::string line = "Note line " + std::to_string(1000 + i) + " checked.";
            EXPECT_EQ(count(t, line), 1u) << line;
        }
        // The long word is broken across lines, never cut: its letters all come back.
        // (Only lines of nothing but q count: the temporary folder's name may hold a q.)
        std::size_t qs = 0;
        std::istringstream lines(t);
        for (std::string line; std::getline(lines, line);) {
            const auto first = line.find_first_not_of(" \f");
            if (first == std::string::npos) continue;
            const auto last = line.find_last_not_of(' ') + 1;
            const auto end = std::min(line.find_first_not_of('q', first), line.size());
            if (end == last) qs += last - first;
        }
        EXPECT_EQ(qs, word.size());
        // A row of the registers' table (number, name, value) stands whole on one page.
        for (const char* row : {"3 serial_number 4242", "4 modbus_address 7", "177 "}) {
            int on = 0;
            for (const std::string& page : pages)
                on += page.find(row) != std::string::npos;
            EXPECT_GE(on, 1) << row;
        }
        const std::string total = "of " + std::to_string(pages.size());
        EXPECT_NE(pages.back().find("page " + std::to_string(pages.size()) + " " + total),
                  std::string::npos)
            << pages.back();
    }
}

TEST_F(KvxReport, BadInputIsRefusedByNameAndLeavesNoPdf) {
    write(dir.file("garbled.csv"), "Dravo SN: 12 ver. 1.17\r\n\r\nnot,a,settings file\r\n");
    std::filesystem::create_directories(dir.file("empty"));
    std::filesystem::create_directories(dir.file("other"));
    write(dir.file("other/notes.txt"), "nothing to see");
    std::filesystem::create_directories(dir.file("fake"));
    write(dir.file("fake/log_2014_5_24_13.log"), std::string(84 * 20, '\xff'));
    writeLogs();  // 2014-05-24 13:00 to 14:59
    const std::string out = dir.file("out/r.pdf");
    const std::string settings = dir.file("settings.csv");
    const std::string logs = dir.file("logs");
    struct Case {
        std::vector<std::string> args;
        const char* says;
        int status;
    };
    const Case cases[] = {
        {{"--settings", dir.file("missing.csv"), "--out", out}, "missing.csv", 1},
        {{"--settings", dir.file("garbled.csv"), "--out", out}, "garbled.csv: line 3", 1},
        {{"--settings", settings, "--logs", dir.file("empty"), "--out", out},
         "holds no log files",
         1},
        {{"--settings", settings, "--logs", dir.file("other"), "--out", out}, "no log files", 1},
        {{"--settings", settings, "--logs", dir.file("fake"), "--out", out},
         "log_2014_5_24_13.log",
         1},
        {{"--settings", settings, "--logs", dir.file("nowhere"), "--out", out}, "nowhere", 1},
        {{"--settings", settings, "--before", dir.file("garbled.csv"), "--out", out},
         "backup file",
         1},
        {{"--settings", settings, "--text", dir.file("nonotes.txt"), "--out", out},
         "nonotes.txt",
         1},
        {{"--port", dir.file("no-such-port"), "--out", out}, "no-such-port", 1},
        {{"--settings", settings, "--out", dir.file("out/none/r.pdf")}, "none", 1},
        // a day without files, a moment outside the logs
        {{"--settings", settings, "--logs", logs, "--from", "2014-05-25", "--to", "2014-05-25T23",
          "--out", out},
         "no log files between",
         1},
        {{"--settings", settings, "--logs", logs, "--at", "2014-05-24T16:00", "--out", out},
         "no logged record at 2014-05-24 16:00:00",
         1},
        {{"--settings", settings, "--paper", "a5", "--out", out}, "--paper", 2},
        {{"--settings", settings}, "--out", 2},
        {{"--out", out}, "--settings", 2},
        {{"--settings", settings, "--from", "yesterday", "--out", out}, "--from", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.says);
        const test::ToolRun r = report(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(ownLines(r.err), 1) << r.err;
        EXPECT_TRUE(outEmpty());
    }
}

TEST_F(KvxReport, LiveReportReadsTheSimulatorAndRestartsNothingItDidNotStart) {
    const std::string link = dir.file("sim");
    sim::Child simulator =
        sim::spawn({DRAVO_SIM_PATH, "--link", link, "--firmware", "117", "--seconds", "120"});
    ASSERT_GT(simulator.pid, 0);
    const std::string device = sim::readLine(simulator.out, 5000);
    ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
    const std::string pdf = dir.file("out/live.pdf");
    const test::ToolRun r = report({"--port", link, "--slave", "1", "--out", pdf});
    ::kill(simulator.pid, SIGTERM);
    sim::finish(simulator);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string t = text(pdf);
    for (const char* expected :
         {"Firmware version", "1.17", "controller on ", "slave 1", "The panel as it was at",
          "Engine speed", "Fuel Pressure Schedule Settings", "Flow Control Settings", "Event log",
          "Power up", "No logs were given."})
        EXPECT_NE(t.find(expected), std::string::npos) << expected << "\n" << t;
    EXPECT_EQ(t.find("Not read: the event log"), std::string::npos);
}

#endif

}  // namespace
}  // namespace kvx
