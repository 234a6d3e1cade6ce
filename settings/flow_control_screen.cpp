#include "settings/flow_control_screen.h"

#include <array>

#include "model/setting_registers.h"
#include "model/typed_text.h"
#include "settings/settings_texts.h"

namespace kvx {
namespace {

namespace t = settings_text;

constexpr std::array<BlockRange, 4> kBlocks = {{{122, 4}, {29, 22}, {90, 22}, {174, 2}}};

ScreenField field(int editId, int reference, const char* beside = nullptr) {
    return screenField(SettingsScreen::FlowControl, editId, reference, 0, beside);
}

// What a code means stands beside its field; the gains say "Counts" where the register
// table's unit (which the settings file's texts go by) is "counts".
constexpr const char* kCounts = "Counts";

const std::array<ScreenField, 14>& fields() {
    static const std::array<ScreenField, 14> all = {{
        field(1122, 104),
        field(1123, 105, kCounts),
        field(1124, 29),
        field(1101, 40),
        field(1098, 32),
        field(1097, 33),
        field(1099, 110, kCounts),
        field(1100, 108),
        field(1103, 109, kCounts),
        field(1125, 91, "1 - Flow Meter, 2 - ECU"),
        field(1126, 90, "1 - Load, 2 - Speed, 3 - Diesel Flow"),
        field(1127, 122, "0 - Load, 1 - Gas"),
        field(1128, 107),
        field(1129, 174),
    }};
    return all;
}

// Update All: two block writes, then six single ones.
constexpr std::array<BlockRange, 2> kMultiWrites = {{{90, 2}, {104, 7}}};
constexpr std::array<int, 6> kSingleWrites = {122, 29, 32, 33, 40, 174};

}  // namespace

std::span<const ScreenField> flowControlFields() {
    return fields();
}

FlowControlScreen::FlowControlScreen(SettingsContext context) : ctx_(context) {}

void FlowControlScreen::readBlocks() {
    for (const BlockRange& r : kBlocks)
        ctx_.blocks.read(ctx_.link, ctx_.slave, r);
}

RegisterBlock& FlowControlScreen::blockOf(int reference) const {
    for (const BlockRange& r : kBlocks) {
        if (r.contains(reference)) return ctx_.blocks.block(r);
    }
    return ctx_.blocks.block({reference, 1});
}

std::int16_t FlowControlScreen::value(int reference) const {
    return blockOf(reference).value(reference);
}

bool FlowControlScreen::known(int reference) const {
    if (blockOf(reference).read) return true;
    auto it = typedKnown_.find(reference);
    return it != typedKnown_.end() && it->second;
}

const ScreenField* FlowControlScreen::field(int editId) const {
    for (const ScreenField& f : fields()) {
        if (f.editId == editId) return &f;
    }
    return nullptr;
}

void FlowControlScreen::initialise() {
    shown_.clear();
    shownRaw_.clear();
    typedKnown_.clear();
    closed_ = false;
    for (const ScreenField& f : fields()) {
        shownRaw_[f.editId] = value(f.reference);
        shown_[f.editId] = showField(f, shownRaw_[f.editId]);
    }
    std::string failed;
    for (const BlockRange& r : kBlocks) {
        if (ctx_.blocks.block(r).read) continue;
        if (!failed.empty()) failed += ", ";
        failed += std::to_string(r.first) + "-" + std::to_string(r.last());
    }
    status_ =
        failed.empty() ? std::string() : "Not read: registers " + failed + ". Their fields show 0.";
}

const std::string& FlowControlScreen::shownText(int editId) const {
    static const std::string none;
    auto it = shown_.find(editId);
    return it == shown_.end() ? none : it->second;
}

FlowControlScreen::Entry FlowControlScreen::valueFor(const ScreenField& f, const std::string& text,
                                                     std::int16_t& out) {
    if (text == shown_[f.editId]) {
        out = shownRaw_[f.editId];
        return known(f.reference) ? Entry::Value : Entry::NotKnown;
    }
    if (enterField(f, text, out)) return Entry::Value;
    status_ = refusalText(f.label, text, fieldAccepts(f));
    return Entry::Refused;
}

bool FlowControlScreen::updateField(int editId, const std::string& text) {
    if (closed_) return true;
    const ScreenField* f = field(editId);
    if (!f) {
        status_ = t::kUpdated;  // the focus was elsewhere: nothing to write
        return true;
    }
    std::int16_t v = 0;
    switch (valueFor(*f, text, v)) {
        case Entry::Refused:
            return false;
        case Entry::NotKnown:
            status_ = t::kUnreadNotWritten;
            return true;
        case Entry::Value:
            break;
    }
    const int result = ctx_.link.writeSingleRegister(ctx_.slave, f->reference, v);
    if (result == 0) {
        blockOf(f->reference).set(f->reference, v);
        typedKnown_[f->reference] = true;
    }
    status_ = result == 0 ? t::kUpdated : t::kUpdateFailed;
    return true;
}

int FlowControlScreen::updateAll(const std::function<std::string(int editId)>& fieldText) {
    std::map<int, bool> writable;  // reference -> safe to write
    std::map<int, std::int16_t> typed;
    for (const ScreenField& f : fields()) {
        std::int16_t v = 0;
        const Entry e = valueFor(f, fieldText(f.editId), v);
        if (e == Entry::Refused) return f.editId;
        writable[f.reference] = e == Entry::Value;
        if (e == Entry::Value) typed[f.reference] = v;
    }
    for (const auto& [reference, v] : typed)
        blockOf(reference).set(reference, v);
    bool ok = true, skipped = false;
    auto single = [&](int reference) {
        if (!writable[reference]) {
            skipped = true;
            return;
        }
        const int r = ctx_.link.writeSingleRegister(ctx_.slave, reference, value(reference));
        if (r == 0) typedKnown_[reference] = true;
        ok = r == 0 && ok;
    };
    for (const BlockRange& range : kMultiWrites) {
        // A block goes whole only when every register in it is known; registers the screen
        // does not show (106) can only be known by reading. Otherwise the typed fields in it
        // go one by one and the rest stay untouched in the controller.
        bool whole = true;
        for (int r = range.first; r <= range.last(); ++r) {
            auto it = writable.find(r);
            whole = whole && (it == writable.end() ? known(r) : it->second);
        }
        if (whole) {
            std::vector<std::int16_t> values;
            for (int r = range.first; r <= range.last(); ++r)
                values.push_back(value(r));
            const int result = ctx_.link.writeMultipleRegisters(ctx_.slave, range.first,
                                                                values.data(), range.count);
            ok = result == 0 && ok;
            continue;
        }
        for (int r = range.first; r <= range.last(); ++r) {
            if (writable.count(r)) single(r);
        }
        skipped = true;
    }
    for (int reference : kSingleWrites)
        single(reference);
    status_ = !ok ? t::kUpdateFailed : skipped ? t::kUnreadNotWritten : t::kUpdated;
    return 0;
}

bool FlowControlScreen::save() {
    if (sendSaveCommand(ctx_.link, ctx_.slave) == 0) return true;
    status_ = t::kSaveFailed;
    return false;
}

}  // namespace kvx
