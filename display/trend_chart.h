#pragma once
// The ten-channel sweep chart under the bars: one sample per channel per paint, drawn as step
// traces over a percent grid, with a cursor, a time axis and one legend per channel.
//
// The whole history lives in fixed arrays, so recording never allocates. Positions fill from the
// left edge; once the write index passes capacity + 1 the record is cleared and filling restarts
// at position 0 (a sweep, not a scroll).
#include <array>
#include <cstdint>
#include <ctime>
#include <string_view>

#include "display/client_size.h"
#include "display/surface.h"

namespace kvx {

class TrendChart {
  public:
    static constexpr int kChannels = 10;
    static constexpr int kPositions = 1000;
    // The write index runs up to capacity + 1 and a wide plot halves its capacity, so a plot of
    // 1980 pixels (capacity 990) is the widest whose positions all fit the store; wider plots
    // keep their left edge and stop at that width.
    static constexpr int kMaxPlotWidth = 1980;

    enum Status : std::uint8_t { Valid = 0, OverRange = 1, UnderRange = 2, NoData = 3 };

    using Clock = std::time_t (*)();

    TrendChart();
    virtual ~TrendChart() = default;

    // Geometry. Percent arguments become fractions of the client size; every setter recomputes
    // from the stored client size. A zero width or height (a minimised window) keeps the
    // previous geometry.
    void setSizeFractions(std::int16_t widthPercent, std::int16_t heightPercent);
    void setPosition(std::int16_t leftPercent, std::int16_t topPercent);
    bool setSize(ClientSize clientSize);
    // A channel is drawn (legend, label, trace) only while its legend x lies inside the window.
    bool setLegend(std::int16_t xPercent, std::int16_t yPercent, int channel, bool fixedDecimals);
    bool setLabelPosition(std::int16_t xPercent, std::int16_t yPercent, int channel);

    // Channel set-up; a channel outside 0..9 is refused. Texts are cut to 19 (name), 14 (units)
    // and 34 (label) characters.
    bool setChannelRange(double min, double max, int channel, int colourIndex);
    bool setChannelText(std::string_view name, std::string_view units, int channel);
    bool setLabel(std::string_view text, int colourIndex, int channel);

    // Recording.
    bool addSample(double value, int channel);
    void advance();
    void stampTime();
    // Steps like advance, then stamps the new position (and position 0 too when the sweep
    // started there), so the samples added next share the stamp.
    void putTimeStamp(std::time_t time);
    void clear();
    // The live sweep keeps the last sweep's times on the axis ahead of the new one; a chart
    // filled afresh from elsewhere (playback) forgets them, so no old time shows among its own.
    void clearTimeStamps();
    // Refused (false) outside the store.
    bool setDisplayIndex(int index);
    int capacity() const { return capacity_; }

    // Drawing; drawGrid also measures the legend boxes that drawLegend lays its texts out by.
    void drawGrid(Surface& surface);
    void drawTraces(Surface& surface, bool restart);
    void drawLegend(Surface& surface) const;

    // stampTime reads this clock; std::time by default.
    void setClock(Clock clock);

    // State, for the player and for tests.
    struct Plot {
        int left = 0, top = 0, right = 0, bottom = 0;
    };
    Plot plot() const { return plot_; }
    int pixelsPerSample() const { return plot_.right - plot_.left < 550 ? 1 : 2; }
    int writeIndex() const { return write_; }
    int displayIndex() const { return display_; }
    int drawnFrom() const { return drawnFrom_; }
    int legendX(int channel) const;
    int legendY(int channel) const;
    int labelX(int channel) const;
    int labelY(int channel) const;
    // Positions outside the store read as an empty position: sample 10000, NoData, time 0.
    std::int16_t sample(int channel, int position) const;
    double rawValue(int channel, int position) const;
    Status status(int channel, int position) const;
    std::time_t timeStamp(int position) const;
    std::string_view channelName(int channel) const;
    std::string_view channelUnits(int channel) const;
    std::string_view label(int channel) const;

  private:
    void computeGeometry();
    void step();

    struct Channel {
        std::array<std::int16_t, kPositions> samples;
        std::array<double, kPositions> raw;
        std::array<Status, kPositions> status;
        double min = 0.0, max = 0.0;
        int colour = 5;
        int labelColour = 0;
        bool fixedDecimals = false;
        int legendX = -1, legendY = 0, labelX = 0, labelY = 0;
        double legendXFraction = 50.0, legendYFraction = 50.0;
        double labelXFraction = 50.0, labelYFraction = 50.0;
        char name[20] = {};
        char units[15] = {};
        char label[35] = {};
    };
    bool shown(const Channel& ch) const;

    ClientSize clientSize_;
    std::array<Channel, kChannels> channels_;
    std::array<std::time_t, kPositions> stamps_{};
    int display_ = 0;
    int drawnFrom_ = 0;
    int write_ = 0;
    Plot plot_{50, 25, 700, 275};
    int capacity_ = 10;
    double verticalScale_ = (275 - 25) / 10000.0;
    int axisTextColour_ = 10;
    int valueTextColour_ = 10;
    double widthFraction_ = 0.25, heightFraction_ = 0.2;
    double leftFraction_ = 50.0, topFraction_ = 50.0;
    int boxHeight_ = 0, boxWidth_ = 0;
    Clock clock_;
    // The vertices of one trace run, kept so that a paint does not allocate: a start and two
    // per position.
    std::array<Vertex, 2 * kPositions + 1> run_{};
};

}  // namespace kvx
