#include "settings/settings_restore.h"

#include <algorithm>
#include <string_view>

#include "model/registers.h"
#include "model/setting_registers.h"

namespace kvx {
namespace {

constexpr int kRtcUpdate = 8;
constexpr int kClockFirst = 152, kClockLast = 157;  // rtc_min_4x .. rtc_year_4x
// Counted or recorded by the controller itself.
constexpr int kRecords[] = {9, 10, 17, 123, 124, 125};
// Measured on the unit with its own sensors: another controller's values would be wrong here.
constexpr std::string_view kCalibration[] = {
    "calibrated",
    "watt_meter_input_gain",
    "watt_meter_input_offset",
    "vibrat_sensor_input_gain",
    "vibrat_sensor_input_offset",
    "diesel_flow_input_gain",
    "diesel_flow_input_offset",
    "diesel_flow_input_max",
    "gas_flow_input_gain",
    "gas_flow_input_offset",
    "gas_flow_input_max",
    "gas_in_offset",
    "dies_in_offset",
    "hp_gain0",
    "hp_offset0",
    "hp_gain1",
    "hp_offset1",
    "hp_gain2",
    "hp_offset2",
};

std::uint16_t unsignedOf(std::int16_t v) {
    return static_cast<std::uint16_t>(v);
}

// The settings screens' way of showing a register, the most precise when two screens show it.
const SettingRegister* shownBy(int reference) {
    const SettingRegister* best = nullptr;
    for (const SettingRegister& r : settingRegisters()) {
        if (r.reference != reference || r.shown == ShowRule::AsRead) continue;
        if (!best || r.shown == ShowRule::Scaled) best = &r;
    }
    return best;
}

// "12.6 V", "1300 F", "Enabled"; empty where a screen shows the raw number anyway.
std::string engineering(int reference, std::int16_t raw, const SettingsImage& image) {
    const SettingRegister* r = shownBy(reference);
    if (!r) return {};
    const std::string_view unit = settingUnit(*r, image[ref::indicator_type - 1]);
    const bool unitless = unit.empty() || unit == "code" || unit == "counts" || unit == "raw";
    if (r->shown == ShowRule::Integer && unitless) return {};
    std::string text = showSetting(*r, raw);
    if (!unitless) {
        text += ' ';
        text += unit;
    }
    return text;
}

std::string nameOf(int reference) {
    return std::string(parameterName(reference));
}

// Whether a controller answers at this slave address with it as its modbus_address.
bool answersAt(DeviceLink& link, std::int16_t address) {
    std::int16_t now = 0;
    return link.readHoldingRegisters(address, ref::modbus_address, &now, 1) == 0 && now == address;
}

}  // namespace

RestoreKind restoreKind(int reference, int firmware) {
    if (reference == ref::product_type || reference == ref::version ||
        reference == ref::serial_number)
        return RestoreKind::Identity;
    if (reference == ref::modbus_address) return RestoreKind::SlaveAddress;
    if (reference == ref::save_data_command || reference == ref::acknowledge_alarm ||
        reference == ref::f_emerg_stop)
        return RestoreKind::Command;
    if (reference == kRtcUpdate || (reference >= kClockFirst && reference <= kClockLast))
        return RestoreKind::Clock;
    if (std::find(std::begin(kRecords), std::end(kRecords), reference) != std::end(kRecords))
        return RestoreKind::Record;
    if (reference > settingsImageCovered(firmware)) return RestoreKind::NotInFile;
    if (reference > settingsCoveredByOlderBackups(firmware)) return RestoreKind::AddedRow;
    const std::string_view name = parameterName(reference);
    if (std::find(std::begin(kCalibration), std::end(kCalibration), name) != std::end(kCalibration))
        return RestoreKind::Calibration;
    return RestoreKind::Setting;
}

const char* restoreKindText(RestoreKind kind) {
    switch (kind) {
        case RestoreKind::Setting:
            return "setting";
        case RestoreKind::SlaveAddress:
            return "slave address";
        case RestoreKind::Calibration:
            return "calibration";
        case RestoreKind::Identity:
            return "identity";
        case RestoreKind::Command:
            return "command";
        case RestoreKind::Clock:
            return "clock";
        case RestoreKind::Record:
            return "record";
        case RestoreKind::NotInFile:
            return "not in the file";
        case RestoreKind::AddedRow:
            return "added row";
    }
    return "";
}

SettingsComparison compareSettings(const SettingsImage& controller, int firmware,
                                   const SettingsFileContents& file) {
    SettingsComparison c;
    c.firmware = firmware;
    c.fileFirmware = file.firmware;
    c.controllerSerial = unsignedOf(controller[ref::serial_number - 1]);
    c.fileSerial = file.serialNumber;
    if (!c.sameFirmware()) return c;  // the rows would not mean the same registers
    std::vector<int> notInFile, added;
    for (int reference = 1; reference <= file.rows; ++reference) {
        const auto i = static_cast<std::size_t>(reference - 1);
        const RestoreKind kind = restoreKind(reference, firmware);
        if (kind == RestoreKind::NotInFile) {
            notInFile.push_back(reference);
            continue;
        }
        if (controller[i] == file.image[i]) continue;
        SettingsDifference d;
        d.reference = reference;
        d.name = nameOf(reference);
        d.controller = unsignedOf(controller[i]);
        d.file = unsignedOf(file.image[i]);
        d.controllerShown = engineering(reference, controller[i], controller);
        d.fileShown = engineering(reference, file.image[i], file.image);
        d.kind = kind;
        const bool restorable = kind == RestoreKind::Setting || kind == RestoreKind::SlaveAddress ||
                                kind == RestoreKind::Calibration || kind == RestoreKind::AddedRow;
        if (kind == RestoreKind::AddedRow) added.push_back(reference);
        (restorable ? c.differences : c.setApart).push_back(std::move(d));
    }
    c.notInFile = referenceRanges(notInFile);
    c.addedRows = referenceRanges(added);
    return c;
}

int readAndCompareSettings(DeviceLink& link, int slave, int firmware,
                           const SettingsFileContents& file, SettingsComparison& comparison,
                           BlockRange* failed) {
    comparison = SettingsComparison{};
    SettingsImage image{};
    if (const int rc = readSettingsImage(link, slave, firmware, image, failed); rc != 0) return rc;
    comparison = compareSettings(image, firmware, file);
    return 0;
}

std::vector<bool> restoreChosenByDefault(const SettingsComparison& comparison, RestoreAsked asked) {
    std::vector<bool> chosen;
    for (const SettingsDifference& d : comparison.differences) {
        switch (d.kind) {
            case RestoreKind::SlaveAddress:
                chosen.push_back(asked.slaveAddress);
                break;
            case RestoreKind::Calibration:
                chosen.push_back(comparison.sameSerial() || asked.calibration);
                break;
            case RestoreKind::AddedRow:
                chosen.push_back(asked.addedRows);
                break;
            default:
                chosen.push_back(true);
                break;
        }
    }
    return chosen;
}

std::vector<RestoreWrite> restorePlan(const SettingsComparison& comparison,
                                      const std::vector<bool>& chosen) {
    std::vector<RestoreWrite> plan;
    std::vector<RestoreWrite> address;
    if (!comparison.sameFirmware()) return plan;
    for (std::size_t i = 0; i < comparison.differences.size() && i < chosen.size(); ++i) {
        if (!chosen[i]) continue;
        const SettingsDifference& d = comparison.differences[i];
        const RestoreWrite w{d.reference, static_cast<std::int16_t>(d.file)};
        if (d.kind == RestoreKind::SlaveAddress) {
            // No master could reach a controller told any other address.
            if (d.file >= 1 && d.file <= 247) address.push_back(w);
        } else if (d.kind == RestoreKind::Setting || d.kind == RestoreKind::Calibration ||
                   d.kind == RestoreKind::AddedRow) {
            plan.push_back(w);
        }
    }
    std::sort(plan.begin(), plan.end(), [](const RestoreWrite& a, const RestoreWrite& b) {
        return a.reference < b.reference;
    });
    plan.insert(plan.end(), address.begin(), address.end());
    return plan;
}

RestoreOutcome writeRestore(DeviceLink& link, int slave, int firmware,
                            const std::vector<RestoreWrite>& plan) {
    RestoreOutcome o;
    o.slave = slave;
    std::vector<RestoreWrite> done;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const RestoreWrite& w = plan[i];
        if (const int rc = link.writeSingleRegister(o.slave, w.reference, w.value); rc != 0) {
            if (w.reference == ref::modbus_address && w.value != o.slave &&
                answersAt(link, w.value)) {
                // Only the reply was lost: the controller has moved.
                o.addressReplyLost = true;
                o.written.push_back(w.reference);
                done.push_back(w);
                o.slave = w.value;
                continue;
            }
            o.writeResult = rc;
            for (std::size_t k = i; k < plan.size(); ++k)
                o.notWritten.push_back(plan[k].reference);
            break;
        }
        o.written.push_back(w.reference);
        done.push_back(w);
        if (w.reference == ref::modbus_address) o.slave = w.value;
    }
    if (plan.empty()) return o;
    SettingsImage image{};
    if (const int rc = readSettingsImage(link, o.slave, firmware, image); rc != 0) {
        o.readBackResult = rc;
        return o;
    }
    for (const RestoreWrite& w : done) {
        const std::int16_t now = image[static_cast<std::size_t>(w.reference - 1)];
        if (now != w.value) o.notHeld.push_back({w.reference, w.value, now});
    }
    if (o.writeResult != 0) {
        const RestoreWrite& failed = plan[done.size()];
        o.failedChecked = true;
        o.failedReadBack = image[static_cast<std::size_t>(failed.reference - 1)];
        o.failedHolds = o.failedReadBack == failed.value;
    }
    return o;
}

