#pragma once
// The controller's last ten events with their dates and times, as input registers 201..240
// hold them: ten event words, ten date pairs (month << 8 | day, year), ten time words
// (hour << 9 | minute << 3 | eighth of the minute).
#include <array>
#include <cstdint>

namespace kvx::sim {

// Calendar fields of a local time given as seconds since 1970 (no time zone applied).
struct CalendarTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    int weekday = 4;  // 0 = Sunday
};
CalendarTime calendarFromSeconds(std::int64_t seconds);
// Seconds since 1970 of a calendar date and time (the weekday is not looked at).
std::int64_t secondsFromCalendar(const CalendarTime& t);

class EventHistory {
  public:
    static constexpr int kEvents = 10;
    static constexpr int kWords = 40;

    struct Event {
        std::uint16_t word = 0;
        std::int64_t when = 0;  // local seconds since 1970
    };

    EventHistory() = default;

    // A plausible past before startTime: power-ups, gas on, alarms and shutoffs over three days.
    static EventHistory story(std::int64_t startTime);

    // The newest event becomes event 1; the oldest falls off.
    void push(std::uint16_t word, std::int64_t when);

    const Event& event(int index) const { return events_[static_cast<std::size_t>(index)]; }
    std::array<std::int16_t, kWords> registers() const;

  private:
    std::array<Event, kEvents> events_{};  // [0] is the newest
    int count_ = 0;
};

}  // namespace kvx::sim
