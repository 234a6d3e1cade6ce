#include "display/panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "display/palette.h"
#include "display/recording_surface.h"

namespace kvx {
namespace {

std::time_t fixedClock() {
    return 1700000000;
}

// The window's side of the panel: its records, selections and one surface per paint.
struct Window {
    LiveData live;
    InputImage image;
    LiveStatus status;
    DisplayRanges ranges;
    Panel panel;
    int width, height;

    Window(int w, int h) : width(w), height(h) {
        live.engine_speed = 1500;
        live.engine_hp = 1234;         // 123.4 HP
        live.substitution_rate = 355;  // 35.5 %
        live.engine_load = 2000;       // 200.0
        live.diesel_flow = 456;        // 45.6
        live.gas_flow = 789;           // 78.9
        live.vibration = 250;          // 0.250
        live.vibration_max = 400;      // 0.400
        live.exhaust_temp = 800;
        live.pressure_sp = 812;  // text line 8.12
        live.pressure_fdbk_left = 1234;
        live.pressure_fdbk_right = -567;
        live.pressure_sp_left = 800;
        live.pressure_sp_right = 1500;
        live.actuator_left = 1000;
        live.actuator_right = 3000;
        live.mode_left = 2;
        live.mode_right = 1;
        panel.onCreate(ranges);
        panel.chart().setClock(fixedClock);
        panel.onSize(w, h);
    }

    RecordingSurface paint(int bank = 1, bool zoomed = false, bool playback = false) {
        RecordingSurface s;
        panel.onPaint(s, width, height,
                      PanelInputs{live, image, status, ranges, bank, zoomed, playback});
        return s;
    }
    void resize(int w, int h) {
        width = w;
        height = h;
        panel.onSize(w, h);
    }
};

std::vector<DrawCall> textsAt(const RecordingSurface& s, int x) {
    std::vector<DrawCall> out;
    for (const DrawCall& c : s.callsOf(DrawOp::Text))
        if (c.x0 == x) out.push_back(c);
    return out;
}

// Index of the first call showing text, or -1.
int indexOfText(const RecordingSurface& s, const std::string& text) {
    const std::vector<DrawCall>& calls = s.calls();
    for (std::size_t i = 0; i < calls.size(); ++i)
        if (calls[i].op == DrawOp::Text && calls[i].text == text) return static_cast<int>(i);
    return -1;
}

TEST(PanelLayout, At1280By960TheDialsAre144AndTheStatusLinesStartAt1093) {
    Window w(1280, 960);
    for (int i = 0; i < Panel::kGauges; ++i) {
        EXPECT_EQ(w.panel.gauge(i).right() - w.panel.gauge(i).left(), 2 * 144) << i;
        EXPECT_EQ(w.panel.gauge(i).cy(), 153);
    }
    EXPECT_EQ(w.panel.gauge(Panel::SpeedDial).cx(), 230);
    EXPECT_EQ(w.panel.gauge(Panel::SubstitutionDial).cx(), 998);

    w.live.ecu_rx_lost = 1;
    const RecordingSurface s = w.paint();
    const DrawCall& first = s.calls().at(0);
    EXPECT_EQ(first.op, DrawOp::FillRect);
    EXPECT_EQ(first.x1, 1280);
    EXPECT_EQ(first.y1, 960);
    EXPECT_EQ(first.fillColour, (Rgb{70, 140, 140}));

    const std::vector<DrawCall> lines = textsAt(s, 1093);
    const std::vector<std::string> texts = {
        "PRESSURE SP : 8.12", "LEFT BANK",       "MODE: A/F CONTROL", "ECU RX: NOT AVAIL",
        "ECU FLOW RX ERR: 0", "START SP : 0.00", "START SP1 : 0.00",  "START SP2 : 0.00"};
    const int ys[] = {359, 384, 409, 429, 449, 469, 489, 509};
    ASSERT_EQ(lines.size(), texts.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].text, texts[i]);
        EXPECT_EQ(lines[i].y0, ys[i]);
        EXPECT_EQ(lines[i].align, (TextAlign{HAlign::Left, VAlign::Bottom}));
        EXPECT_EQ(lines[i].textColour, paletteColor(10));
        EXPECT_TRUE(lines[i].transparent);
    }

    w.live.ecu_rx_lost = 0;
    const RecordingSurface t = w.paint();
    EXPECT_FALSE(t.hasText("ECU RX: NOT AVAIL"));
    EXPECT_EQ(textsAt(t, 1093).size(), 7u);
}

