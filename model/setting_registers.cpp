#include "model/setting_registers.h"

#include <cstdio>
#include <vector>

#include "model/typed_text.h"

namespace kvx {
namespace {

using S = SettingsScreen;
using Sh = ShowRule;
using En = EntryRule;

constexpr const char* kPoint[] = {"Point 1", "Point 2", "Point 3", "Point 4", "Point 5",
                                  "Point 6", "Point 7", "Point 8", "Point 9", "Point 10"};

std::vector<SettingRegister> buildTable() {
    std::vector<SettingRegister> t;
    auto add = [&](int ref, const char* name, S screen, const char* label, const char* column,
                   const char* unit, Sh shown, double factor, const char* format, En entered,
                   int scale) {
        t.push_back(
            {ref, name, screen, label, column, unit, shown, factor, format, entered, scale});
    };
    auto integer = [&](int ref, const char* name, S screen, const char* label, const char* unit,
                       const char* format = "%d") {
        add(ref, name, screen, label, "", unit, Sh::Integer, 0, format, En::Integer, 0);
    };
    auto asRead = [&](int ref, const char* name, S screen) {
        add(ref, name, screen, "", "", "", Sh::AsRead, 0, "", En::AsRead, 0);
    };

    // Fuel pressure schedule: ten load/pressure points; the first two substitution loads
    // share its block and go back as read.
    static const char* const loadSp[] = {"load_sp0", "load_sp1", "load_sp2", "load_sp3",
                                         "load_sp4", "load_sp5", "load_sp6", "load_sp7",
                                         "load_sp8", "load_sp9"};
    static const char* const pressureSp[] = {
        "pressure_sp0", "pressure_sp1", "pressure_sp2", "pressure_sp3", "pressure_sp4",
        "pressure_sp5", "pressure_sp6", "pressure_sp7", "pressure_sp8", "pressure_sp9"};
    for (int i = 0; i < 10; ++i) {
        add(41 + i, loadSp[i], S::FuelPressureSchedule, kPoint[i], "load", "kW or HP", Sh::Scaled,
            0.1, "%.1f", En::Scaled, 10);
    }
    for (int i = 0; i < 10; ++i) {
        add(51 + i, pressureSp[i], S::FuelPressureSchedule, kPoint[i], "pressure", "in.W.C.",
            Sh::Scaled, 0.01, "%.3f", En::Scaled, 100);
    }
    asRead(61, "substit_load0", S::FuelPressureSchedule);
    asRead(62, "substit_load1", S::FuelPressureSchedule);

    // Substitution schedule.
    add(32, "fuel_substit_min", S::SubstitutionSchedule, "Substitution Minimum", "", "%",
        Sh::IntegerQuotient, 0, "%d", En::IntegerTimesTen, 0);
    add(33, "fuel_substit_max", S::SubstitutionSchedule, "Substitution Maximum", "", "%",
        Sh::IntegerQuotient, 0, "%d", En::IntegerTimesTen, 0);
    static const char* const substitLoad[] = {"substit_load0", "substit_load1", "sibstit_load2",
                                              "substit_load3"};
    static const char* const substitFlow[] = {"substit_diesel_flow0", "substit_diesel_flow1",
                                              "substit_diesel_flow2", "substit_diesel_flow3"};
    for (int i = 0; i < 4; ++i) {
        add(61 + i, substitLoad[i], S::SubstitutionSchedule, kPoint[i], "load", "kW or HP",
            Sh::Scaled, 0.1, "%.1f", En::Scaled, 10);
    }
    for (int i = 0; i < 4; ++i) {
        add(65 + i, substitFlow[i], S::SubstitutionSchedule, kPoint[i], "diesel flow", "LPH",
            Sh::Scaled, 0.1, "%.3f", En::Scaled, 10);
    }

    // Exhaust temperature.
    integer(76, "exhaust_temp_avg_rate", S::ExhaustTemperature, "Average Rate", "", "%i");
    integer(77, "exhaust_temp_avg_shutdown_max", S::ExhaustTemperature, "Temperature Maximum", "F",
            "%i");
    integer(78, "exhaust_temp_avg_shutdown_delay", S::ExhaustTemperature, "Shutdown Delay Timer",
            "", "%i");
    asRead(79, "vibration_avg_shutdown", S::ExhaustTemperature);

    // Vibration sensor.
    integer(80, "vibration_avg_rate", S::VibrationSensor, "Average Rate", "", "%i");
    integer(81, "vibration_avg_shutdown_max", S::VibrationSensor, "Maximum Limit", "raw", "%i");
    integer(82, "vibration_avg_shutdown_delay", S::VibrationSensor, "Shutdown Delay Timer", "",
            "%i");
    asRead(83, "diesel_flow_input_gain", S::VibrationSensor);

    // Vibration maximum schedule.
    static const char* const vibLoad[] = {"vibrat_load0", "vibrat_load1", "vibrat_load2",
                                          "vibrat_load3"};
    static const char* const vibMax[] = {"vibrat_max0", "vibrat_max1", "vibrat_max2",
                                         "vibrat_max3"};
    for (int i = 0; i < 4; ++i) {
        add(93 + i, vibLoad[i], S::VibrationSchedule, kPoint[i], "load", "kW", Sh::Scaled, 0.1,
            "%.1f", En::Scaled, 10);
    }
    for (int i = 0; i < 4; ++i) {
        add(97 + i, vibMax[i], S::VibrationSchedule, kPoint[i], "vibration", "in/s", Sh::Scaled,
            0.001, "%.3f", En::Scaled, 1000);
    }

    // Flow control. A label with a line end stands on two lines on the screen.
    auto scaled10 = [&](int ref, const char* name, const char* label, const char* unit) {
        add(ref, name, S::FlowControl, label, "", unit, Sh::Scaled, 0.1, "%.1f", En::Scaled, 10);
    };
    scaled10(29, "fuel_flow_min_eng_stopped", "Diesel Flow Minimum\n(Substitution starts)", "LPH");
    scaled10(32, "fuel_substit_min", "Substitution Minimum", "%");
    scaled10(33, "fuel_substit_max", "Substitution Maximum", "%");
    integer(40, "temp_topping", S::FlowControl, "Topping Switch", "");
    integer(90, "indicator_type", S::FlowControl, "Control Indicator", "code");
    integer(91, "fuel_flow_rate_source", S::FlowControl, "Diesel Flow Source", "code");
    scaled10(104, "flow_setpoint", "Diesel Flow Setpoint ", "LPH");
    integer(105, "flow_ki", S::FlowControl, "Flow Integral Gain Ki)", "counts");
    asRead(106, "delay_autostart_timer_high_subst", S::FlowControl);
    scaled10(107, "low_batt_limit", "Low Battery Limit", "V");
    integer(108, "exhaust_temp_max", S::FlowControl, "Temperature Maximum", "F");
    integer(109, "exhaust_temp_ki", S::FlowControl, "Temperature Ki", "counts");
    integer(110, "subst_rate_ki", S::FlowControl, "Substitution Rate Ki", "counts");
    integer(122, "substit_rate_gas_meter", S::FlowControl, "Substitution Rate \nCalculation Method",
            "code");
    integer(174, "min_substitution_rpm", S::FlowControl, "Minimum RPM", "RPM");

    // Alarm e-mail enablers.
    static const char* const email[] = {
        "low_supply_press_email",       "high_supply_press_email", "diesel_flow_below_min_email",
        "press_xducer_failed_email",    "high_substitution_email", "low_substitution_email",
        "watt_signal_below_1stp_email", "overspeed_email",         "high_temp_email",
        "high_vibration_email"};
    for (int i = 0; i < 10; ++i) {
        add(130 + i, email[i], S::AlarmEmail, "", "", "", Sh::Toggle, 0, "", En::Toggle, 0);
    }
    integer(140, "alarm_delay_timer", S::AlarmEmail, "Alarm delay timer", "");
    asRead(141, "hp0", S::AlarmEmail);
    return t;
}

const std::vector<SettingRegister>& table() {
    static const std::vector<SettingRegister> t = buildTable();
    return t;
}

}  // namespace

std::span<const SettingRegister> settingRegisters() {
    return table();
}

std::span<const SettingRegister> settingRegisters(SettingsScreen screen) {
    const auto& t = table();
    std::size_t first = 0;
    while (first < t.size() && t[first].screen != screen)
        ++first;
    std::size_t last = first;
    while (last < t.size() && t[last].screen == screen)
        ++last;
    return std::span<const SettingRegister>(t).subspan(first, last - first);
}

const SettingRegister* findSettingRegister(SettingsScreen screen, int reference) {
    for (const SettingRegister& r : settingRegisters(screen)) {
        if (r.reference == reference) return &r;
    }
    return nullptr;
}

std::string_view settingUnit(const SettingRegister& field, int indicatorType) {
    const std::string_view unit = field.unit;
    if (unit == "kW or HP") return indicatorType == 2 ? "HP" : "kW";
    return unit;
}

std::string showSetting(const SettingRegister& field, std::int16_t raw) {
    char buffer[64];
    switch (field.shown) {
        case ShowRule::Integer:
            std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(raw));
            return buffer;
        case ShowRule::Scaled:
            std::snprintf(buffer, sizeof buffer, field.format, raw * field.showFactor);
            return buffer;
        case ShowRule::IntegerQuotient:
            std::snprintf(buffer, sizeof buffer, "%d", raw / 10);
            return buffer;
        case ShowRule::Toggle:
            return raw == 0 ? "Disabled" : "Enabled";
        case ShowRule::AsRead:
            break;
    }
    return {};
}

