// Any bytes as a settings file: a file taken is one the upload could have written (written
// again it reads back the same), a refused one names a line of the file and yields nothing,
// and a restore of what was taken never plans a register it must leave alone or a value the
// file does not hold.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "model/registers.h"
#include "settings/settings_file_reader.h"
#include "settings/settings_restore.h"

using namespace kvx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    SettingsFileContents file;
    SettingsFileError error;
    if (!parseSettingsFile(bytes, file, error)) {
        FUZZ_CHECK(!error.reason.empty());
        FUZZ_CHECK(error.line >= 0);
        std::size_t lines = 1;
        for (const char c : bytes)
            lines += c == '\n';
        FUZZ_CHECK(static_cast<std::size_t>(error.line) <= lines + 1);
        FUZZ_CHECK(file.firmware == 0 && file.rows == 0);
        return 0;
    }
    FUZZ_CHECK(size <= kSettingsFileMaxBytes);
    FUZZ_CHECK(file.rows == settingsFileRows(file.firmware));
    FUZZ_CHECK(file.image[ref::version - 1] == static_cast<std::int16_t>(file.firmware));
    for (int i = file.rows; i < kParameterCount; ++i)
        FUZZ_CHECK(file.image[static_cast<std::size_t>(i)] == 0);

    // Written again as the upload writes it, it reads back the same.
    SettingsFileContents again;
    FUZZ_CHECK(parseSettingsFile(settingsFileText(file.image, file.firmware), again, error));
    FUZZ_CHECK(again.image == file.image && again.firmware == file.firmware &&
               again.serialNumber == file.serialNumber && again.rows == file.rows);

    // Against a controller holding nothing but zeros, every difference chosen: the plan holds
    // settings, calibration and a usable slave address only, each with the file's value.
    SettingsImage zeros{};
    zeros[ref::version - 1] = static_cast<std::int16_t>(file.firmware);
    const SettingsComparison c = compareSettings(zeros, file.firmware, file);
    const auto plan = restorePlan(c, std::vector<bool>(c.differences.size(), true));
    int previous = 0;
    for (const RestoreWrite& w : plan) {
        const RestoreKind kind = restoreKind(w.reference, file.firmware);
        FUZZ_CHECK(kind == RestoreKind::Setting || kind == RestoreKind::Calibration ||
                   kind == RestoreKind::SlaveAddress || kind == RestoreKind::AddedRow);
        FUZZ_CHECK(w.value == file.image[static_cast<std::size_t>(w.reference - 1)]);
        if (kind == RestoreKind::SlaveAddress) {
            FUZZ_CHECK(w.value >= 1 && w.value <= 247);
            FUZZ_CHECK(&w == &plan.back());
        } else {
            FUZZ_CHECK(w.reference > previous);
            previous = w.reference;
        }
    }
    // The file against itself differs nowhere.
    const SettingsComparison same = compareSettings(file.image, file.firmware, file);
    FUZZ_CHECK(same.differences.empty() && same.setApart.empty());
    return 0;
}
