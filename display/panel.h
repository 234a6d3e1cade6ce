#pragma once
// The instrument panel of the main window: three dials across the top, six bars, the trend
// chart, and a column of status lines on the right; a zoom view that shows the chart alone; and
// the bank view that picks which bank's values the per-bank instruments show. The window owns
// the state and the surface and calls onCreate, onSize and onPaint.
#include <cstdint>

#include "display/bar_gauge.h"
#include "display/dial_gauge.h"
#include "display/surface.h"
#include "display/trend_chart.h"
#include "model/display_values.h"
#include "model/live_data.h"

namespace kvx {

// What a paint reads; the paint changes none of it. In playback the player has put the record
// at its position into live and pointed the chart at it before the paint, so every instrument
// shows that record.
struct PanelInputs {
    const LiveData& live;
    const InputImage& image;
    const LiveStatus& status;
    const DisplayRanges& ranges;
    int selectedBank = 1;  // 1 left bank, anything else right bank
    bool zoomed = false;
    bool playbackActive = false;
    // A remote unit's record (from an MQTT broker): a log record, like playback's, so the
    // fields and registers it does not hold show as unknown; the chart runs as when polling.
    bool remoteActive = false;

    bool logRecordOnly() const { return playbackActive || remoteActive; }
};

class Panel {
  public:
    enum Gauge { SpeedDial = 0, PowerDial = 1, SubstitutionDial = 2 };
    enum Bar {
        DieselFlowBar = 0,
        LoadBar = 1,
        PressureFeedbackBar = 2,
        ActuatorBar = 3,
        PressureSetPointBar = 4,
        GasFlowBar = 5
    };
    static constexpr int kGauges = 3;
    static constexpr int kBars = 6;
    // Below this client width the small font and the short titles are used.
    static constexpr int kNarrowWidth = 1300;

    Panel() = default;
    virtual ~Panel() = default;

    // Builds the widgets; ranges gives the channel ranges the chart starts with.
    void onCreate(const DisplayRanges& ranges = DisplayRanges{});
    void onSize(int width, int height);
    // Gives the chart the geometry (and so the capacity) of the panel or the zoom view, as the
    // next paint will; the player cuts its chunk for that capacity before the paint.
    void applyChartLayout(bool zoomed);
    // Draws the whole panel for a client area of width x height onto surface.
    void onPaint(Surface& surface, int width, int height, const PanelInputs& in);

    DialGauge& gauge(int i) { return gauges_[clampIndex(i, kGauges)]; }
    const DialGauge& gauge(int i) const { return gauges_[clampIndex(i, kGauges)]; }
    BarGauge& bar(int i) { return bars_[clampIndex(i, kBars)]; }
    const BarGauge& bar(int i) const { return bars_[clampIndex(i, kBars)]; }
    TrendChart& chart() { return chart_; }
    const TrendChart& chart() const { return chart_; }
    int lastIndicatorType() const { return lastIndicatorType_; }

    // Where the status lines start for a client width.
    static int statusLineX(int width) { return width - width / 7 - 5; }

  private:
    static int clampIndex(int i, int n) { return i < 0 ? 0 : i >= n ? n - 1 : i; }
    void applyPanelLayout();
    void applyZoomLayout();
    void applyIndicatorType(int type);
    void drawPanelInstruments(Surface& s, const PanelInputs& in, const DisplayValues& v);
    void setChannelRanges(const DisplayRanges& r);
    void drawStatusLines(Surface& s, int width, int height, const PanelInputs& in);

    DialGauge gauges_[kGauges];
    BarGauge bars_[kBars];
    TrendChart chart_;
    int lastIndicatorType_ = 1;
};

}  // namespace kvx
