#pragma once
// kvx-render --log: the whole panel as playback shows one logged record, the trend holding
// the chunk around it.
#include <string>

namespace kvx {

struct LogPictureRequest {
    std::string logPath;
    long record = -1;                         // a record index, or -1 to look the time up
    int hour = -1, minute = -1, second = -1;  // local time of day of the record wanted
    int width = 1920, height = 1080;
    std::string outPath;
};

// Draws the picture and writes the PNG. 0 on success; otherwise 1 with a one-line reason in
// *error.
int renderLogPicture(const LogPictureRequest& request, std::string* error);

}  // namespace kvx
