#pragma once
// The calibration register editor without a window: every parameter register by name with its
// raw value, and single-register writes of a typed whole number. Rows whose register was not
// read in this opening show no value rather than a 0 the controller may not hold.
#include <map>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "settings/register_block.h"
#include "settings/settings_context.h"

namespace kvx {

inline constexpr const char* kCalibrationTitle = "Calibration Settings";
inline constexpr int kCalibrationListId = 1018;
inline constexpr int kCalibrationEditId = 1020;
inline constexpr int kCalibrationChangeId = 1021;
inline constexpr int kCalibrationEditMaxLength = 13;

// What the editor keeps for the whole run.
struct CalibrationState {
    std::map<std::string, int> parameterValues;  // by parameter name; never given: 0
    int selectedRow = 0;
};

class CalibrationEditor {
  public:
    // The context's slave address is where the editor starts; a written (or followed)
    // modbus_address moves it for every later transaction, and toFollow() reports it.
    CalibrationEditor(SettingsContext context, CalibrationState& state);

    // The blocks of a firmware version, the connection check (1 x 40) first.
    static std::vector<BlockRange> blocksFor(int firmware);

    // The connection check: references 1..40, kept as the first rows. 0 or the link's result.
    int checkConnection();
    // The remaining blocks for the firmware, each tried whatever the others returned.
    void readBlocks();
    // The value table from the blocks read, and the status naming what was not read.
    void initialise();

    int rowCount() const;
    std::string rowName(int row) const;
    // The register's value as "%d", empty when it was not read in this opening.
    std::string valueText(int row) const;
    bool known(int row) const;
    int value(const std::string& name) const;

    int selectedRow() const { return state_.selectedRow; }
    // A click or a move of the list's current row. Out of range rows are ignored.
    void select(int row);

    // Change: the typed text written to the selected row's register. False when nothing was
    // written (the text is not a 16-bit whole number, the write failed, or the value may not
    // go to that register); status() says why. On success the row shows what was written.
    // A failed modbus_address write is checked at the new address: when the controller
    // answers there with it (the reply alone was lost), the editor follows it and returns true.
    bool change(const std::string& text);
    // The save command, to the slave address now in use. 0 or the link's result.
    int save();

    // The result of the last Change, empty before one.
    const std::string& status() const { return status_; }
    // The registers of the rows shown that were not read in this opening, empty when all were.
    const std::string& notRead() const { return notRead_; }
    int slaveId() const { return ctx_.slave; }

    // What the window follows: the slave address when a write moved it, and after any
    // successful write its copies of the registers it shows, from the rows whose values the
    // controller holds.
    const SettingsOutcome& toFollow() const { return toFollow_; }

  private:
    bool followAddress(std::int16_t address, int writeResult);
    // After each successful write.
    void written();

    SettingsContext ctx_;
    CalibrationState& state_;
    SettingsOutcome toFollow_;
    std::vector<bool> known_;  // by name index, for this opening
    std::string notRead_;      // the registers this opening could not read
    std::string status_;
};

}  // namespace kvx
