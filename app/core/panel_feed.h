#pragma once
// The record the panel shows and whose it is. Polling fills it while the viewer is connected,
// the log player while a file plays back; the window owns it and hands it to both, so the panel
// reads one record whichever of them wrote it last.
#include "model/live_data.h"

namespace kvx {

enum class FeedMode {
    Polling,   // the poll's record; also before the first connection
    Playback,  // the player's record, from the Playback command until a good Connect
};

struct PanelFeed {
    LiveData live;
    FeedMode mode = FeedMode::Polling;

    bool playback() const { return mode == FeedMode::Playback; }
};

}  // namespace kvx
