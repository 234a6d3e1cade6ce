#include "settings/alarm_screens.h"

#include "model/registers.h"
#include "model/typed_text.h"
#include "settings/settings_texts.h"

namespace kvx {

EmailScreen::EmailScreen(SettingsContext context) : ctx_(context) {}

int EmailScreen::readBlock() {
    return ctx_.blocks.read(ctx_.link, ctx_.slave, kEmailBlock);
}

std::int16_t EmailScreen::value(int reference) const {
    return ctx_.blocks.block(kEmailBlock).value(reference);
}

namespace {
const EmailToggle* toggleOf(int buttonId) {
    for (const EmailToggle& t : kEmailToggles) {
        if (t.buttonId == buttonId) return &t;
    }
    return nullptr;
}
}  // namespace

std::string EmailScreen::caption(int buttonId) const {
    const EmailToggle* t = toggleOf(buttonId);
    if (!t) return {};
    return value(t->reference) != 0 ? "Enabled" : "Disabled";
}

std::string EmailScreen::delayText() const {
    // The timer is a count from 0 to 65535: shown as the field reads it back.
    return std::to_string(static_cast<std::uint16_t>(value(kEmailDelayReference)));
}

void EmailScreen::toggle(int buttonId) {
    const EmailToggle* t = toggleOf(buttonId);
    if (!t) return;
    RegisterBlock& b = ctx_.blocks.block(kEmailBlock);
    b.set(t->reference, b.value(t->reference) != 0 ? 0 : 1);
}

bool EmailScreen::saveAndClose(const std::string& delay) {
    const Parsed<long> v = parseWholeNumber(delay, 0, 65535);
    if (!v) {
        status_ = refusalText(kEmailDelayLabel, delay, v.expected);
        refused_ = true;
        return false;
    }
    refused_ = false;
    RegisterBlock& b = ctx_.blocks.block(kEmailBlock);
    b.set(kEmailDelayReference, static_cast<std::int16_t>(static_cast<std::uint16_t>(*v)));
    const int written = ctx_.blocks.write(ctx_.link, ctx_.slave, kEmailBlock);
    const int saved = sendSaveCommand(ctx_.link, ctx_.slave);
    if (written == 0 && saved == 0) return true;
    status_ = settings_text::kSaveFailed;
    return false;
}

bool acknowledgeAlarm(DeviceLink& link, int slave) {
    const int a = link.writeSingleRegister(slave, ref::f_emerg_stop, 1);
    const int b = link.writeSingleRegister(slave, ref::acknowledge_alarm, kCommandWord);
    const int c = link.writeSingleRegister(slave, ref::f_emerg_stop, 0);
    return a == 0 && b == 0 && c == 0;
}

}  // namespace kvx
