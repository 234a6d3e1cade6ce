#include "log_picture.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "overview/trend_chart_feed.h"
#include "display/panel.h"
#include "display/qt_surface.h"
#include "display/recording_surface.h"
#include "log/log_player.h"
#include "log/log_reader.h"
#include "log/log_result.h"

namespace kvx {

namespace {

// The first record whose local time of day is the one asked for, or -1.
long findRecordAt(const LogReader& reader, int hour, int minute, int second) {
    std::vector<LogRecord> batch(1024);
    for (std::int64_t first = 0; first < reader.recordCount();) {
        const std::int64_t n =
            reader.readRecords(first, static_cast<std::int64_t>(batch.size()), batch.data());
        if (n <= 0) return -1;
        for (std::int64_t k = 0; k < n; ++k) {
            const std::time_t t = batch[static_cast<std::size_t>(k)].time;
            std::tm tm{};
            if (localtime_r(&t, &tm) && tm.tm_hour == hour && tm.tm_min == minute &&
                tm.tm_sec == second)
                return static_cast<long>(first + k);
        }
        first += n;
    }
    return -1;
}

std::string timeOfDay(int hour, int minute, int second) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
    return text;
}

}  // namespace

int renderLogPicture(const LogPictureRequest& request, std::string* error) {
    const std::string& path = request.logPath;
    LogReader reader;
    if (reader.open(path) != LOG_OK) {
        *error = "cannot read " + path;
        return 1;
    }
    if (reader.recordCount() == 0) {
        *error = path + " holds no records";
        return 1;
    }
    long index = request.record;
    if (index < 0) {
        index = findRecordAt(reader, request.hour, request.minute, request.second);
        if (index < 0) {
            *error = "no record at " + timeOfDay(request.hour, request.minute, request.second) +
                     " in " + path;
            return 1;
        }
    } else if (index >= reader.recordCount()) {
        *error = "no record " + std::to_string(index) + " in " + path + " (records 0 to " +
                 std::to_string(reader.recordCount() - 1) + ")";
        return 1;
    }
    reader.close();

    // What the window has before any connection: default ranges and an empty image.
    LiveData live;
    InputImage image;
    LiveStatus status;
    DisplayRanges ranges;
    Panel panel;
    panel.onCreate(ranges);
    panel.onSize(request.width, request.height);
    const PanelInputs in{live, image, status, ranges, 1, false, true};
    // A first paint lays the chart out, which fixes its capacity and so the chunk.
    RecordingSurface layout;
    panel.onPaint(layout, request.width, request.height, in);

    TrendChartFeed feed(panel.chart());
    LogPlayer player(live, feed);
    int r = player.openFile(path);
    if (r == LOG_OK) r = player.changePosition(static_cast<std::int32_t>(index));
    if (r != LOG_OK) {
        *error = playbackResultText(r, path);
        return 1;
    }
    QtSurface surface(request.width, request.height);
    panel.onPaint(surface, request.width, request.height, in);
    if (!surface.savePng(request.outPath)) {
        *error = "cannot write " + request.outPath;
        return 1;
    }
    return 0;
}

}  // namespace kvx
