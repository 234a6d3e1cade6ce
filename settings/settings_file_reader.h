#pragma once
// Reading a settings file back: the upload's own format, checked line by line, so that a file
// that was cut short, edited by hand or made for another firmware is refused with the line and
// the reason instead of being taken for a controller's settings.
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/settings_file.h"

namespace kvx {

// Larger files are refused unread: the biggest real one is about 4 KB.
inline constexpr std::size_t kSettingsFileMaxBytes = 64 * 1024;

struct SettingsFileContents {
    SettingsImage image{};  // entries the file has no row for are 0
    int firmware = 0;       // version x 100, from the header
    int serialNumber = 0;   // 0..65535, from the header
    int rows = 0;           // parameter rows, settingsFileRows(firmware)
};

struct SettingsFileError {
    int line = 0;  // 1-based; 0 when the refusal is about the file as a whole
    std::string reason;
    // "line 12: unknown name \"fuel_flow\"", or the reason alone.
    std::string text() const;
};

// The file's bytes. True with contents filled, else false with the first fault found.
bool parseSettingsFile(std::string_view bytes, SettingsFileContents& contents,
                       SettingsFileError& error);
// Reads path (at most kSettingsFileMaxBytes) and parses it.
bool readSettingsFile(const std::string& path, SettingsFileContents& contents,
                      SettingsFileError& error);

}  // namespace kvx
