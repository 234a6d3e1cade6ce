#pragma once
// What the monitoring window knows about the running controller: identity, the raw input
// blocks of the last poll, the decoded live record and the instrument scale limits.
#include <array>
#include <cstdint>

namespace kvx {

// Holding registers 1..4, read in one block at every connect.
struct DeviceIdentity {
    std::int16_t product_type = 0;
    std::int16_t version = 0;  // firmware version x 100
    std::int16_t serial_number = 0;
    std::int16_t modbus_address = 0;

    static constexpr int kFirstRef = 1;
    static constexpr int kCount = 4;
    static DeviceIdentity fromRegisters(const std::int16_t (&regs)[kCount]);
};

struct InputBlock {
    int firstRef;
    int count;
};
inline constexpr InputBlock kBlockA{1, 44};
inline constexpr InputBlock kBlockB105{51, 4};
inline constexpr InputBlock kBlockB106{51, 36};
inline constexpr InputBlock kBlockB113{92, 26};

// Which input blocks a poll reads, by firmware version x 100.
constexpr bool readsBlockB105(int firmware) {
    return firmware >= 105 && firmware < 106;
}
constexpr bool readsBlockB106(int firmware) {
    return firmware >= 106;
}
constexpr bool readsBlockB113(int firmware) {
    return firmware >= 113;
}

// Raw input registers of the last poll. A block a poll does not read keeps its contents; a
// failed read leaves zeros (the device link clears before reading).
struct InputImage {
    std::array<std::int16_t, kBlockA.count> a{};
    std::array<std::int16_t, kBlockB105.count> b105{};
    std::array<std::int16_t, kBlockB106.count> b106{};
    std::array<std::int16_t, kBlockB113.count> b113{};

    // Register by reference within a block; 0 for a reference outside it.
    std::int32_t inA(int reference) const;
    std::int32_t inB105(int reference) const;
    std::int32_t inB106(int reference) const;
};

// The decoded live record. Field order is the log-record order; fields 0..19 are logged.
struct LiveData {
    std::int32_t exhaust_temp = 0;         // 0  A 9, F
    std::int32_t aux_a = 0;                // 1  A 11 or B105 51
    std::int32_t engine_load = 0;          // 2  A 12 or B105 52, x0.1 kW or HP
    std::int32_t aux_b = 0;                // 3  A 13
    std::int32_t vibration = -1;           // 4  A 14, x0.001 in/s (starts at -1)
    std::int32_t engine_hp = 0;            // 5  B106 52, x0.1 HP
    std::int32_t local_shutoff = 0;        // 6  A 16, only from a good block-A read
    std::int32_t aux_c = 0;                // 7  A 17
    std::int32_t alarm_flags = 0;          // 8  A 18, only from a good block-A read
    std::int32_t pressure_sp = 0;          // 9  A 23, x0.01 in. W.C.
    std::int32_t gas_flow = 0;             // 10 B106 68, x0.1 SCFM
    std::int32_t substitution_rate = 0;    // 11 A 25, /10 %
    std::int32_t pressure_sp_left = 0;     // 12 A 28, x0.01
    std::int32_t pressure_fdbk_left = 0;   // 13 A 29, x0.01
    std::int32_t actuator_left = 0;        // 14 A 32
    std::int32_t engine_speed = 0;         // 15 A 35, RPM
    std::int32_t diesel_flow = 0;          // 16 A 37, x0.1 LPH
    std::int32_t mode_left = 0;            // 17 A 34
    std::int32_t ecu_rx_lost = 0;          // 18 A 40
    std::int32_t vibration_max = 0;        // 19 A 42, x0.001 in/s
    std::int32_t pressure_sp_right = 0;    // 20 B106 55
    std::int32_t pressure_fdbk_right = 0;  // 21 B106 56
    std::int32_t actuator_right = 0;       // 22 B106 59
    std::int32_t mode_right = 0;           // 23 B106 61
    std::int32_t aux_d = 0;                // 24 B106 62

    static constexpr int kFieldCount = 25;
    static constexpr int kLoggedFieldCount = 20;

    // Field by its number 0..24 (the log order).
    std::int32_t field(int index) const;
    void setField(int index, std::int32_t value);
};

// The field names in order, as used in exports.
extern const char* const kLiveDataFieldNames[LiveData::kFieldCount];

// Flags held beside LiveData.
struct LiveStatus {
    int extShutoffOk = 1;  // B106 66, taken only from a good B106 read
    int pollOk = 1;        // 1 after a poll whose block-A read succeeded
};

// Fills live from the image. blockAOk: this poll's block-A read succeeded (fields 6 and 8 and
// pollOk follow only then). blockB106Ok: block B106 was read this poll and succeeded.
void decodeLiveData(const InputImage& image, int indicatorType, bool blockAOk, bool blockB106Ok,
                    LiveData& live, LiveStatus& status);

// Types 1 and 3: the load signal is electrical power in kW; anything else horsepower.
constexpr bool isKilowattIndicator(int indicatorType) {
    return indicatorType == 1 || indicatorType == 3;
}

// Instrument scale limits, computed once per connection from two holding-register reads.
struct DisplayRanges {
    double loadMin = 0.0, loadMax = 400.0;
    double hpMin = 0.0, hpMax = 500.0;
    double vibrationMin = 0.0, vibrationMax = 1000.0;
    double pressureMin = -138.0, pressureMax = 138.0;
    double dieselFlowMin = 0.0, dieselFlowMax = 100.0;
    double speedMin = 0.0, speedMax = 3000.0;  // from the scaling file, not from connecting

    // Cached holding registers read with the ranges.
    int indicator_type = 0;                 // 90
    int exhaust_temp_avg_shutdown_max = 0;  // 77
    int overspeed = 0;                      // 92

    static constexpr int kFirstRead = 23, kFirstCount = 10;    // references 23..32
    static constexpr int kSecondRead = 76, kSecondCount = 18;  // references 76..93
};

// The ranges after a connection: first = references 23..32, second = 76..93 (zeros where a
// read failed). The speed range is carried over from previous.
DisplayRanges computeDisplayRanges(const std::int16_t (&first)[DisplayRanges::kFirstCount],
                                   const std::int16_t (&second)[DisplayRanges::kSecondCount],
                                   int firmwareVersion, const DisplayRanges& previous);

}  // namespace kvx
