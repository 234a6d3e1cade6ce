#include "display/panel.h"

#include <algorithm>
#include <limits>
#include <string>

#include "display/client_size.h"
#include "display/palette.h"
#include "display/pixel_math.h"
#include "model/alarm_text.h"

namespace kvx {

namespace {

constexpr Rgb kBackground{70, 140, 140};
constexpr std::int16_t kTitleColour = 5;

struct LegendPlace {
    int channel;
    std::int16_t x, y;
};

// Chart layouts: plot size and position, legend places and the gas label, in percent.
struct ChartLayout {
    std::int16_t width, height, left, top;
    const LegendPlace* legends;
    int legendCount;
    std::int16_t labelX, labelY;
};

constexpr LegendPlace kCreateLegends[] = {
    {0, 7, 69},  {1, 7, 75},  {2, 7, 81},  {5, 7, 87},  {8, 7, 93},
    {4, 80, 69}, {3, 80, 75}, {6, 80, 81}, {9, 80, 87},
};
constexpr LegendPlace kPanelLegends[] = {
    {0, 9, 69},  {1, 9, 75},  {5, 9, 81},  {2, 9, 87},  {8, 9, 93},
    {3, 80, 69}, {6, 80, 75}, {9, 80, 81}, {4, 80, 87},
};
constexpr LegendPlace kZoomLegends[] = {
    {0, 5, 15}, {1, 5, 21}, {5, 5, 27}, {2, 5, 33}, {9, 5, 39},
    {4, 5, 45}, {6, 5, 51}, {8, 5, 57}, {3, 5, 63},
};
constexpr ChartLayout kCreateLayout{51, 31, 25, 64, kCreateLegends, 9, 80, 77};
constexpr ChartLayout kPanelLayout{51, 31, 25, 64, kPanelLegends, 9, 80, 93};
constexpr ChartLayout kZoomLayout{75, 80, 22, 10, kZoomLegends, 9, 5, 75};

void applyLayout(TrendChart& chart, const ChartLayout& layout) {
    chart.setSizeFractions(layout.width, layout.height);
    chart.setPosition(layout.left, layout.top);
    for (int i = 0; i < layout.legendCount; ++i)
        chart.setLegend(layout.legends[i].x, layout.legends[i].y, layout.legends[i].channel, true);
    chart.setLabelPosition(layout.labelX, layout.labelY, 2);
}

struct BarSetup {
    std::int16_t top;
    const char* caption;
    const char* units;
    double min, max;
    bool showScale;
    std::int16_t fill;
    int decimals;
    int decimalScale;
};

// Indexed by Panel::Bar.
constexpr BarSetup kBarSetups[Panel::kBars] = {
    {37, "DIESEL FLOW", "LPH", 0, 100, true, 2, 2, 1},
    {45, "ENGINE LOAD ", "kW", 0, 400, true, 5, 2, 1},
    {53, "PRESSURE FEEDBACK ", "in. W.C.", -8, 24, false, 12, 2, 0},
    {58, "ACTUATOR OUTPUT", "", 0, 4000, true, 1, 0, 0},
    {50, "PRESSURE SET-POINT ", "in. W.C.", -8, 24, true, 13, 2, 1},
    {40, "CNG FLOW", "SCFM", 0, 100, false, 14, 2, 0},
};

// The order the bars are drawn in.
constexpr int kBarDrawOrder[Panel::kBars] = {Panel::LoadBar,
                                             Panel::DieselFlowBar,
                                             Panel::GasFlowBar,
                                             Panel::PressureFeedbackBar,
                                             Panel::PressureSetPointBar,
                                             Panel::ActuatorBar};

struct GaugeSetup {
    std::int16_t x, y;
    const char* title1;
    const char* title2;
    double min, max;
    const char* units;
};

constexpr GaugeSetup kGaugeSetups[Panel::kGauges] = {
    {18, 16, "ENGINE", "SPEED", 0, 3000, "RPM"},
    {48, 16, "ENGINE", "LOAD", 0, 400, "kWatt"},
    {78, 16, "FUEL SUBSTITUTION", "RATE", 0, 100, "%%"},
};

// The external shut-off switch is not logged: a record can show the gas off, but not on.
std::string playbackGasText(const LiveData& live) {
    const std::string logged = gasText(live, LiveStatus{});
    return logged == "GAS is OFF" ? logged : "GAS is --";
}

}  // namespace

void Panel::onCreate(const DisplayRanges& r) {
    for (int i = 0; i < kGauges; ++i) {
        const GaugeSetup& g = kGaugeSetups[i];
        DialGauge& dial = gauges_[i];
        dial.setCentre(g.x, g.y);
        dial.setTitles(g.title1, g.title2, true, kTitleColour);
        dial.setRange(g.min, g.max);
        dial.setZone(g.min, g.max, 1, 2);
        dial.setUnits(g.units);
        dial.setScale(20);
    }

    for (int i = 0; i < kBars; ++i) {
        const BarSetup& b = kBarSetups[i];
        BarGauge& bar = bars_[i];
        bar.setSizeFractions(50, 2);
        bar.setPosition(25, b.top);
        bar.setTitle(b.caption);
        bar.setUnits(b.units);
        bar.setRange(b.min, b.max);
        bar.showScale(b.showScale);
        bar.setValueColour(10);
        bar.setCaptionColour(10);
    }
    bars_[PressureSetPointBar].setLimit(0.0, 0, 10);

    chart_.setChannelText("DIESEL FLOW", "LPH", 0);
    chart_.setChannelText("ENGINE LOAD", "kW", 1);
    chart_.setChannelText("PRESSURE FDBK", "in. W.C.", 2);
    chart_.setChannelText("ACTUATOR OUTPUT", "", 3);
    chart_.setChannelText("Vibration", "in/s", 4);
    chart_.setChannelText("PRESSURE SP", "in. W.C.", 5);
    chart_.setChannelText(exhaustChannelName(r.exhaust_temp_avg_shutdown_max), "F", 6);
    chart_.setChannelText("HH", "HH", 7);
    chart_.setChannelText(speedChannelName(r.overspeed), "RPM", 8);
    chart_.setChannelText("VIBRATION MAX", "in/sec", 9);
    setChannelRanges(r);
    chart_.setChannelRange(0, 4000, 3, 1);
    chart_.setChannelRange(0, 1250, 6, 6);
    chart_.setChannelRange(-500, 500, 7, 10);
    applyLayout(chart_, kCreateLayout);
}

void Panel::onSize(int width, int height) {
    // The dial scale is worked out from the same clamped extent the widgets are given.
    const ClientSize size = clampedClientSize(width, height);
    const int lo = std::min(size.width, size.height);
    const int hi = std::max(size.width, size.height);
    // A minimised window has no extent; its dials collapse to their centres.
    const int percent = hi > 0 ? truncToInt(lo * 100 / 1.65 / hi) : 0;
    for (DialGauge& g : gauges_) {
        g.setScale(saturate16(percent));
        g.setSize(size);
    }
    for (BarGauge& b : bars_)
        b.setSize(size);
    chart_.setSize(size);
}

void Panel::applyChartLayout(bool zoomed) {
    if (zoomed)
        applyZoomLayout();
    else
        applyPanelLayout();
}

void Panel::applyPanelLayout() {
    applyLayout(chart_, kPanelLayout);
}
void Panel::applyZoomLayout() {
    applyLayout(chart_, kZoomLayout);
}

void Panel::applyIndicatorType(int type) {
    if (type == 0 || type == lastIndicatorType_) return;
    lastIndicatorType_ = type;
    if (isKilowattIndicator(type)) {
        bars_[LoadBar].setTitle("ENGINE LOAD ");
        bars_[LoadBar].setUnits("kW");
        chart_.setChannelText("ENGINE LOAD", "kW", 1);
    } else {
        bars_[LoadBar].setTitle("ENGINE HORSEPOWER ");
        bars_[LoadBar].setUnits("HP");
        chart_.setChannelText("ENGINE HORSEPOWER", "HP", 1);
    }
}

void Panel::setChannelRanges(const DisplayRanges& r) {
    chart_.setChannelRange(r.dieselFlowMin, r.dieselFlowMax, 0, 2);
    chart_.setChannelRange(r.loadMin, r.loadMax, 1, 5);
    chart_.setChannelRange(r.pressureMin, r.pressureMax, 2, 12);
    chart_.setChannelRange(r.pressureMin, r.pressureMax, 5, 13);
    chart_.setChannelRange(r.vibrationMin, r.vibrationMax, 4, 3);
    chart_.setChannelRange(r.speedMin, r.speedMax, 8, 14);
    chart_.setChannelRange(r.vibrationMin, r.vibrationMax, 9, 15);
}

void Panel::drawPanelInstruments(Surface& s, const PanelInputs& in, const DisplayValues& v) {
    const DisplayRanges& r = in.ranges;
    applyIndicatorType(r.indicator_type);
    // The middle dial always shows horsepower, whatever the load signal is.
    gauges_[PowerDial].setTitles("ENGINE", "HP", true, kTitleColour);
    gauges_[PowerDial].setUnits("HP");

    bars_[DieselFlowBar].setRange(r.dieselFlowMin, r.dieselFlowMax);
    bars_[LoadBar].setRange(r.loadMin, r.loadMax);
    bars_[PressureFeedbackBar].setRange(r.pressureMin, r.pressureMax);
    bars_[PressureSetPointBar].setRange(r.pressureMin, r.pressureMax);

    // A log record holds the left bank only: in playback the right bank's fields still have
    // the last live poll's values, which must not show as the record's.
    const bool unlogged = in.logRecordOnly() && in.selectedBank != 1;
    const double unknown = std::numeric_limits<double>::quiet_NaN();
    double barValue[kBars];
    barValue[DieselFlowBar] = v.dieselFlow;
    barValue[LoadBar] = v.engineLoad;
    barValue[PressureFeedbackBar] = unlogged ? unknown : v.pressureFdbk;
    barValue[ActuatorBar] = unlogged ? unknown : v.actuator;
    barValue[PressureSetPointBar] = unlogged ? unknown : v.pressureSp;
    barValue[GasFlowBar] = v.gasFlow;
    for (int i : kBarDrawOrder) {
        const BarSetup& b = kBarSetups[i];
        bars_[i].draw(barValue[i], s, b.fill, b.decimals, b.decimalScale);
    }

    gauges_[SpeedDial].drawFace(s, 0);
    gauges_[PowerDial].drawFace(s, 1);
    gauges_[SubstitutionDial].drawFace(s, 0);
    // Faces are drawn before the ranges are taken, so a new range shows on the faces from the
    // next paint on.
    gauges_[SpeedDial].setRange(r.speedMin, r.speedMax);
    gauges_[PowerDial].setRange(r.hpMin, r.hpMax);
    gauges_[SpeedDial].drawValue(v.engineSpeed, s, 0);
    gauges_[SubstitutionDial].drawValue(v.substitutionRate, s, 0);
    gauges_[PowerDial].drawValue(v.engineHp, s, 2);
}

void Panel::drawStatusLines(Surface& s, int width, int height, const PanelInputs& in) {
    TextLines t = computeTextLines(in.live, in.image, in.selectedBank);
    if (in.logRecordOnly()) {
        // These come from registers (and, for the right bank, fields) a log record does not
        // hold; in playback they would be the last live poll's.
        t.ecuError = "ECU FLOW RX ERR: --";
        t.startSp = "START SP : --";
        t.startSp1 = "START SP1 : --";
        t.startSp2 = "START SP2 : --";
        if (in.selectedBank != 1) t.mode = "MODE: --";
    }
    s.setTransparentBackground(true);
    s.setTextColour(paletteColor(10));
    s.setTextAlign({HAlign::Left, VAlign::Bottom});
    const int x = statusLineX(width);
    const double base = height / 2.5;
    const struct {
        int offset;
        const std::string* text;
    } lines[] = {{-25, &t.pressureSp}, {0, &t.bank},     {25, &t.mode},      {45, &t.ecu},
                 {65, &t.ecuError},    {85, &t.startSp}, {105, &t.startSp1}, {125, &t.startSp2}};
    for (const auto& line : lines) {
        if (line.text->empty()) continue;  // the ECU line shows only when it applies
        s.text(x, truncToInt(base + line.offset), *line.text);
    }
}

void Panel::onPaint(Surface& s, int width, int height, const PanelInputs& in) {
    s.beginFixed();
    s.fillRect(0, 0, width, height, kBackground);
    s.endFixed();

    if (width < kNarrowWidth) {
        s.selectFont(FontChoice::Small);
        gauges_[PowerDial].setTitles("ENGINE", "HP", true, kTitleColour);
        gauges_[SpeedDial].setTitles("ENGINE", "SPEED", true, kTitleColour);
        gauges_[SubstitutionDial].setTitles("SUBSTITUTION", "RATE", true, kTitleColour);
    } else {
        s.selectFont(FontChoice::Default);
    }

    const DisplayValues v = computeDisplayValues(in.live, in.selectedBank);
    const DisplayRanges& r = in.ranges;

    if (in.zoomed) {
        applyZoomLayout();
    } else {
        applyPanelLayout();
        drawPanelInstruments(s, in, v);
    }

    chart_.setChannelText(speedChannelName(r.overspeed), "RPM", 8);
    chart_.setChannelText(exhaustChannelName(r.exhaust_temp_avg_shutdown_max), "F", 6);
    chart_.setChannelText("VIBRATION FDBK", "in/sec", 4);
    chart_.setChannelText("VIBRATION MAX", "in/sec", 9);
    chart_.setLabel(in.logRecordOnly() ? playbackGasText(in.live) : gasText(in.live, in.status), 5,
                    2);

    chart_.drawGrid(s);
    chart_.drawLegend(s);
    chart_.drawTraces(s, true);

    // In playback the player fills the chart; the paint records nothing.
    if (!in.playbackActive) {
        chart_.advance();
        chart_.stampTime();
    }
    setChannelRanges(r);
    if (!in.playbackActive)
        for (int c = 0; c < kTrendChannels; ++c)
            chart_.addSample(v.trend[c], c);

    if (!in.zoomed) drawStatusLines(s, width, height, in);
}

}  // namespace kvx
