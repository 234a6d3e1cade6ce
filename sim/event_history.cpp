#include "sim/event_history.h"

#include <algorithm>

namespace kvx::sim {

CalendarTime calendarFromSeconds(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    CalendarTime t;
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest % 3600 / 60);
    t.second = static_cast<int>(rest % 60);
    t.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    // Civil date from a day count (proleptic Gregorian calendar).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
    return t;
}

std::int64_t secondsFromCalendar(const CalendarTime& t) {
    const std::int64_t y = t.year - (t.month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

EventHistory EventHistory::story(std::int64_t startTime) {
    constexpr std::int64_t day = 86400;
    const std::int64_t midnight = startTime - ((startTime % day) + day) % day;
    struct Past {
        std::int64_t offset;
        std::uint16_t word;
    };
    // Oldest first: a shift ended by a high exhaust temperature, a day with a supply-pressure
    // alarm and an external shutoff, an overspeed with the diesel below its minimum.
    const Past past[] = {
        {-3 * day + 6 * 3600 + 12 * 60, 0x0800},        // power up
        {-3 * day + 6 * 3600 + 13 * 60 + 30, 0x4000},   // gas on
        {-3 * day + 14 * 3600 + 40 * 60 + 15, 0x0010},  // high exhaust temp
        {-3 * day + 14 * 3600 + 41 * 60 + 50, 0x1000},  // local shutoff
        {-2 * day + 7 * 3600 + 5 * 60, 0x0800},         // power up
        {-2 * day + 7 * 3600 + 6 * 60 + 20, 0x4000},    // gas on
        {-1 * day + 10 * 3600 + 22 * 60 + 5, 0x0001},   // low supply pressure
        {-1 * day + 10 * 3600 + 22 * 60 + 40, 0x2000},  // external shutoff
        {-1 * day + 10 * 3600 + 31 * 60, 0x4000},       // gas on
        {-1 * day + 18 * 3600 + 2 * 60 + 45, 0x0060},   // overspeed, diesel below minimum
    };
    EventHistory h;
    for (const Past& p : past)
        h.push(p.word, midnight + p.offset);
    return h;
}

void EventHistory::push(std::uint16_t word, std::int64_t when) {
    std::move_backward(events_.begin(), events_.end() - 1, events_.end());
    events_[0] = Event{word, when};
    count_ = std::min(count_ + 1, kEvents);
}

std::array<std::int16_t, EventHistory::kWords> EventHistory::registers() const {
    std::array<std::int16_t, kWords> words{};
    for (int n = 0; n < count_; ++n) {
        const Event& e = events_[static_cast<std::size_t>(n)];
        const CalendarTime t = calendarFromSeconds(e.when);
        const auto i = static_cast<std::size_t>(n);
        words[i] = static_cast<std::int16_t>(e.word);
        words[10 + 2 * i] = static_cast<std::int16_t>(t.month << 8 | t.day);
        words[11 + 2 * i] = static_cast<std::int16_t>(t.year % 100);
        words[30 + i] = static_cast<std::int16_t>(t.hour << 9 | t.minute << 3 | t.second * 8 / 60);
    }
    return words;
}

}  // namespace kvx::sim
