#include "settings/calibration_editor.h"

#include <cstdint>

#include "model/registers.h"
#include "model/typed_text.h"
#include "settings/register_screen.h"

namespace kvx {

CalibrationEditor::CalibrationEditor(SettingsContext context, CalibrationState& state)
    : ctx_(context), state_(state), known_(kParameterCount, false) {}

std::vector<BlockRange> CalibrationEditor::blocksFor(int v) {
    std::vector<BlockRange> blocks = {{1, 40}, {41, 40}};
    if (v >= 102 && v < 106) blocks.push_back({81, 12});
    if (v >= 106) blocks.push_back({81, 34});
    if (v >= 107) blocks.push_back({115, 38});
    if (v >= 115) blocks.push_back({153, 22});
    if (v >= 117) blocks.push_back({175, 3});
    return blocks;
}

int CalibrationEditor::checkConnection() {
    return ctx_.blocks.read(ctx_.link, ctx_.slave, blocksFor(ctx_.firmware).front());
}

void CalibrationEditor::readBlocks() {
    const auto blocks = blocksFor(ctx_.firmware);
    for (std::size_t i = 1; i < blocks.size(); ++i)
        ctx_.blocks.read(ctx_.link, ctx_.slave, blocks[i]);
}

void CalibrationEditor::initialise() {
    known_.assign(kParameterCount, false);
    for (const BlockRange& r : blocksFor(ctx_.firmware)) {
        const RegisterBlock& b = ctx_.blocks.block(r);
        if (!b.read) continue;  // its rows keep the table's old value but show none
        for (int ref = r.first; ref <= r.last(); ++ref) {
            state_.parameterValues[parameterNames[ref - 1]] = b.value(ref);
            known_[static_cast<std::size_t>(ref - 1)] = true;
        }
    }
    // The rows shown whose registers were not read: by a failed read, or because this firmware
    // version's reads do not reach them.
    std::string ranges;
    const int rows = rowCount();
    for (int row = 0; row < rows;) {
        if (known(row)) {
            ++row;
            continue;
        }
        int last = row;
        while (last + 1 < rows && !known(last + 1))
            ++last;
        if (!ranges.empty()) ranges += ", ";
        ranges += std::to_string(row + 1);
        if (last > row) {
            ranges += '-';
            ranges += std::to_string(last + 1);
        }
        row = last + 1;
    }
    notRead_ = ranges.empty()
                   ? std::string()
                   : "Not read: registers " + ranges +
                         ". Their rows show no value; a value typed for one is still written.";
    status_.clear();
    if (state_.selectedRow < 0 || state_.selectedRow >= rows) state_.selectedRow = 0;
}

int CalibrationEditor::rowCount() const {
    return calibrationNameCount(ctx_.firmware);
}

std::string CalibrationEditor::rowName(int row) const {
    return row >= 0 && row < kParameterCount ? parameterNames[row] : "";
}

bool CalibrationEditor::known(int row) const {
    return row >= 0 && row < kParameterCount && known_[static_cast<std::size_t>(row)];
}

int CalibrationEditor::value(const std::string& name) const {
    auto it = state_.parameterValues.find(name);
    return it == state_.parameterValues.end() ? 0 : it->second;
}

std::string CalibrationEditor::valueText(int row) const {
    return known(row) ? std::to_string(value(rowName(row))) : std::string();
}

void CalibrationEditor::select(int row) {
    if (row >= 0 && row < rowCount()) state_.selectedRow = row;
}

bool CalibrationEditor::change(const std::string& text) {
    const int row = state_.selectedRow;
    const std::string name = rowName(row);
    const Parsed<std::int16_t> typed = parseRegisterWord(text);
    if (!typed) {
        status_ = "\"" + text + "\" is not " + typed.expected + "; " + name + " was not written.";
        return false;
    }
    const std::int16_t v = *typed;
    // A controller told an address no master can use would be out of reach.
    if (row + 1 == ref::modbus_address && (v < 1 || v > 247)) {
        status_ = "modbus_address must be 1 to 247; it was not written.";
        return false;
    }
    if (const int rc = ctx_.link.writeSingleRegister(ctx_.slave, row + 1, v); rc != 0) {
        if (row + 1 == ref::modbus_address && v != ctx_.slave) return followAddress(v, rc);
        status_ = "Writing " + name + " failed (result " + std::to_string(rc) +
                  "); its row is unchanged.";
        return false;
    }
    // The table keeps what the register now holds, as an opening would read it back.
    state_.parameterValues[name] = v;
    known_[static_cast<std::size_t>(row)] = true;
    if (row + 1 == ref::modbus_address) {
        ctx_.slave = v;
        toFollow_.slaveAddress = v;
    }
    status_ = name + " = " + std::to_string(v) + " written.";
    written();
    return true;
}

bool CalibrationEditor::followAddress(std::int16_t address, int writeResult) {
    // The write may have reached the controller and only its reply been lost: then it answers
    // at the new address alone, and the save and the reconnect must go there.
    const int old = ctx_.slave;
    std::int16_t now = 0;
    const std::string at = std::to_string(address);
    if (ctx_.link.readHoldingRegisters(address, ref::modbus_address, &now, 1) != 0 ||
        now != address) {
        status_ = "Writing modbus_address failed (result " + std::to_string(writeResult) +
                  ") and no controller answers at address " + at + " with modbus_address = " + at +
                  ": the viewer keeps address " + std::to_string(old) + ".";
        return false;
    }
    ctx_.slave = address;
    toFollow_.slaveAddress = address;
    state_.parameterValues[parameterNames[ref::modbus_address - 1]] = address;
    known_[static_cast<std::size_t>(ref::modbus_address - 1)] = true;
    status_ =
        "The reply to the modbus_address write was lost, but the controller answers at "
        "address " +
        at + " with modbus_address = " + at + ": the viewer now uses address " + at + " (it used " +
        std::to_string(old) + ").";
    written();
    return true;
}

void CalibrationEditor::written() {
    // Only from values the controller holds: a row not read keeps the window's copy.
    const auto follow = [this](int reference, std::optional<int>& copy) {
        if (known(reference - 1)) copy = value(parameterNames[reference - 1]);
    };
    follow(ref::exhaust_temp_avg_shutdown_max, toFollow_.ranges.exhaustTempAvgShutdownMax);
    follow(ref::overspeed, toFollow_.ranges.overspeed);
    follow(ref::indicator_type, toFollow_.ranges.indicatorType);
}

int CalibrationEditor::save() {
    return sendSaveCommand(ctx_.link, ctx_.slave);
}

}  // namespace kvx
