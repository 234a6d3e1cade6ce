#include "sim/register_map.h"

#include <algorithm>

namespace kvx::sim {
namespace {

constexpr std::array<int, 7> kFirmware = {100, 105, 106, 110, 113, 115, 117};

// One value per holding reference 1..177, as a controller leaves commissioning: a 1000 kW
// engine at 1800 RPM, load and pressure schedules in increasing order.
constexpr std::array<std::int16_t, kHoldingCount> kDefaults = {
    // 1..10: product_type, version, serial_number, modbus_address, j1939_preff_sa, calibrated,
    // save_data_command, rtc_update, min_meter, hour_meter
    3,
    117,
    2417,
    1,
    39,
    1,
    0,
    0,
    0,
    1234,
    // 11..20: relays, watt meter and vibration sensor calibration, saved alarm, config,
    // temperature and alarm modes
    1,
    1,
    1000,
    0,
    1000,
    0,
    0,
    0,
    1,
    1,
    // 21..30: ma_min 4.00, ma_max 20.00, load 0..1000.0 kW, vibration 0..1.000 in/s,
    // pressure 0..20.00 in.W.C., stopped-engine diesel minimum 5.0 LPH, register 30 doubles as
    // the horsepower dial maximum (1341.0 HP = 1000 kW)
    400,
    2000,
    0,
    10000,
    0,
    1000,
    0,
    2000,
    50,
    13410,
    // 31..40: fuel_flow_max 300.0 LPH, substitution 10.0..70.0 %, flags, tx rates, trim step,
    // topping switch
    3000,
    100,
    700,
    0,
    0,
    10,
    10,
    60,
    5,
    0,
    // 41..50: load_sp0..9, 100.0 .. 1000.0 kW
    1000,
    2000,
    3000,
    4000,
    5000,
    6000,
    7000,
    8000,
    9000,
    10000,
    // 51..60: pressure_sp0..9, 1.50 .. 13.20 in.W.C.
    150,
    280,
    410,
    540,
    670,
    800,
    930,
    1060,
    1190,
    1320,
    // 61..70: substitution schedule loads 200..800 kW and diesel flows 25.0..70.0 LPH,
    // acknowledge_alarm, data_log_enable
    2000,
    4000,
    6000,
    8000,
    250,
    400,
    550,
    700,
    0,
    1,
    // 71..80: logging, ECU low-flow cycles, exhaust average shutdown (on, rate 10, 1100 F,
    // 5 s), vibration average shutdown (on, rate 10)
    60,
    0,
    10,
    300,
    1,
    10,
    1100,
    5,
    1,
    10,
    // 81..90: vibration shutdown 0.800 in/s after 5 s, diesel flow input, v range, autostart
    // delay, load filter, indicator_type 1 (load in kW)
    800,
    5,
    1000,
    0,
    3000,
    0,
    1000,
    60,
    5,
    1,
    // 91..100: diesel flow from the meter, overspeed 2070 RPM, vibration schedule loads
    // 250..1000 kW and limits 0.400..0.700 in/s
    1,
    2070,
    2500,
    5000,
    7500,
    10000,
    400,
    500,
    600,
    700,
    // 101..110: timers and ramp, flow set-point 40.0 LPH, Ki gains, low battery 22.0 V,
    // exhaust maximum 1050 F
    10,
    5,
    10,
    400,
    50,
    60,
    220,
    1050,
    20,
    30,
    // 111..120: flow alarm on, switches, left bank source address, gas flow input, gas meter
    // range 200.0 SCFM, diesel price 1.20/l
    1,
    0,
    0,
    40,
    1000,
    0,
    400,
    2000,
    2000,
    120,
    // 121..130: gas price 0.35/m3, substitution from load, savings, relay, filter, offsets,
    // low supply pressure e-mail
    35,
    0,
    4567,
    1,
    2350,
    0,
    1,
    0,
    0,
    1,
    // 131..140: e-mail enablers, alarm delay timer 30 s
    1,
    1,
    0,
    1,
    0,
    0,
    1,
    1,
    0,
    30,
    // 141..150: horsepower points and their calibration
    3350,
    6700,
    10050,
    13410,
    1000,
    0,
    1000,
    0,
    1000,
    0,
    // 151..160: gas heating value 1000 BTU/ft3, clock (kept live), e-mail enablers
    1000,
    0,
    0,
    0,
    0,
    0,
    0,
    1,
    1,
    0,
    // 161..170: e-mail enablers, ECU active, load-to-flow model, engine efficiency 38 %
    0,
    0,
    1,
    250,
    180,
    20,
    1000,
    1000,
    10,
    38,
    // 171..177: pump data, minimum substitution speed 1200 RPM, high-pressure cycles, spares
    1200,
    500,
    1800,
    1200,
    10,
    0,
    0,
};

}  // namespace

std::span<const int> supportedFirmware() {
    return kFirmware;
}

bool isSupportedFirmware(int firmware) {
    return std::find(kFirmware.begin(), kFirmware.end(), firmware) != kFirmware.end();
}

int holdingTop(int firmware) {
    // The viewer reads the ranges up to 93 on every version; the calibration blocks grew with
    // the firmware.
    if (firmware >= 117) return 177;
    if (firmware >= 115) return 174;
    if (firmware >= 107) return 152;
    if (firmware >= 106) return 114;
    return 93;
}

int inputTop(int firmware) {
    if (firmware >= 113) return 117;
    if (firmware >= 106) return 86;
    if (firmware >= 105) return 54;
    return 44;
}

bool holdingInMap(int firmware, int firstRef, int count) {
    return count > 0 && firstRef >= 1 && firstRef + count - 1 <= holdingTop(firmware);
}

bool inputInMap(int firmware, int firstRef, int count) {
    if (count <= 0 || firstRef < 1) return false;
    const int last = firstRef + count - 1;
    if (last <= inputTop(firmware)) return true;
    return firstRef >= kEventFirstRef && last < kEventFirstRef + kEventCount;
}

std::array<std::int16_t, kHoldingCount> defaultHoldingRegisters() {
    return kDefaults;
}

}  // namespace kvx::sim
