#pragma once
// The playback player: plays a log file back through LiveData and the trend chart. It holds one
// chunk of records around the position (the trend's capacity + 1 records, so that the chart
// shows the chunk whole), reloads it whenever the position leaves it, and steps the position
// on the ticks of the dialog's timer. No Qt: the dialog owns the timer and the controls and
// asks the player what to show.
//
// The record at the position is put into LiveData and the chart's display index when the
// position changes, before the window repaints, so every paint shows the record at the
// position and the paint itself only reads.
#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "log/log_file_name.h"
#include "log/log_format.h"
#include "model/live_data.h"

namespace kvx {

// The chart the player fills. Implemented over display's TrendChart where both are visible, so
// that log/ needs nothing from display/.
class PlaybackTrend {
  public:
    virtual ~PlaybackTrend() = default;
    virtual int capacity() const = 0;
    virtual void clear() = 0;
    virtual void putTimeStamp(std::time_t time) = 0;
    virtual void addSample(double value, int channel) = 0;
    virtual void setDisplayIndex(int index) = 0;
};

inline constexpr int kPlaybackChannels = 10;

// The trend values of one record, channel 0..9 (diesel flow, load, pressure feedback,
// actuator, vibration, pressure set-point, exhaust temperature, a spare 0, speed, vibration
// maximum) in engineering units.
std::array<double, kPlaybackChannels> playbackChannelValues(const LogRecord& record);

// What a player result means for path, in a line the dialog shows; empty for LOG_OK.
std::string playbackResultText(int result, const std::string& path);

class LogPlayer {
  public:
    static constexpr int kTimerId = 275;
    static constexpr int kPlayMs = 100;  // Play: ten records a second
    static constexpr int kFastMs = 5;    // >> and <<

    // setTitle receives, at every chunk load, the file's header text, or an empty text for a
    // file without a header (the window then shows its own title, not the last file's).
    LogPlayer(LiveData& live, PlaybackTrend& trend,
              std::function<void(const std::string&)> setTitle = {});

    // Open File: position 0, the chunk of record 0 loaded and shown. LOG_OK; otherwise
    // (LOG_OPEN_FAILED, LOG_NOT_REGULAR, LOG_READ_FAILED, LOG_NO_RECORDS) nothing is loaded,
    // the last record index is 0 and LiveData and the chart keep what they had.
    int openFile(const std::string& path);

    // Loads the chunk holding record index from path: chunk = index / capacity, records
    // chunk * capacity up to capacity + 1 of them, so consecutive chunks share a record. On
    // LOG_OK the trend is refilled and *recordCount (when given) receives the file's record
    // count; on failure nothing changes. LOG_BAD_INDEX when index lies past the file's end.
    int loadChunk(const std::string& path, std::int32_t index, std::int64_t* recordCount = nullptr);

    // Puts chunk slot's values into LiveData fields 0..19 (20..24 keep theirs) and points the
    // chart's display at it. A slot outside the loaded chunk changes nothing (false).
    bool showRecord(int slot);

    // A position change, the user's (trackbar) or the player's own: shows the record at
    // position, reloading first when it lies outside the chunk. Positions outside the file
    // are clamped into it. LOG_OK; on a failed reload the position, the shown record and the
    // chunk stay as they were, play stops, and the result tells why.
    int changePosition(std::int32_t position);

    // The five buttons.
    void play();
    void fastForward();
    void fastReverse();
    void pause();
    // Record 1 (or record 0 in a one-record file), timer stopped; the flags stay as they are.
    int stop();

    // One tick of the timer: a step forward or back. Forward play past the last record stops
    // and goes to record 1; reverse play stops at record 0. LOG_OK or a reload's failure.
    int tick();

    // Cuts the chunk anew when the chart's capacity has changed since it was cut (a zoom or a
    // resize), so that the chart holds the chunk and the cursor the record at the position. LOG_OK
    // when nothing had to change; otherwise as changePosition.
    int fitChunkToChart();

    // Called after every chunk load, whoever asked for it, so that a dialog can show the chunk.
    void setChunkListener(std::function<void()> listener) { chunkListener_ = std::move(listener); }

    // The timer the dialog should run: its period in ms, 0 when stopped.
    int timerMs() const { return timerMs_; }
    bool loaded() const { return loaded_; }
    const std::string& path() const { return path_; }
    // The header text of the loaded file; empty without a header.
    const std::string& title() const { return title_; }
    // Why the record at the position cannot have come from the log writer ("Record 7 is
    // damaged: ..."); empty for a plausible record.
    const std::string& recordProblem() const { return problem_; }

    std::int32_t playbackPosition() const { return position_; }
    std::int32_t lastRecordIndex() const { return lastIndex_; }
    std::int32_t chunkFirst() const { return chunkFirst_; }
    std::int32_t chunkLast() const { return chunkLast_; }
    const std::vector<LogRecord>& chunkRecords() const { return chunk_; }
    bool playForward() const { return forward_; }
    bool playReverse() const { return reverse_; }
    // Chunk loads since construction (each one reads the file and refills the trend).
    long chunkLoads() const { return loads_; }

  private:
    bool inChunk(std::int32_t position) const;
    void halt();
    void judgeRecord(const LogRecord& record, std::int32_t index);

    LiveData& live_;
    PlaybackTrend& trend_;
    std::function<void(const std::string&)> setTitle_;
    std::function<void()> chunkListener_;
    std::string path_;
    std::string title_;
    std::string problem_;
    // The local hour the file's name says it holds (log_<y>_<m>_<d>_<h>.log); hourKnown_ false
    // for a file named otherwise or none of whose records falls in it.
    bool hourKnown_ = false;
    LogFileHour fileHour_;
    bool loaded_ = false;
    std::int32_t position_ = 0;
    std::int32_t lastIndex_ = 0;
    std::int32_t chunkFirst_ = 0;
    std::int32_t chunkLast_ = -1;
    int chunkCapacity_ = 0;  // the trend capacity the chunk was cut for
    std::vector<LogRecord> chunk_;
    std::vector<LogRecord> scratch_;
    bool forward_ = false;
    bool reverse_ = false;
    int timerMs_ = 0;
    long loads_ = 0;
};

}  // namespace kvx
