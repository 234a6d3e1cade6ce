#include "log/log_csv.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "log/log_clock.h"

namespace kvx {

const int kLogFieldDecimals[kLogValueCount] = {
    0,  // exhaust_temp, F
    0,  // aux_a
    1,  // engine_load, kW or HP
    0,  // aux_b
    3,  // vibration, in/s
    1,  // engine_hp, HP
    0,  // local_shutoff
    0,  // aux_c
    0,  // alarm_flags
    2,  // pressure_sp, in. W.C.
    1,  // gas_flow, SCFM
    1,  // substitution_rate, %
    2,  // pressure_sp_left
    2,  // pressure_fdbk_left
    0,  // actuator_left
    0,  // engine_speed, RPM
    1,  // diesel_flow, LPH
    0,  // mode_left
    0,  // ecu_rx_lost
    3,  // vibration_max, in/s
};

namespace {

void appendInt(long long value, std::string& out) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

void appendIso(std::int64_t calendarTime, std::string& out) {
    LocalDateTime t;
    if (!localDateTime(calendarTime, t)) {
        appendInt(calendarTime, out);
        return;
    }
    const long offset = t.utcOffset < 0 ? -t.utcOffset : t.utcOffset;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.utcOffset < 0 ? '-' : '+', offset / 3600,
                  offset / 60 % 60);
    out += text;
}

}  // namespace

std::string csvHeaderRow() {
    std::string row = "time";
    for (int i = 0; i < kLogValueCount; ++i) {
        row += ',';
        row += kLiveDataFieldNames[i];
    }
    row += '\n';
    return row;
}

void appendScaled(std::int32_t value, int places, std::string& out) {
    if (places <= 0) {
        appendInt(value, out);
        return;
    }
    long long magnitude = std::llabs(static_cast<long long>(value));
    long long factor = 1;
    for (int i = 0; i < places; ++i)
        factor *= 10;
    if (value < 0) out += '-';
    appendInt(magnitude / factor, out);
    out += '.';
    const long long fraction = magnitude % factor;
    for (long long f = factor / 10; f > 1 && fraction < f; f /= 10)
        out += '0';
    appendInt(fraction, out);
}

void appendCsvRow(const LogRecord& record, bool raw, std::string& out) {
    appendIso(record.time, out);
    for (int i = 0; i < kLogValueCount; ++i) {
        out += ',';
        appendScaled(record.values[i], raw ? 0 : kLogFieldDecimals[i], out);
    }
    out += '\n';
}

std::string formatLocalIsoTime(std::int64_t calendarTime) {
    std::string text;
    appendIso(calendarTime, text);
    return text;
}

}  // namespace kvx
