#pragma once
// Comparing a controller with a settings file and writing the file's values back, one
// register at a time, only where the user has seen and kept the difference. Used by the
// Download Settings dialog and by kvx-probe.
#include <cstdint>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "settings/settings_file.h"
#include "settings/settings_file_reader.h"

namespace kvx {

// Why a register is or is not written by a restore.
enum class RestoreKind {
    Setting,       // restored when its difference is kept
    SlaveAddress,  // modbus_address: only when asked for by name
    Calibration,   // a sensor's gain or offset, or calibrated: measured on this unit, so
                   // restored by default only from a file of the same controller
    Identity,      // product_type, version, serial_number: the controller's own
    Command,       // save_data_command, acknowledge_alarm, f_emerg_stop: writing one acts
    Clock,         // rtc_update and the clock registers: the controller's time, not a setting
    Record,        // run meters, saved alarm, savings totals: what this controller has counted
    NotInFile,     // the upload's reads do not reach it for this firmware: the file's 0 is no
                   // value the controller held
    AddedRow,      // read by the upload only lately: a backup made before holds 0 there, so
                   // restored only when asked for
};

// The kind of a register (1-based reference) for a firmware version.
RestoreKind restoreKind(int reference, int firmware);
// A few words for the kinds that are never written ("identity", "command", ...).
const char* restoreKindText(RestoreKind kind);

struct SettingsDifference {
    int reference = 0;
    std::string name;
    std::uint16_t controller = 0, file = 0;  // as the file writes them
    // In engineering units where the settings screens show the register ("12.6 V"), else
    // empty.
    std::string controllerShown, fileShown;
    RestoreKind kind = RestoreKind::Setting;
};

struct SettingsComparison {
    int firmware = 0;  // the controller's, which the file's must equal
    int controllerSerial = 0, fileSerial = 0;
    int fileFirmware = 0;
    // Registers a restore may write, in reference order (modbus_address among them).
    std::vector<SettingsDifference> differences;
    // Differences a restore never writes, in reference order.
    std::vector<SettingsDifference> setApart;
    // Rows of the file that are not values (NotInFile), as "93-114", empty when none.
    std::string notInFile;
    // The AddedRow rows among the differences, as "93-114", empty when none.
    std::string addedRows;

    bool sameFirmware() const { return firmware == fileFirmware; }
    bool sameSerial() const { return controllerSerial == fileSerial; }
};

// Compares what the controller holds (read with the upload's reads for its firmware) with
// the file. The file's firmware may differ: sameFirmware() says so, and nothing may be
// restored then.
SettingsComparison compareSettings(const SettingsImage& controller, int firmware,
                                   const SettingsFileContents& file);

// Reads the controller and compares. 0 or the failing read's result (failed names it).
int readAndCompareSettings(DeviceLink& link, int slave, int firmware,
                           const SettingsFileContents& file, SettingsComparison& comparison,
                           BlockRange* failed = nullptr);
inline int readAndCompareSettings(const SettingsContext& context, const SettingsFileContents& file,
                                  SettingsComparison& comparison) {
    return readAndCompareSettings(context.link, context.slave, context.firmware, file, comparison);
}

struct RestoreWrite {
    int reference;
    std::int16_t value;
};

// What a restore writes without being asked: every setting, the calibration only from a file
// of the same controller; the slave address, another controller's calibration and the added
// rows only when asked for. One entry per comparison.differences.
struct RestoreAsked {
    bool slaveAddress = false;
    bool calibration = false;
    bool addedRows = false;
};
std::vector<bool> restoreChosenByDefault(const SettingsComparison& comparison,
                                         RestoreAsked asked = {});

// The writes for the differences chosen (indexes into comparison.differences), in reference
// order but modbus_address last: every transaction after it must go to the new address. A
// slave address outside 1..247 is never among them.
std::vector<RestoreWrite> restorePlan(const SettingsComparison& comparison,
                                      const std::vector<bool>& chosen);

struct NotHeld {
    int reference;
    std::int16_t written, readBack;
};

struct RestoreOutcome {
    std::vector<int> written;      // references, in the order written
    std::vector<int> notWritten;   // the failing one first, then those after it
    int writeResult = 0;           // the failing write's result, 0 when all went through
    int readBackResult = 0;        // 0, or the read-back's failing result (nothing checked)
    std::vector<NotHeld> notHeld;  // written, but read back with another value
    // The failing write may still have reached the controller (a lost reply): the read-back
    // tells whether that register now holds the file's value.
    bool failedChecked = false;
    bool failedHolds = false;
    std::int16_t failedReadBack = 0;
    int slave = 0;  // the address the controller answers to afterwards
    // The modbus_address write's reply was lost, but the controller answers at the new address
    // with it: counted as written.
    bool addressReplyLost = false;
    bool complete() const { return writeResult == 0 && readBackResult == 0 && notHeld.empty(); }
};

// Writes the plan with writeSingleRegister, stopping at the first failure, then reads every
// written register back, and the failing one (the upload's reads for the firmware), and lists
// those that do not hold their value. slave follows a written modbus_address.
RestoreOutcome writeRestore(DeviceLink& link, int slave, int firmware,
                            const std::vector<RestoreWrite>& plan);

// The box for a file the reader refused.
std::string restoreFileRefusal(const std::string& path, const SettingsFileError& error);
// The refusal of a file made on another firmware version.
std::string restoreFirmwareRefusal(const SettingsComparison& comparison);

// The outcome in a few lines: what was written, what not and why, what did not hold.
std::string restoreReport(const RestoreOutcome& outcome);

// "a-b, c" for sorted references.
std::string referenceRanges(const std::vector<int>& references);

}  // namespace kvx
