#include "log/log_player.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "log/log_csv.h"
#include "log/log_reader.h"
#include "log/log_record_check.h"
#include "log/log_result.h"

namespace kvx {

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
    hourKnown_ = parseLogFileName(path, fileHour_);
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
    // A file renamed, or played in another time zone, holds no record of the hour its name
    // gives: then the name says nothing of its records, and judging them by it would call
    // every one damaged. Its first and last records tell.
    if (hourKnown_) {
        LogReader reader;
        LogRecord firstRecord, lastRecord;
        hourKnown_ = reader.open(path) == LOG_OK && reader.readRecords(0, 1, &firstRecord) == 1 &&
                     reader.readRecords(count - 1, 1, &lastRecord) == 1 &&
                     (isNearLogFileHour(firstRecord.time, fileHour_) ||
                      isNearLogFileHour(lastRecord.time, fileHour_));
    }
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
    if (!isPlausibleLogRecord(record, hourKnown_ ? &fileHour_ : nullptr, &why))
        problem_ = "Record " + std::to_string(index) + " is damaged: " + why;
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