TEST(PanelLayout, SizesBeyondSixteenBitsAreTakenAsTheLargestPackedSize) {
    // Too large for the packed size: the dial scale must follow the clamped extent the widgets
    // keep, without overflowing on the way.
    Window huge(1280, 960);
    huge.resize(std::numeric_limits<int>::max(), std::numeric_limits<int>::max() / 2);
    Window packed(1280, 960);
    packed.resize(65535, 65535);
    for (int i = 0; i < Panel::kGauges; ++i) {
        EXPECT_EQ(huge.panel.gauge(i).left(), packed.panel.gauge(i).left()) << i;
        EXPECT_EQ(huge.panel.gauge(i).right(), packed.panel.gauge(i).right()) << i;
    }
    EXPECT_EQ(huge.panel.chart().capacity(), packed.panel.chart().capacity());

    // A minimised window keeps everything at the centre points, then comes back whole.
    huge.resize(0, 0);
    EXPECT_EQ(huge.panel.gauge(0).right() - huge.panel.gauge(0).left(), 0);
    huge.resize(1280, 960);
    EXPECT_EQ(huge.panel.gauge(0).right() - huge.panel.gauge(0).left(), 288);
}

TEST(PanelPaint, DrawsBarsThenFacesThenValuesThenTheChartThenTheStatusLines) {
    Window w(1600, 1000);
    const RecordingSurface s = w.paint();
    const int load = indexOfText(s, "ENGINE LOAD ");
    const int diesel = indexOfText(s, "DIESEL FLOW");
    const int actuator = indexOfText(s, "ACTUATOR OUTPUT");
    const int speedValue = indexOfText(s, "1500");
    const int substValue = indexOfText(s, "35");
    const int hpValue = indexOfText(s, "123.40");
    const int percentAxis = indexOfText(s, "75");
    const int bank = indexOfText(s, "LEFT BANK");
    ASSERT_GE(load, 0);
    EXPECT_LT(load, diesel);
    EXPECT_LT(diesel, actuator);
    int firstEllipse = -1;
    for (std::size_t i = 0; i < s.calls().size(); ++i)
        if (s.calls()[i].op == DrawOp::Ellipse) {
            firstEllipse = static_cast<int>(i);
            break;
        }
    EXPECT_LT(actuator, firstEllipse);
    EXPECT_LT(firstEllipse, speedValue);
    EXPECT_LT(speedValue, substValue);
    EXPECT_LT(substValue, hpValue);
    EXPECT_LT(hpValue, percentAxis);
    EXPECT_LT(percentAxis, bank);
    // Wide windows keep the default font.
    for (const DrawCall& c : s.callsOf(DrawOp::Text))
        EXPECT_EQ(c.font, FontChoice::Default);
    EXPECT_EQ(s.callsOf(DrawOp::Ellipse).size(), 6u);
}

TEST(PanelPaint, ARangeChangeShowsOnTheFaceFromTheNextPaintButMovesTheNeedleAtOnce) {
    Window w(1600, 1000);
    w.paint();
    w.ranges.speedMin = 0;
    w.ranges.speedMax = 1500;
    const RecordingSurface first = w.paint();
    EXPECT_FALSE(first.hasText("1500.0"));
    EXPECT_FALSE(first.hasText("750"));
    EXPECT_TRUE(first.hasText("3000"));
    const RecordingSurface second = w.paint();
    EXPECT_TRUE(second.hasText("750"));
    EXPECT_FALSE(second.hasText("3000"));

    // 1500 on 0..1500 puts the speed needle at the end of the scale, in the first paint already.
    const DialGauge& g = w.panel.gauge(Panel::SpeedDial);
    bool needleAtEnd = false;
    for (const DrawCall& l : first.callsOf(DrawOp::Line))
        if (l.pen.width == 2 && l.x0 == g.cx() && l.y0 == g.cy())
            needleAtEnd = needleAtEnd || (l.x1 > g.cx() && l.y1 > g.cy());
    EXPECT_TRUE(needleAtEnd);
}