namespace {

struct EntryRange {
    int scale;
    long low, high;
};

EntryRange rangeOf(EntryRule rule, int entryScale) {
    switch (rule) {
        case EntryRule::Integer:
            return {1, 0, 65535};
        case EntryRule::Scaled:
            return {entryScale, -32768, 32767};
        case EntryRule::IntegerTimesTen:
            return {1, 0, 6553};
        case EntryRule::Toggle:
            return {1, 0, 1};
        case EntryRule::AsRead:
            break;
    }
    return {1, 0, 0};
}

}  // namespace

bool parseEntry(EntryRule rule, int entryScale, std::string_view text, std::int16_t& out) {
    if (rule == EntryRule::AsRead) return true;
    const EntryRange r = rangeOf(rule, entryScale);
    const Parsed<long> p = rule == EntryRule::Scaled
                               ? parseScaledDecimal(text, r.scale, r.low, r.high)
                               : parseWholeNumber(text, r.low, r.high);
    if (!p) return false;
    long v = *p;
    if (rule == EntryRule::IntegerTimesTen) v *= 10;
    out = static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF));
    return true;
}

std::string entryAccepts(EntryRule rule, int entryScale) {
    const EntryRange r = rangeOf(rule, entryScale);
    return rule == EntryRule::Scaled ? scaledDecimalAccepts(r.scale, r.low, r.high)
                                     : wholeNumberAccepts(r.low, r.high);
}

bool enterSetting(const SettingRegister& field, std::string_view text, std::int16_t& out) {
    return parseEntry(field.entered, field.entryScale, text, out);
}

}  // namespace kvx
