#pragma once
// The main window's own texts: titles and the status-bar parts.
#include <cstdint>
#include <string>

namespace kvx {

inline constexpr double kProgramVersion = 1.37;

// "Orvik Dravo Viewer V.1.37 " before any controller answered.
std::string startTitle();
// "Orvik Dravo Viewer v.1.37  ___  Firmware v. 1.17 " for firmware version 117.
std::string firmwareTitle(int firmwareVersion);

// The commStatus value of playback; failure counts step over it.
inline constexpr int kCommStatusPlayback = 100;
// Status bar part 3 by commStatus: waiting (-1), receiving (0), playback (100), else time-out.
std::string commStatusText(int commStatus);
// Part 0 and part 1 after a repaint.
std::string serialNumberText(int serialNumber);
std::string indicatorText(int indicatorType);
// The title while a unit is shown from the broker: firmwareTitle, then the unit's name.
std::string remoteTitle(int firmwareVersion, const std::string& unit);
// Part 0 while a unit is shown from the broker: " Unit: north-7/2417" (site/serial).
std::string remoteUnitText(const std::string& unit);
// Part 3 while a unit is shown from the broker: "Broker: online", "Broker: offline",
// "Broker: no controller (cable pulled)"; state is the unit's last status (or the broker
// connection's), reason shown when not empty. The part is narrow: the unit is in part 0.
std::string remoteUnitNote(const std::string& state, const std::string& reason);

// What the parts show when the bar is created.
inline constexpr const char* kSerialPartAtCreation = "Velm2 Serial No.:";
inline constexpr const char* kNoticePartAtCreation = "Communication Status: Waiting for data";

// value with two decimals and a '.', whatever the locale.
std::string fixed2(double value);

}  // namespace kvx
