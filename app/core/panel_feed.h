#pragma once
// The record the panel shows and whose it is. Polling fills it while the viewer is connected,
// the log player while a file plays back, a unit's records from an MQTT broker while one is
// shown from there; the window owns it and hands it to each, so the panel reads one record
// whichever of them wrote it last.
#include "model/live_data.h"

namespace kvx {

enum class FeedMode {
    Polling,   // the poll's record; also before the first connection
    Playback,  // the player's record, from the Playback command until a good Connect
    Remote,    // a unit's logged record from the broker, read-only, until a good Connect
};

struct PanelFeed {
    LiveData live;
    FeedMode mode = FeedMode::Polling;

    bool playback() const { return mode == FeedMode::Playback; }
    bool remote() const { return mode == FeedMode::Remote; }
    // The record is a log record (fields 0..19): what it does not hold must not show as its.
    bool logRecord() const { return playback() || remote(); }
};

}  // namespace kvx
