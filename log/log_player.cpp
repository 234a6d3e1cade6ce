#include "log/log_player.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "log/log_csv.h"
#include "log/log_reader.h"
#include "log/log_result.h"

namespace kvx {

namespace {

// The date and hour in a log file's name, "log_2014_5_24_13.log" in any directory, written
// the way the writer names files (no leading zeros).
bool parseLogFileHour(const std::string& path, int& year, int& month, int& day, int& hour) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    int end = 0;
    if (std::sscanf(name.c_str(), "log_%d_%d_%d_%d.log%n", &year, &month, &day, &hour, &end) != 4 ||
        static_cast<std::size_t>(end) != name.size())
        return false;
    char canonical[64];
    std::snprintf(canonical, sizeof canonical, "log_%d_%d_%d_%d.log", year, month, day, hour);
    return name == canonical && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 &&
           hour <= 23;
}

}  // namespace

std::array<double, kPlaybackChannels> playbackChannelValues(const LogRecord& record) {
    LiveData d;
    record.toLiveData(d);
    // Flows, load and vibration cannot be negative; a negative raw value is a sensor fault
    // and would draw below the plot.
    auto notNegative = [](double v) { return v < 0.0 ? 0.0 : v; };
    return {notNegative(d.diesel_flow * 0.1),    notNegative(d.engine_load * 0.1),
            d.pressure_fdbk_left * 0.01,         static_cast<double>(d.actuator_left),
            notNegative(d.vibration * 0.001),    d.pressure_sp_left * 0.01,
            static_cast<double>(d.exhaust_temp), 0.0,
            static_cast<double>(d.engine_speed), d.vibration_max * 0.001};
}

std::string playbackResultText(int result, const std::string& path) {
    switch (result) {
        case LOG_OK:
            return {};
        case LOG_OPEN_FAILED:
            return "Cannot open " + path;
        case LOG_NOT_REGULAR:
            return path + " is not a log file";
        case LOG_NO_RECORDS:
            return path + " holds no records";
        case LOG_BAD_INDEX:
            return path + " has become shorter; playback stopped";
        case LOG_READ_FAILED:
            return "Cannot read " + path + "; playback stopped";
        case LOG_NOT_OPEN:
            return "No file is open";
        default:
            return "Cannot play " + path;
    }
}

LogPlayer::LogPlayer(LiveData& live, PlaybackTrend& trend,
                     std::function<void(const std::string&)> setTitle)
    : live_(live), trend_(trend), setTitle_(std::move(setTitle)) {}

int LogPlayer::openFile(const std::string& path) {
    // A new file starts paused at its first record.
    halt();
    path_ = path;
    hourKnown_ = parseLogFileHour(path, fileYear_, fileMonth_, fileDay_, fileHour_);
    loaded_ = false;
    position_ = 0;
    lastIndex_ = 0;
    std::int64_t count = 0;
    const int r = loadChunk(path, 0, &count);
    if (r != LOG_OK) {
        chunk_.clear();
        chunkFirst_ = 0;
        chunkLast_ = -1;
        title_.clear();
        problem_.clear();
        return r;
    }
    loaded_ = true;
    lastIndex_ = static_cast<std::int32_t>(
        std::min<std::int64_t>(count - 1, std::numeric_limits<std::int32_t>::max()));
    showRecord(0);
    return LOG_OK;
}

int LogPlayer::loadChunk(const std::string& path, std::int32_t index, std::int64_t* recordCount) {
    // Every load reopens the file: it may have grown, or gone, since the last one.
    LogReader reader;
    const int r = reader.open(path);
    if (r != LOG_OK) return r;
    const std::int64_t count = reader.recordCount();
    if (count == 0) return LOG_NO_RECORDS;
    if (index < 0 || index >= count) return LOG_BAD_INDEX;

    const int n = std::max(1, trend_.capacity());
    const std::int64_t first = static_cast<std::int64_t>(index / n) * n;
    const std::int64_t want = std::min<std::int64_t>(n + 1, count - first);
    scratch_.resize(static_cast<std::size_t>(n) + 1);
    const std::int64_t got = reader.readRecords(first, want, scratch_.data());
    // A chunk is read whole or not at all, so a failed load leaves the shown one intact.
    if (got != want) return LOG_READ_FAILED;
    scratch_.resize(static_cast<std::size_t>(got));
    chunk_.swap(scratch_);
    chunkFirst_ = static_cast<std::int32_t>(first);
    chunkLast_ = static_cast<std::int32_t>(first + got - 1);
    chunkCapacity_ = n;
    ++loads_;

    title_ = reader.hasHeader() ? reader.title() : std::string();
    if (setTitle_) setTitle_(title_);

    for (std::size_t k = 0; k < chunk_.size(); ++k) {
        if (k == 0) trend_.clear();
        trend_.putTimeStamp(static_cast<std::time_t>(chunk_[k].time));
        const auto values = playbackChannelValues(chunk_[k]);
        for (int c = 0; c < kPlaybackChannels; ++c)
            trend_.addSample(values[static_cast<std::size_t>(c)], c);
    }
    if (recordCount) *recordCount = count;
    if (chunkListener_) chunkListener_();
    return LOG_OK;
}

