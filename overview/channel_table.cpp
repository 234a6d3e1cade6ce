#include "overview/channel_table.h"

#include <array>
#include <cctype>

#include "log/log_csv.h"
#include "model/live_data.h"

namespace kvx {

namespace {

// The units of the logged fields; names and decimals come from the model and the CSV export.
// The load is kW or HP by the controller's indicator type, which the log does not hold.
constexpr std::string_view kUnits[kLogValueCount] = {
    "F",         // exhaust_temp
    "",          // aux_a
    "kW/HP",     // engine_load
    "",          // aux_b
    "in/s",      // vibration
    "HP",        // engine_hp
    "",          // local_shutoff
    "",          // aux_c
    "",          // alarm_flags
    "in. W.C.",  // pressure_sp
    "SCFM",      // gas_flow
    "%",         // substitution_rate
    "in. W.C.",  // pressure_sp_left
    "in. W.C.",  // pressure_fdbk_left
    "",          // actuator_left
    "RPM",       // engine_speed
    "LPH",       // diesel_flow
    "",          // mode_left
    "",          // ecu_rx_lost
    "in/s",      // vibration_max
};

std::array<OverviewChannel, kLogValueCount> makeTable() {
    std::array<OverviewChannel, kLogValueCount> table{};
    for (int i = 0; i < kLogValueCount; ++i) {
        OverviewChannel& c = table[i];
        c.field = i;
        c.name = kLiveDataFieldNames[i];
        c.unit = kUnits[i];
        c.decimals = kLogFieldDecimals[i];
        c.scale = 1.0;
        for (int d = 0; d < c.decimals; ++d)
            c.scale /= 10.0;
    }
    return table;
}

const std::array<OverviewChannel, kLogValueCount>& table() {
    static const std::array<OverviewChannel, kLogValueCount> t = makeTable();
    return t;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string knownNames() {
    std::string text;
    for (const OverviewChannel& c : table()) {
        if (!text.empty()) text += ", ";
        text += c.name;
    }
    return text;
}

}  // namespace

std::span<const OverviewChannel> overviewChannels() {
    return table();
}

const OverviewChannel& overviewChannel(int field) {
    return table().at(static_cast<std::size_t>(field));
}

int findChannel(std::string_view name) {
    for (const OverviewChannel& c : table())
        if (sameName(c.name, name)) return c.field;
    return -1;
}

std::string formatChannelValue(int field, std::int32_t stored) {
    std::string text;
    appendScaled(stored, overviewChannel(field).decimals, text);
    return text;
}

std::string formatChannelValueWithUnit(int field, std::int32_t stored) {
    std::string text = formatChannelValue(field, stored);
    const std::string_view unit = overviewChannel(field).unit;
    if (!unit.empty()) {
        text += ' ';
        text += unit;
    }
    return text;
}

bool parseChannelList(std::string_view text, std::vector<int>& fields, std::string* error) {
    std::vector<int> chosen;
    if (sameName(text, "all")) {
        for (int i = 0; i < kLogValueCount; ++i)
            chosen.push_back(i);
        fields = std::move(chosen);
        return true;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view name = text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        const int field = findChannel(name);
        if (field < 0) {
            if (error)
                *error = name.empty() ? "an empty channel name"
                                      : "unknown channel '" + std::string(name) + "'";
            if (error) *error += " (channels: " + knownNames() + ", or all)";
            return false;
        }
        for (const int f : chosen) {
            if (f == field) {
                if (error) *error = "channel '" + std::string(name) + "' is named twice";
                return false;
            }
        }
        chosen.push_back(field);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    fields = std::move(chosen);
    return true;
}

std::vector<int> defaultOverviewFields() {
    // Speed, load, the two fuels, substitution, exhaust, vibration and the alarm word.
    return {15, 2, 16, 10, 11, 0, 4, 8};
}

}  // namespace kvx