TEST(PanelZoom, DrawsNoGaugeBarOrStatusLineAndRecordsTheSameValues) {
    Window panelView(1600, 1000);
    Window zoomView(1600, 1000);
    const RecordingSurface p = panelView.paint(1, false);
    const RecordingSurface z = zoomView.paint(1, true);
    EXPECT_TRUE(z.callsOf(DrawOp::Ellipse).empty());
    EXPECT_TRUE(z.callsOf(DrawOp::Arc).empty());
    EXPECT_FALSE(z.hasText("CNG FLOW"));
    EXPECT_FALSE(z.hasText("PRESSURE SET-POINT "));
    EXPECT_FALSE(z.hasText("1500"));
    EXPECT_TRUE(textsAt(z, Panel::statusLineX(1600)).empty());
    EXPECT_FALSE(textsAt(p, Panel::statusLineX(1600)).empty());

    const TrendChart& a = panelView.panel.chart();
    const TrendChart& b = zoomView.panel.chart();
    ASSERT_EQ(a.writeIndex(), b.writeIndex());
    for (int c = 0; c < TrendChart::kChannels; ++c) {
        EXPECT_EQ(a.rawValue(c, a.writeIndex()), b.rawValue(c, b.writeIndex())) << c;
        EXPECT_EQ(a.status(c, a.writeIndex()), b.status(c, b.writeIndex())) << c;
    }
    EXPECT_DOUBLE_EQ(b.rawValue(8, b.writeIndex()), 1500);
    EXPECT_DOUBLE_EQ(b.rawValue(0, b.writeIndex()), 45.6);

    // The zoom view enlarges the plot: 75 % x 80 % from (22 %, 10 %).
    EXPECT_EQ(b.plot().left, 352);
    EXPECT_EQ(b.plot().top, 100);
    EXPECT_GT(b.plot().right - b.plot().left, a.plot().right - a.plot().left);
    EXPECT_EQ(b.legendX(9), 80);
    EXPECT_EQ(b.legendY(9), 390);
    EXPECT_EQ(a.legendX(9), 1280);
}

// The value text a bar drew in this paint: bottom-left at one average width (7 on the
// recording surface) right of its trough.
std::string barValue(const RecordingSurface& s, const BarGauge& bar) {
    for (const DrawCall& c : s.callsOf(DrawOp::Text))
        if (c.x0 == bar.right() + 7 && c.y0 == bar.bottom()) return c.text;
    return "(none)";
}

TEST(PanelBank, SwitchingTheBankMovesThePressureAndActuatorInstrumentsAndTheModeLine) {
    Window w(1600, 1000);
    const Panel& p = w.panel;
    const RecordingSurface left = w.paint(1);
    EXPECT_EQ(barValue(left, p.bar(Panel::PressureFeedbackBar)), "12.34");
    EXPECT_EQ(barValue(left, p.bar(Panel::PressureSetPointBar)), "8.00");
    EXPECT_EQ(barValue(left, p.bar(Panel::ActuatorBar)), "1000");
    // The bars that are not per bank, each with its own signal: load 200.0, diesel flow 45.6,
    // gas flow 78.9 (the three values differ, so a bar fed another's signal shows it).
    const std::pair<Panel::Bar, const char*> ownSignal[] = {
        {Panel::LoadBar, "200.00"}, {Panel::DieselFlowBar, "45.60"}, {Panel::GasFlowBar, "78.90"}};
    for (const auto& [bar, text] : ownSignal)
        EXPECT_EQ(barValue(left, p.bar(bar)), text) << p.bar(bar).caption();
    for (const char* t : {"MODE: A/F CONTROL", "LEFT BANK"})
        EXPECT_TRUE(left.hasText(t)) << t;
    const TrendChart& chart = w.panel.chart();
    EXPECT_DOUBLE_EQ(chart.rawValue(2, chart.writeIndex()), 12.34);
    EXPECT_DOUBLE_EQ(chart.rawValue(3, chart.writeIndex()), 1000);
    EXPECT_DOUBLE_EQ(chart.rawValue(5, chart.writeIndex()), 8.0);

    // The bars show the new bank at once (the chart legend shows it from the next paint).
    const RecordingSurface right = w.paint(2);
    EXPECT_EQ(barValue(right, p.bar(Panel::PressureFeedbackBar)), "-5.67");
    EXPECT_EQ(barValue(right, p.bar(Panel::PressureSetPointBar)), "15.00");
    EXPECT_EQ(barValue(right, p.bar(Panel::ActuatorBar)), "3000");
    EXPECT_EQ(barValue(right, p.bar(Panel::DieselFlowBar)), "45.60");  // not per bank
    for (const char* t : {"MODE: DEFAULT", "RIGHT BANK"})
        EXPECT_TRUE(right.hasText(t)) << t;
    EXPECT_FALSE(right.hasText("MODE: A/F CONTROL"));
    EXPECT_FALSE(right.hasText("LEFT BANK"));
    EXPECT_DOUBLE_EQ(chart.rawValue(2, chart.writeIndex()), -5.67);
    EXPECT_DOUBLE_EQ(chart.rawValue(3, chart.writeIndex()), 3000);
    EXPECT_DOUBLE_EQ(chart.rawValue(5, chart.writeIndex()), 15.0);
    EXPECT_DOUBLE_EQ(chart.rawValue(1, chart.writeIndex()), 200.0);  // not per bank
    // The legend of the next paint reads the right bank's values.
    const RecordingSurface next = w.paint(2);
    const auto legendValue = [&](int channel) {
        for (const DrawCall& c : next.textCalls(channel == 2 ? "-5.67" : "15.00"))
            if (c.x0 == chart.legendX(channel) + 41) return true;
        return false;
    };
    EXPECT_TRUE(legendValue(2));
    EXPECT_TRUE(legendValue(5));
}

