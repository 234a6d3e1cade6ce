#pragma once
// The player's chart is display's TrendChart. The window, the service report and the programs
// join the two here, the first layer that sees both, so neither log nor log_qt needs display.
#include "display/trend_chart.h"
#include "log/log_player.h"

namespace kvx {

class TrendChartFeed final : public PlaybackTrend {
  public:
    explicit TrendChartFeed(TrendChart& chart) : chart_(chart) {}
    int capacity() const override { return chart_.capacity(); }
    // A chunk is the chart's whole content: nothing of the file or chunk before may stay.
    void clear() override {
        chart_.clear();
        chart_.clearTimeStamps();
    }
    void putTimeStamp(std::time_t time) override { chart_.putTimeStamp(time); }
    void addSample(double value, int channel) override { chart_.addSample(value, channel); }
    void setDisplayIndex(int index) override { chart_.setDisplayIndex(index); }

  private:
    TrendChart& chart_;
};

}  // namespace kvx
