#pragma once
// The settings file: every parameter register of the controller as "name,value" lines under a
// serial-number and version header, read by firmware version and written so that a failed
// write never leaves a half-written file in place of a good one. Used by the Upload Data
// dialog and by kvx-probe.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "model/registers.h"
#include "settings/register_block.h"
#include "settings/settings_context.h"

namespace kvx {

// Entry i holds the register with reference i + 1.
using SettingsImage = std::array<std::int16_t, kParameterCount>;

// The reads that fill the image for a firmware version x 100, in order.
std::vector<BlockRange> settingsImageReads(int firmware);
// How many parameter lines the file has for a firmware version.
int settingsFileRows(int firmware);

// Clears the image, then makes the reads in order, stopping at the first that fails (the
// outcome is the same, and a dead line is not waited on six times). Entries no read covers
// stay 0. 0 or the failing read's result; failedRange names that read.
int readSettingsImage(DeviceLink& link, int slave, int firmware, SettingsImage& image,
                      BlockRange* failedRange = nullptr);
// The same at the context's slave address, for its firmware.
inline int readSettingsImage(const SettingsContext& context, SettingsImage& image) {
    return readSettingsImage(context.link, context.slave, context.firmware, image);
}

// How many entries, from the first, the reads of a firmware version fill: the rows after them
// are written as 0, which is no value the controller holds.
int settingsImageCovered(int firmware);
// The same for the files written before rows 93-114 (1.06-1.11) and 151 (1.12-1.14) were
// read: such a file holds 0 after this row, whatever the controller held.
int settingsCoveredByOlderBackups(int firmware);
// The rows of a firmware's file that no read fills, as "93-114", or empty.
std::string settingsUnreadRows(int firmware);
// The sentence that names them for the user, or empty.
std::string settingsUnreadNote(int firmware);

// The header's version text for a version x 100, as the file has it ("1.17", "1.1", "1").
std::string settingsVersionText(int firmware);

// The file's bytes: the header, an empty line and one line per parameter, each ended by CR LF.
std::string settingsFileText(const SettingsImage& image, int firmware);

// Replaces path with the text: a temporary file in the same folder, flushed to the disk, then
// renamed over path. On failure nothing is left behind and an existing file is untouched. A
// symbolic link is followed: its target is replaced and the link kept. When the folder refuses
// the temporary file (or the rename), the file is written in place instead, and its old text
// put back if that write fails. Empty on success, else the reason for path ("Permission
// denied"), never about a temporary file.
std::string writeFileAtomically(const std::string& path, const std::string& text);

// The save dialog's choice with the extension rule: ".csv" added when the file name itself
// has no dot.
std::string withCsvExtension(const std::string& path);

}  // namespace kvx
