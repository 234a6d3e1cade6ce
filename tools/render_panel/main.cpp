// kvx-render: draws each instrument at telling values and the whole panel from a sample
// engine, in both views and both banks, into PNG files for a person to look at.
#include <sys/stat.h>
#include <QGuiApplication>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "base/command_line.h"
#include "display/bar_gauge.h"
#include "display/client_size.h"
#include "display/dial_gauge.h"
#include "display/layered_qt_surface.h"
#include "display/panel.h"
#include "display/qt_surface.h"
#include "display/trend_chart.h"
#include "log_picture.h"

namespace {

using namespace kvx;

constexpr Rgb kPanelBackground{70, 140, 140};

struct Output {
    std::string dir;
    int written = 0;
    int failed = 0;

    template <typename AnySurface>
    void save(AnySurface& s, const std::string& name) {
        const std::string path = dir + "/" + name + ".png";
        if (s.savePng(path)) {
            ++written;
            std::printf("%s\n", path.c_str());
        } else {
            ++failed;
            std::fprintf(stderr, "kvx-render: cannot write %s\n", path.c_str());
        }
    }
};

// A clock that advances one second per five stamps, like polls at 200 ms.
std::time_t gTicks = 0;
std::time_t sampleClock() {
    return 1700000000 + gTicks++ / 5;
}

void renderDials(Output& out) {
    struct Case {
        const char* name;
        double min, max, value;
        int decimals, decimalLabels;
        bool inside;
    };
    const Case cases[] = {
        {"dial_speed_1500_of_3000", 0, 3000, 1500, 0, 0, true},
        {"dial_speed_below_range", 0, 3000, -200, 0, 0, true},
        {"dial_speed_above_range", 0, 3000, 3400, 0, 0, true},
        {"dial_speed_quarter", 0, 3000, 750, 0, 0, true},
        {"dial_hp_decimal_labels", 0, 500, 123.45, 2, 1, true},
        {"dial_title_above", 0, 100, 35, 0, 0, false},
    };
    // About the size of a panel dial at 1920 x 1080 (radius 165), room above for a title box.
    constexpr int kSide = 440;
    for (const Case& c : cases) {
        QtSurface s(kSide, kSide);
        s.fillRect(0, 0, kSide, kSide, kPanelBackground);
        s.setTransparentBackground(true);
        DialGauge g;
        g.setCentre(50, 54);
        g.setScale(150);
        g.setSize(ClientSize{kSide, kSide});
        g.setTitles("ENGINE", "SPEED", c.inside, 5);
        g.setRange(c.min, c.max);
        g.setUnits("RPM");
        // Three zones: normal, caution, danger.
        g.setZone(c.min, c.min + (c.max - c.min) * 0.7, 1, 2);
        g.setZone(c.min + (c.max - c.min) * 0.7, c.min + (c.max - c.min) * 0.9, 2, 4);
        g.setZone(c.min + (c.max - c.min) * 0.9, c.max, 3, 1);
        g.drawFace(s, static_cast<std::int16_t>(c.decimalLabels));
        g.drawValue(c.value, s, c.decimals);
        out.save(s, c.name);
    }
}

void renderBars(Output& out) {
    struct Case {
        const char* name;
        double min, max, value;
        int fill, decimals, decimalScale;
        bool scale;
    };
    const Case cases[] = {
        {"bar_pressure_below_min", -8, 24, -10, 13, 2, 1, true},
        {"bar_pressure_mid", -8, 24, 8, 13, 2, 1, true},
        {"bar_pressure_above_max", -8, 24, 30, 13, 2, 1, true},
        {"bar_actuator_integer_scale", 0, 4000, 1234, 1, 0, 0, true},
        {"bar_gas_no_scale", 0, 100, 42.5, 14, 2, 0, false},
    };
    for (const Case& c : cases) {
        QtSurface s(1000, 90);
        s.fillRect(0, 0, 1000, 90, kPanelBackground);
        BarGauge b;
        b.setSize(ClientSize{1000, 90});
        b.setSizeFractions(50, 20);
        b.setPosition(25, 50);
        b.setTitle("PRESSURE SET-POINT ");
        b.setUnits("in. W.C.");
        b.setRange(c.min, c.max);
        b.showScale(c.scale);
        b.setLimit(0.0, 0, 10);
        b.draw(c.value, s, static_cast<std::int16_t>(c.fill), c.decimals, c.decimalScale);
        out.save(s, c.name);
    }
}

void renderChart(Output& out) {
    const int w = 900, h = 420;
    QtSurface s(w, h);
    s.fillRect(0, 0, w, h, kPanelBackground);
    TrendChart chart;
    chart.setClock(sampleClock);
    chart.setSize(ClientSize{w, h});
    chart.setSizeFractions(60, 70);
    chart.setPosition(30, 12);
    const char* names[] = {"SINE", "OVER AND UNDER", "STEP", "GAPPED"};
    for (int c = 0; c < 4; ++c) {
        chart.setChannelRange(-1.0, 1.0, c, c == 0 ? 5 : c == 1 ? 1 : c == 2 ? 2 : 15);
        chart.setChannelText(names[c], "units", c);
        chart.setLegend(3, static_cast<std::int16_t>(20 + 16 * c), c, true);
    }
    chart.setLabelPosition(3, 88, 2);
    chart.setLabel("GAS is ON", 5, 2);
    const int n = chart.capacity() * 3 / 4;
    for (int i = 0; i < n; ++i) {
        chart.advance();
        chart.stampTime();
        const double t = i * 0.05;
        chart.addSample(0.8 * std::sin(t), 0);
        chart.addSample(1.4 * std::sin(t * 0.7), 1);  // leaves the range at both ends
        chart.addSample((i / 40) % 2 ? 0.5 : -0.5, 2);
        if ((i / 25) % 3 != 2) chart.addSample(0.3 * std::cos(t), 3);
    }
    chart.drawGrid(s);
    chart.drawLegend(s);
    chart.drawTraces(s, true);
    out.save(s, "chart_traces");
}

// A running engine sampled at poll i: values move so the traces show.
void sampleEngine(int i, LiveData& live, InputImage& image) {
    const double t = i * 0.02;
    live.engine_speed = static_cast<int>(1500 + 300 * std::sin(t));
    live.engine_hp = static_cast<int>(2400 + 600 * std::sin(t * 0.8));
    live.substitution_rate = static_cast<int>(450 + 150 * std::sin(t * 0.5));
    live.engine_load = static_cast<int>(2200 + 700 * std::sin(t * 0.8));
    live.diesel_flow = static_cast<int>(350 + 120 * std::cos(t * 0.6));
    live.gas_flow = static_cast<int>(420 + 100 * std::sin(t * 0.6));
    live.vibration = static_cast<int>(300 + 120 * std::sin(t * 3));
    live.vibration_max = 520;
    live.exhaust_temp = static_cast<int>(780 + 60 * std::sin(t * 0.3));
    live.pressure_sp = 812;
    live.pressure_sp_left = static_cast<int>(800 + 200 * std::sin(t * 0.4));
    live.pressure_fdbk_left = live.pressure_sp_left + static_cast<int>(80 * std::sin(t * 4));
    live.pressure_sp_right = static_cast<int>(600 + 150 * std::cos(t * 0.4));
    live.pressure_fdbk_right = live.pressure_sp_right + static_cast<int>(60 * std::cos(t * 3));
    live.actuator_left = static_cast<int>(2000 + 900 * std::sin(t * 0.9));
    live.actuator_right = static_cast<int>(1800 + 700 * std::cos(t * 0.9));
    live.mode_left = 2;
    live.mode_right = 1;
    image.a[19] = 3;       // A 20: ECU flow reception errors
    image.b106[12] = 650;  // B106 63..65: start set-points x 100
    image.b106[13] = 700;
    image.b106[14] = 725;
}

void renderPanels(Output& out) {
    const int sizes[][2] = {{1920, 1080}, {1280, 960}};
    for (const auto& size : sizes) {
        for (int zoomed = 0; zoomed <= 1; ++zoomed) {
            for (int bank = 1; bank <= 2; ++bank) {
                const int w = size[0], h = size[1];
                LiveData live;
                InputImage image;
                LiveStatus status;
                DisplayRanges ranges;
                ranges.loadMax = 400;
                ranges.hpMax = 500;
                ranges.vibrationMax = 1.0;
                ranges.pressureMin = -8;
                ranges.pressureMax = 24;
                ranges.dieselFlowMax = 100;
                ranges.indicator_type = 1;
                ranges.overspeed = 2200;
                ranges.exhaust_temp_avg_shutdown_max = 1100;
                Panel panel;
                gTicks = 0;
                panel.onCreate(ranges);
                panel.chart().setClock(sampleClock);
                panel.onSize(w, h);
                // Fill most of the chart, then draw the picture that is kept; one surface for
                // all the paints, as the window keeps it, so the picture is drawn over the
                // layer of the fixed parts.
                const int polls = panel.chart().capacity() * 9 / 10;
                LayeredQtSurface s(w, h);
                for (int i = 0; i <= polls; ++i) {
                    sampleEngine(i, live, image);
                    s.reset();
                    const PanelInputs in{live, image, status, ranges, bank, zoomed != 0, false};
                    panel.onPaint(s, w, h, in);
                    if (i == polls) {
                        const std::string name = std::string("panel_") +
                                                 (zoomed ? "zoom_" : "view_") +
                                                 (bank == 1 ? "left_" : "right_") +
                                                 std::to_string(w) + "x" + std::to_string(h);
                        out.save(s, name);
                    }
                }
            }
        }
    }
}

void usage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: kvx-render [--out DIR]\n"
                 "       kvx-render --log FILE (--record N | --at HH:MM:SS) [--size WxH]\n"
                 "                  --out FILE.png\n"
                 "Draws the dial, the bar, the trend chart and the whole panel into PNG files\n"
                 "in DIR (default: render). With --log, draws the whole panel as playback shows\n"
                 "one record of a log file, with the trend around it.\n"
                 "\n"
                 "  --out DIR       the folder for the PNG files, made when missing\n"
                 "  --log FILE      the log file to draw a record of\n"
                 "  --record N      record N, counted from 0\n"
                 "  --at HH:MM:SS   the first record logged at that local time\n"
                 "  --size WxH      the panel's size (default 1920x1080)\n"
                 "  --out FILE.png  with --log: the picture's file\n"
                 "  --help          show this text\n"
                 "  --version       show the program's version\n");
}

