#pragma once
// The logged channels as the overview shows them: every one of the 20 logged fields with its
// name (the CSV column name), its unit and its decimals (the CSV's, so a value reads the same in
// the plot, in a hover and in an export). Stored values are integers; the engineering value is
// the stored one divided by 10^decimals.
//
// Use: overviewChannel(field).name for a strip's label, formatChannelValue(field, raw) for a
// value's text, parseChannelList("engine_speed,gas_flow", fields, &error) for a typed choice.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "log/log_format.h"

namespace kvx {

struct OverviewChannel {
    int field = 0;          // 0..kLogValueCount-1, the log-record order
    std::string_view name;  // kLiveDataFieldNames[field]
    std::string_view unit;  // "RPM", "in/s"; empty for flags, codes and counters
    int decimals = 0;       // kLogFieldDecimals[field]
    double scale = 1.0;     // 10^-decimals: engineering value = stored * scale
};

// All logged channels in field order (kLogValueCount entries).
std::span<const OverviewChannel> overviewChannels();
// The channel of a field 0..kLogValueCount-1.
const OverviewChannel& overviewChannel(int field);

// The field whose name is text (case does not matter), or -1.
int findChannel(std::string_view name);

// The stored value in engineering units with the channel's fixed decimals: "12.5".
std::string formatChannelValue(int field, std::int32_t stored);
// The same with the unit after a space when there is one: "12.5 SCFM".
std::string formatChannelValueWithUnit(int field, std::int32_t stored);

// A comma-separated list of channel names, or "all", into fields (in the given order, no
// repeats). False with *error naming the bad or repeated name (and listing the known ones).
bool parseChannelList(std::string_view text, std::vector<int>& fields, std::string* error);

// The strips shown when the user has not chosen: the channels a technician looks at first.
std::vector<int> defaultOverviewFields();

}  // namespace kvx