namespace {

std::string names(const std::vector<int>& references) {
    std::string text;
    for (const int r : references) {
        if (!text.empty()) text += ", ";
        text += nameOf(r);
    }
    return text;
}

}  // namespace

std::string restoreReport(const RestoreOutcome& o) {
    std::string text;
    const auto count = [](std::size_t n) {
        return std::to_string(n) + (n == 1 ? " register" : " registers");
    };
    if (o.writeResult != 0) {
        const std::string failed = nameOf(o.notWritten.front());
        text += "Writing " + failed + " failed (result " + std::to_string(o.writeResult) +
                "); nothing after it was written.";
        if (o.failedChecked) {
            // A reply lost on the way back leaves the write done.
            text += o.failedHolds
                        ? " Read back, " + failed + " holds the file's value all the same."
                        : " Read back, " + failed + " still reads " +
                              std::to_string(unsignedOf(o.failedReadBack)) + ".";
        }
        text += "\n";
    }
    if (o.addressReplyLost)
        text +=
            "The reply to the modbus_address write was lost; the controller answers at "
            "address " +
            std::to_string(o.slave) + ".\n";
    if (!o.written.empty())
        text += "Written, " + count(o.written.size()) + ": " + names(o.written) + ".\n";
    if (!o.notWritten.empty())
        text += "Not written, " + count(o.notWritten.size()) + ": " + names(o.notWritten) + ".\n";
    if (o.written.empty() && o.notWritten.empty()) text += "Nothing was written.\n";
    if (o.readBackResult != 0) {
        text += "Reading back failed (result " + std::to_string(o.readBackResult) +
                "): what the controller holds was not checked.\n";
    } else if (!o.written.empty()) {
        if (o.notHeld.empty()) {
            text += "Read back: every written register holds its value.\n";
        } else {
            text += "Read back, not holding the value written:";
            for (const NotHeld& n : o.notHeld) {
                text += ' ';
                text += nameOf(n.reference) + " (written " + std::to_string(unsignedOf(n.written)) +
                        ", reads " + std::to_string(unsignedOf(n.readBack)) + ");";
            }
            text.back() = '.';
            text += '\n';
        }
    }
    if (!text.empty()) text.pop_back();
    return text;
}

std::string referenceRanges(const std::vector<int>& references) {
    std::string text;
    for (std::size_t i = 0; i < references.size();) {
        std::size_t last = i;
        while (last + 1 < references.size() && references[last + 1] == references[last] + 1)
            ++last;
        if (!text.empty()) text += ", ";
        text += std::to_string(references[i]);
        if (last > i) {
            text += '-';
            text += std::to_string(references[last]);
        }
        i = last + 1;
    }
    return text;
}

std::string restoreFileRefusal(const std::string& path, const SettingsFileError& error) {
    return "This settings file cannot be restored:\n" + path + "\n" + error.text() +
           "\nNothing was written.";
}

std::string restoreFirmwareRefusal(const SettingsComparison& c) {
    return "The file was read from firmware " + settingsVersionText(c.fileFirmware) +
           "; this controller runs firmware " + settingsVersionText(c.firmware) +
           ".\nSettings are restored only onto the firmware version they were read from.\n"
           "Nothing was written.";
}

}  // namespace kvx