bool parseSize(std::string_view text, int& w, int& h) {
    const auto x = text.find('x');
    if (x == std::string_view::npos) return false;
    long long lw = 0, lh = 0;
    if (!kvx::cli::parseInteger(text.substr(0, x), 100, 8000, lw) ||
        !kvx::cli::parseInteger(text.substr(x + 1), 100, 8000, lh))
        return false;
    w = static_cast<int>(lw);
    h = static_cast<int>(lh);
    return true;
}

bool parseTimeOfDay(std::string_view text, LogPictureRequest& r) {
    long long hh = 0, mm = 0, ss = 0;
    if (text.size() != 8 || text[2] != ':' || text[5] != ':' ||
        !kvx::cli::parseInteger(text.substr(0, 2), 0, 23, hh) ||
        !kvx::cli::parseInteger(text.substr(3, 2), 0, 59, mm) ||
        !kvx::cli::parseInteger(text.substr(6, 2), 0, 59, ss))
        return false;
    r.hour = static_cast<int>(hh);
    r.minute = static_cast<int>(mm);
    r.second = static_cast<int>(ss);
    return true;
}

// A picture's outcome is one line on stderr: Qt's own start-up notes (a missing runtime
// directory on a headless machine) would only blur it.
void quietQtNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "kvx-render: %s\n", message.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = "render";
    bool outGiven = false;
    LogPictureRequest picture;
    bool atGiven = false;
    kvx::cli::ArgReader args(argc, argv);
    while (args.next()) {
        std::string_view value;
        if (args.isHelp() && args.noValue()) {
            usage(stdout);
            return 0;
        } else if (args.isVersion() && args.noValue()) {
            return kvx::cli::printVersion("kvx-render");
        } else if (args.name() == "--out" && args.value(value)) {
            if (value.empty()) {
                args.expected("a folder");
                return kvx::cli::reportUsageError("kvx-render", args.error());
            }
            dir = std::string(value);
            outGiven = true;
        } else if (args.name() == "--log" && args.value(value)) {
            if (value.empty()) {
                args.expected("a log file");
                return kvx::cli::reportUsageError("kvx-render", args.error());
            }
            picture.logPath = std::string(value);
        } else if (args.name() == "--record" &&
                   args.integer(0, std::numeric_limits<std::int32_t>::max(), picture.record)) {
        } else if (args.name() == "--at" && args.value(value)) {
            if (!parseTimeOfDay(value, picture)) {
                args.expected("a time of day HH:MM:SS");
                return kvx::cli::reportUsageError("kvx-render", args.error());
            }
            atGiven = true;
        } else if (args.name() == "--size" && args.value(value)) {
            if (!parseSize(value, picture.width, picture.height)) {
                args.expected("WxH, each 100 to 8000");
                return kvx::cli::reportUsageError("kvx-render", args.error());
            }
        } else {
            if (args.error().empty()) args.unknown();
            return kvx::cli::reportUsageError("kvx-render", args.error());
        }
    }
    if (!picture.logPath.empty()) {
        if ((picture.record >= 0) == atGiven)
            return kvx::cli::reportUsageError("kvx-render",
                                              "--log needs one of --record N and --at HH:MM:SS");
        if (!outGiven)
            return kvx::cli::reportUsageError("kvx-render", "--log needs --out FILE.png");
        picture.outPath = dir;
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        qInstallMessageHandler(quietQtNotes);
        QGuiApplication app(argc, argv);
        std::string error;
        if (renderLogPicture(picture, &error) != 0) {
            std::fprintf(stderr, "kvx-render: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s\n", picture.outPath.c_str());
        return 0;
    }
    if (picture.record >= 0 || atGiven)
        return kvx::cli::reportUsageError("kvx-render", "--record and --at need --log FILE");
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "kvx-render: cannot create %s: %s\n", dir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);  // headless: nothing is shown on screen
    QGuiApplication app(argc, argv);

    Output out{dir};
    renderDials(out);
    renderBars(out);
    renderChart(out);
    renderPanels(out);
    std::printf("%d files written\n", out.written);
    return out.failed ? 1 : 0;
}
