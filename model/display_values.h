#pragma once
// What the panel shows, derived from LiveData on every paint.
#include <string>
#include <vector>

#include "model/live_data.h"

namespace kvx {

inline constexpr int kTrendChannels = 10;

struct DisplayValues {
    double engineSpeed = 0;       // speed dial, trend 8
    double engineHp = 0;          // horsepower dial (not clamped)
    double substitutionRate = 0;  // substitution dial (clamped)
    double engineLoad = 0;        // load bar, trend 1 (clamped)
    double dieselFlow = 0;        // diesel flow bar, trend 0 (clamped)
    double gasFlow = 0;           // gas flow bar (clamped)
    double vibration = 0;         // trend 4 (clamped)
    double vibrationMax = 0;      // trend 9 (not clamped)
    double exhaustTemp = 0;       // trend 6
    double pressureFdbk = 0;      // pressure feedback bar, trend 2 (selected bank)
    double pressureSp = 0;        // pressure set-point bar, trend 5 (selected bank)
    double actuator = 0;          // actuator bar, trend 3 (selected bank)

    // The values recorded into trend channels 0..9 (channel 7 is always 0).
    double trend[kTrendChannels] = {};
};

// selectedBank 1 picks the left-bank fields, any other value the right bank.
DisplayValues computeDisplayValues(const LiveData& live, int selectedBank);

// The column of status text lines; ecu is empty when it does not apply.
struct TextLines {
    std::string pressureSp;  // "PRESSURE SP : %.2f"
    std::string bank;        // "LEFT BANK" / "RIGHT BANK"
    std::string mode;        // modeText of the selected bank
    std::string ecu;         // "ECU RX: NOT AVAIL" or empty
    std::string ecuError;    // "ECU FLOW RX ERR: %d"
    std::string startSp;     // "START SP : %.2f"
    std::string startSp1;    // "START SP1 : %.2f"
    std::string startSp2;    // "START SP2 : %.2f"
};

TextLines computeTextLines(const LiveData& live, const InputImage& image, int selectedBank);

// "GAS is ON" or "GAS is OFF".
std::string gasText(const LiveData& live, const LiveStatus& status);
// Trend channel names with their limits: "ENGINE SPEED /%i/", "EXHAUST TEMP /%i/".
std::string speedChannelName(int overspeed);
std::string exhaustChannelName(int exhaustTempLimit);

// One of the panel's readings with its name (as the fleet's payloads spell it), a label for a
// person, its unit and the decimals of its register's scale (x0.01: 2).
struct PanelReading {
    const char* name;
    const char* label;
    double value;
    const char* unit;
    int decimals;
};
inline constexpr int kPanelReadingCount = 12;
// What the panel shows for live with the bank selected (1 left, else right); the load is in kW
// for the kilowatt indicator types, else in HP.
std::vector<PanelReading> panelReadings(const LiveData& live, int selectedBank, int indicatorType);

}  // namespace kvx
