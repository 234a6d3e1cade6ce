// The chart's share of a paint: recording one poll, and redrawing a full record.
#include <benchmark/benchmark.h>

#include <cmath>

#include "display/client_size.h"
#include "display/trend_chart.h"

namespace kvx {
namespace {

// Counts calls instead of painting, so what is measured is the chart's own work.
class CountingSurface : public Surface {
  public:
    void setPen(const Pen&) override { ++state; }
    void setBrush(const Brush&) override { ++state; }
    void setTextColour(Rgb) override { ++state; }
    void setTextAlign(TextAlign) override { ++state; }
    void setTransparentBackground(bool) override { ++state; }
    void setBackgroundColour(Rgb) override { ++state; }
    void selectFont(FontChoice) override { ++state; }
    TextMetrics textMetrics() const override { return {16, 7}; }
    void fillRect(int, int, int, int, Rgb) override { ++shapes; }
    void rectangle(int, int, int, int) override { ++shapes; }
    void ellipse(int, int, int, int) override { ++shapes; }
    void arc(int, int, int, int, int, int, int, int) override { ++shapes; }
    void moveTo(int, int) override { ++shapes; }
    void lineTo(int, int) override { ++shapes; }
    void text(int, int, std::string_view t) override { chars += t.size(); }

    long state = 0, shapes = 0;
    std::size_t chars = 0;
};

std::time_t fixedClock() {
    return 1700000000;
}

// The zoom view of a client wide enough for the largest record.
void layOut(TrendChart& chart) {
    chart.setSize(ClientSize{3000, 1200});
    chart.setSizeFractions(75, 80);
    chart.setPosition(5, 10);
    const int rows[] = {15, 21, 27, 33, 39, 45, 51, 57, 63};
    const int channels[] = {0, 1, 5, 2, 9, 4, 6, 8, 3};
    for (int i = 0; i < 9; ++i)
        chart.setLegend(2, static_cast<std::int16_t>(rows[i]), channels[i], true);
    for (int c = 0; c < TrendChart::kChannels; ++c)
        chart.setChannelRange(0, 100, c, c + 1);
    chart.setClock(fixedClock);
}

void fill(TrendChart& chart, int positions) {
    for (int i = 0; i < positions; ++i) {
        chart.advance();
        chart.stampTime();
        for (int c = 0; c < TrendChart::kChannels; ++c)
            chart.addSample(50 + 45 * std::sin(i * 0.05 + c), c);
    }
}

void BM_TrendRecordOnePoll(benchmark::State& state) {
    TrendChart chart;
    layOut(chart);
    int i = 0;
    for (auto _ : state) {
        chart.advance();
        chart.stampTime();
        for (int c = 0; c < TrendChart::kChannels; ++c)
            chart.addSample(i % 120, c);
        ++i;
    }
    benchmark::DoNotOptimize(chart.writeIndex());
}
BENCHMARK(BM_TrendRecordOnePoll);

void BM_TrendDrawFullRecord(benchmark::State& state) {
    TrendChart chart;
    layOut(chart);
    fill(chart, chart.capacity() + 1);
    CountingSurface surface;
    for (auto _ : state) {
        chart.drawGrid(surface);
        chart.drawLegend(surface);
        chart.drawTraces(surface, true);
    }
    benchmark::DoNotOptimize(surface.shapes);
    state.counters["capacity"] = chart.capacity();
}
BENCHMARK(BM_TrendDrawFullRecord)->Unit(benchmark::kMicrosecond);

// A sweep clear resets all ten channels' 1000 positions.
void BM_TrendSweepClear(benchmark::State& state) {
    TrendChart chart;
    layOut(chart);
    for (auto _ : state)
        chart.clear();
    benchmark::DoNotOptimize(chart.writeIndex());
}
BENCHMARK(BM_TrendSweepClear)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kvx