TEST(PanelBank, BeforeAnyConnectionThePressureBarsSpanPlusMinus138) {
    Window w(1600, 1000);
    const RecordingSurface s = w.paint();
    EXPECT_EQ(w.panel.bar(Panel::PressureFeedbackBar).rangeMin(), -138);
    EXPECT_EQ(w.panel.bar(Panel::PressureSetPointBar).rangeMax(), 138);
    EXPECT_TRUE(s.hasText("-138.0"));
    EXPECT_TRUE(s.hasText("138.0"));
}

TEST(PanelNarrow, BelowThirteenHundredPixelsUsesTheSmallFontAndKeepsTheShortTitle) {
    Window w(1400, 1000);
    w.paint();
    EXPECT_EQ(w.panel.gauge(Panel::SubstitutionDial).title1(), "FUEL SUBSTITUTION");

    w.resize(1299, 1000);
    const RecordingSurface narrow = w.paint();
    for (const DrawCall& c : narrow.callsOf(DrawOp::Text))
        EXPECT_EQ(c.font, FontChoice::Small);
    EXPECT_TRUE(narrow.hasText("SUBSTITUTION"));
    EXPECT_FALSE(narrow.hasText("FUEL SUBSTITUTION"));
    EXPECT_EQ(w.panel.gauge(Panel::SpeedDial).title2(), "SPEED");

    w.resize(1400, 1000);
    const RecordingSurface wide = w.paint();
    EXPECT_TRUE(wide.hasText("SUBSTITUTION"));
    EXPECT_FALSE(wide.hasText("FUEL SUBSTITUTION"));
    for (const DrawCall& c : wide.callsOf(DrawOp::Text))
        EXPECT_EQ(c.font, FontChoice::Default);
}

TEST(PanelIndicatorType, RelabelsTheLoadBarAndChartChannelOneButNeverTheMiddleDial) {
    Window w(1600, 1000);
    w.paint();
    EXPECT_EQ(w.panel.bar(Panel::LoadBar).caption(), "ENGINE LOAD ");
    EXPECT_EQ(w.panel.gauge(Panel::PowerDial).title2(), "HP");  // not "LOAD" once painted

    w.ranges.indicator_type = 2;
    w.paint(1, true);  // the zoom view does not apply it
    EXPECT_EQ(w.panel.bar(Panel::LoadBar).caption(), "ENGINE LOAD ");

    const RecordingSurface s = w.paint();
    EXPECT_EQ(w.panel.bar(Panel::LoadBar).caption(), "ENGINE HORSEPOWER ");
    EXPECT_EQ(w.panel.bar(Panel::LoadBar).units(), "HP");
    EXPECT_EQ(w.panel.chart().channelName(1), "ENGINE HORSEPOWER");
    EXPECT_EQ(w.panel.chart().channelUnits(1), "HP");
    EXPECT_TRUE(s.hasText("ENGINE HORSEPOWER "));
    EXPECT_EQ(w.panel.gauge(Panel::PowerDial).title1(), "ENGINE");
    EXPECT_EQ(w.panel.gauge(Panel::PowerDial).title2(), "HP");
    EXPECT_EQ(w.panel.gauge(Panel::PowerDial).units(), "HP");

    w.ranges.indicator_type = 0;  // unknown: the last type stays
    w.paint();
    EXPECT_EQ(w.panel.lastIndicatorType(), 2);
    w.ranges.indicator_type = 3;
    w.paint();
    EXPECT_EQ(w.panel.bar(Panel::LoadBar).caption(), "ENGINE LOAD ");
    EXPECT_EQ(w.panel.chart().channelName(1), "ENGINE LOAD");
}

