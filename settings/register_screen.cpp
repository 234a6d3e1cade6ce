#include "settings/register_screen.h"

#include <utility>
#include <vector>

#include "model/registers.h"
#include "model/typed_text.h"
#include "settings/settings_texts.h"

namespace kvx {

int sendSaveCommand(DeviceLink& link, int slave) {
    return link.writeSingleRegister(slave, ref::save_data_command, kCommandWord);
}

RegisterScreen::RegisterScreen(const ScreenTable& table, SettingsContext context)
    : table_(table), ctx_(context) {}

int RegisterScreen::readBlocks() {
    for (const BlockRange& r : table_.readOrder) {
        if (const int result = ctx_.blocks.read(ctx_.link, ctx_.slave, r); result != 0)
            return result;
    }
    return 0;
}

RegisterBlock& RegisterScreen::blockOf(int reference) const {
    for (const BlockRange& r : table_.readOrder) {
        if (r.contains(reference)) return ctx_.blocks.block(r);
    }
    // Every field's register lies in one of the screen's blocks (the tables are checked by
    // the tests); an empty block of its own keeps a wrong table from reaching the controller.
    return ctx_.blocks.block({reference, 1});
}

std::int16_t RegisterScreen::value(int reference) const {
    return blockOf(reference).value(reference);
}

void RegisterScreen::initialise() {
    status_.clear();
    horsepower_ = false;
    if (table_.indicator.read) {
        std::int16_t regs[2] = {0, 0};
        if (ctx_.link.readHoldingRegisters(ctx_.slave, ref::indicator_type, regs, 2) != 0)
            status_ = table_.indicator.readFailure;
        else
            horsepower_ = regs[0] == 2;
    }
    shown_.clear();
    shownRaw_.clear();
    for (const ScreenField& f : table_.fields) {
        const std::int16_t raw = value(f.reference);
        shownRaw_[f.editId] = raw;
        shown_[f.editId] = showField(f, raw);
    }
}

const std::string& RegisterScreen::shownText(int editId) const {
    static const std::string none;
    auto it = shown_.find(editId);
    return it == shown_.end() ? none : it->second;
}

std::string RegisterScreen::columnHeading(std::size_t column, bool unitLine) const {
    if (column >= table_.columns.size()) return {};
    const ColumnHeadings& c = table_.columns[column];
    const Heading& h = unitLine ? c.unit : c.title;
    if (table_.indicator.read && h.id == kLoadHeadingId) return horsepower_ ? kHpHeading : h.text;
    if (table_.indicator.read && h.id == kLoadUnitId) return horsepower_ ? kHpUnit : h.text;
    return h.text;
}

std::string RegisterScreen::fieldName(const ScreenField& field) const {
    std::string name = field.label;
    if (static_cast<std::size_t>(field.column) < table_.columns.size())
        name += ", " + columnHeading(static_cast<std::size_t>(field.column), false);
    return name;
}

int RegisterScreen::change(const std::function<std::string(int editId)>& fieldText) {
    std::vector<std::pair<const ScreenField*, std::int16_t>> values;
    for (const ScreenField& f : table_.fields) {
        const std::string text = fieldText(f.editId);
        std::int16_t v = 0;
        if (shown_.count(f.editId) && text == shown_[f.editId]) {
            v = shownRaw_[f.editId];
        } else if (!enterField(f, text, v)) {
            status_ = refusalText(fieldName(f), text, fieldAccepts(f));
            return f.editId;
        }
        values.emplace_back(&f, v);
    }
    for (const auto& [f, v] : values)
        blockOf(f->reference).set(f->reference, v);
    bool ok = true;
    for (const BlockRange& r : table_.writeOrder)
        ok = ctx_.blocks.write(ctx_.link, ctx_.slave, r) == 0 && ok;
    if (table_.screen == SettingsScreen::ExhaustTemperature)
        toFollow_.ranges.exhaustTempAvgShutdownMax = value(ref::exhaust_temp_avg_shutdown_max);
    status_ = ok ? settings_text::kUpdated : settings_text::kUpdateFailed;
    return 0;
}

bool RegisterScreen::save() {
    if (sendSaveCommand(ctx_.link, ctx_.slave) == 0) return true;
    status_ = table_.saveFailure;
    return false;
}

}  // namespace kvx