bool LogPlayer::showRecord(int slot) {
    if (slot < 0 || static_cast<std::size_t>(slot) >= chunk_.size()) return false;
    const LogRecord& record = chunk_[static_cast<std::size_t>(slot)];
    record.toLiveData(live_);
    judgeRecord(record, chunkFirst_ + slot);
    // The chart keeps record k's samples and time at position k + 1 (its time stamp steps to
    // that position first).
    trend_.setDisplayIndex(slot + 1);
    return true;
}

void LogPlayer::judgeRecord(const LogRecord& record, std::int32_t index) {
    problem_.clear();
    std::string why;
    if (!isPlausibleLogRecord(record, &why)) {
        problem_ = "Record " + std::to_string(index) + " is damaged: " + why;
        return;
    }
    if (!hourKnown_) return;
    // The writer names each file by the local hour it was opened in and reopens at every new
    // hour, so a record of another hour in it was not written there.
    const auto t = static_cast<std::time_t>(record.time);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) return;
    if (local.tm_year + 1900 == fileYear_ && local.tm_mon + 1 == fileMonth_ &&
        local.tm_mday == fileDay_ && local.tm_hour == fileHour_)
        return;
    char text[160];
    std::snprintf(text, sizeof text,
                  "Record %d is damaged: its time %04d-%02d-%02d %02d:%02d:%02d lies outside the "
                  "file's hour (%02d:00 to %02d:59 on %04d-%02d-%02d)",
                  static_cast<int>(index), local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec, fileHour_, fileHour_, fileYear_,
                  fileMonth_, fileDay_);
    problem_ = text;
}

bool LogPlayer::inChunk(std::int32_t position) const {
    // The chunk's last record is also the next chunk's first: reaching it loads that chunk,
    // so the chart always shows what lies ahead.
    return chunkFirst_ <= position && position < chunkLast_ && position < lastIndex_;
}

int LogPlayer::changePosition(std::int32_t position) {
    if (!loaded_) return LOG_NOT_OPEN;
    position = std::clamp(position, 0, lastIndex_);
    // A resized chart holds a different number of records: cut the chunks anew.
    if (!inChunk(position) || chunkCapacity_ != std::max(1, trend_.capacity())) {
        const int r = loadChunk(path_, position);
        if (r != LOG_OK) {
            halt();
            return r;
        }
    }
    position_ = position;
    showRecord(position - chunkFirst_);
    return LOG_OK;
}

int LogPlayer::fitChunkToChart() {
    if (!loaded_ || chunkCapacity_ == std::max(1, trend_.capacity())) return LOG_OK;
    return changePosition(position_);
}

void LogPlayer::play() {
    if (!loaded_) return;
    reverse_ = false;
    forward_ = true;
    timerMs_ = kPlayMs;
}

void LogPlayer::fastForward() {
    if (!loaded_) return;
    reverse_ = false;
    forward_ = true;
    timerMs_ = kFastMs;
}

void LogPlayer::fastReverse() {
    if (!loaded_) return;
    forward_ = false;
    reverse_ = true;
    timerMs_ = kFastMs;
}

void LogPlayer::pause() {
    halt();
}

int LogPlayer::stop() {
    timerMs_ = 0;
    // Record 1 is where Stop and the end of the file go; a one-record file has only record 0.
    return changePosition(std::min(1, lastIndex_));
}

int LogPlayer::tick() {
    if (!loaded_) {
        halt();
        return LOG_NOT_OPEN;
    }
    std::int32_t next = position_;
    if (reverse_) {
        if (position_ <= 0) {
            timerMs_ = 0;  // the start of the file: reverse play stops there
            return LOG_OK;
        }
        --next;
    } else if (position_ < lastIndex_) {
        if (forward_) ++next;
    } else {
        timerMs_ = 0;
        next = std::min(1, lastIndex_);
    }
    return changePosition(next);
}

void LogPlayer::halt() {
    forward_ = false;
    reverse_ = false;
    timerMs_ = 0;
}

}  // namespace kvx