TEST(PanelChart, ChannelTextsAndTheGasLabelFollowTheLiveRecordOnEveryPaint) {
    Window w(1600, 1000);
    w.ranges.overspeed = 2200;
    w.ranges.exhaust_temp_avg_shutdown_max = 1100;
    w.paint();
    const TrendChart& c = w.panel.chart();
    EXPECT_EQ(c.channelName(8), "ENGINE SPEED /2200/");
    EXPECT_EQ(c.channelName(6), "EXHAUST TEMP /1100/");
    EXPECT_EQ(c.channelName(4), "VIBRATION FDBK");
    EXPECT_EQ(c.channelUnits(4), "in/sec");
    EXPECT_EQ(c.label(2), "GAS is ON");
    w.live.alarm_flags = 1;
    w.paint();
    EXPECT_EQ(c.label(2), "GAS is OFF");
    // Channel 7 never gets a legend place: it stays off-window.
    EXPECT_GE(c.legendX(7), 1600);
    EXPECT_DOUBLE_EQ(c.rawValue(7, c.writeIndex()), 0);
    EXPECT_EQ(c.timeStamp(c.writeIndex()), fixedClock());
}

TEST(PanelPlayback, APlaybackPaintRecordsNothingAndShowsTheRecordItIsGivenEverywhere) {
    Window w(1600, 1000);
    w.paint();
    const int before = w.panel.chart().writeIndex();
    // The player has put its record into live before the paint.
    w.live.pressure_sp = 999;
    w.live.pressure_sp_left = 999;
    const RecordingSurface s = w.paint(1, false, true);
    EXPECT_EQ(w.panel.chart().writeIndex(), before);  // the panel itself recorded nothing
    EXPECT_EQ(barValue(s, w.panel.bar(Panel::PressureSetPointBar)), "9.99");  // the bar
    EXPECT_TRUE(s.hasText("PRESSURE SP : 9.99"));  // as do the status lines
    EXPECT_EQ(w.live.pressure_sp_left, 999);       // the paint only reads

    w.paint();  // live again: the panel records
    EXPECT_EQ(w.panel.chart().writeIndex(), before + 1);
}

// Playback writes only the logged fields into live: what a log record does not hold (the right
// bank, the START SP and ECU error registers, the external shutoff switch) still has the last
// live poll's values, which must not pass for logged ones.
TEST(PanelPlayback, WhatTheLogDoesNotHoldShowsAsDashesNeverAsTheLastLiveValue) {
    Window w(1600, 1000);
    const Panel& p = w.panel;
    w.image.a[19] = 7;       // ECU FLOW RX ERR (input 20)
    w.image.b106[12] = 345;  // START SP (input 63)
    w.image.b106[13] = 346;
    w.image.b106[14] = 347;
    const int bankBars[] = {Panel::PressureFeedbackBar, Panel::PressureSetPointBar,
                            Panel::ActuatorBar};
    struct Case {
        const char* name;
        int bank;
        bool playback;
        const char* values[3];  // the three bank bars
        const char* mode;
        bool dashedRegisters;  // ECU error and the START SP lines
        const char* gas;
    } const cases[] = {
        {"live, right bank",
         2,
         false,
         {"-5.67", "15.00", "3000"},
         "MODE: DEFAULT",
         false,
         "GAS is ON"},
        {"playback, left bank: logged",
         1,
         true,
         {"12.34", "8.00", "1000"},
         "MODE: A/F CONTROL",
         true,
         "GAS is --"},
        {"playback, right bank: not logged",
         2,
         true,
         {"--", "--", "--"},
         "MODE: --",
         true,
         "GAS is --"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RecordingSurface s = w.paint(c.bank, false, c.playback);
        for (int i = 0; i < 3; ++i) {
            const BarGauge& bar = p.bar(bankBars[i]);
            EXPECT_EQ(barValue(s, bar), c.values[i]) << bankBars[i];
            bool filled = false;
            for (const DrawCall& r : s.callsOf(DrawOp::Rectangle))
                filled |= r.x0 == bar.left() + 1 && r.y0 == bar.top() + 1;
            EXPECT_EQ(filled, std::string(c.values[i]) != "--") << bankBars[i];
        }
        EXPECT_TRUE(s.hasText(c.mode));
        for (const char* t :
             {"ECU FLOW RX ERR: 7", "START SP : 3.45", "START SP1 : 3.46", "START SP2 : 3.47"})
            EXPECT_EQ(s.hasText(t), !c.dashedRegisters) << t;
        for (const char* t :
             {"ECU FLOW RX ERR: --", "START SP : --", "START SP1 : --", "START SP2 : --"})
            EXPECT_EQ(s.hasText(t), c.dashedRegisters) << t;
        EXPECT_EQ(p.chart().label(2), c.gas);
    }
    // A logged shut-off says OFF whatever the switch was at the last poll.
    w.live.local_shutoff = 1;
    w.paint(1, false, true);
    EXPECT_EQ(p.chart().label(2), "GAS is OFF");
}

}  // namespace
}  // namespace kvx
