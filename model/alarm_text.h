#pragma once
// Alarm, event, mode and shutoff texts, and the READY condition.
#include <string>

#include "model/live_data.h"

namespace kvx {

// "Alarm Status: %s" with the fragments of the set alarm bits (" Normal operation ! " for 0).
std::string formatAlarmStatus(int flags);
// The event text of a controller event word (empty when no event bit is set).
std::string formatEventText(int flags);
// "MODE: ..." for a bank's control-mode code.
std::string modeText(int code);
// The shutoff-switch alarm text, empty when neither switch is active.
std::string shutoffSwitchText(const LiveData& live, const LiveStatus& status);
// Status bar part 2: the shutoff text when there is one, else formatAlarmStatus(alarm_flags).
std::string alarmStatusLine(const LiveData& live, const LiveStatus& status);
// READY: no shutoff, last poll good, external shutoff healthy, no alarm.
bool isReady(const LiveData& live, const LiveStatus& status);

}  // namespace kvx
