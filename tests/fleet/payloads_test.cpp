// The payload codecs: what is encoded decodes to the same value, and each kind of bad payload is
// refused with a reason naming what is wrong.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "fleet/base64.h"
#include "fleet/engineering_values.h"
#include "fleet/payloads.h"
#include "log/log_format.h"

namespace kvx::fleet {
namespace {

using nlohmann::ordered_json;
using testing::HasSubstr;

RecordMessage sampleRecord() {
    RecordMessage m;
    m.seq = 123456;
    m.file = "log_2026_12_8_21.log";
    m.header = makeLogHeader(117);
    m.index = 17;
    LogRecord r;
    r.time = 1796770800;
    for (int i = 0; i < kLogValueCount; ++i)
        r.values[i] = i * 1000 - 7;
    r.values[15] = 1512;  // engine speed
    setRecord(m, r);
    m.values = engineeringValues(r, 1);
    m.publishedMs = 1796770800123;
    m.late = true;
    return m;
}

TEST(FleetBase64, RoundTripsAndRefusesNonCanonicalText) {
    for (std::size_t n = 0; n < 10; ++n) {
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < n; ++i)
            bytes.push_back(static_cast<std::uint8_t>(i * 97 + 200));
        const auto back = base64Decode(base64Encode(bytes.data(), n));
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, bytes);
    }
    const std::uint8_t foob[] = {'f', 'o', 'o', 'b'};
    EXPECT_EQ(base64Encode(foob, sizeof foob), "Zm9vYg==");
    for (const char* bad : {"Zm9vYg=", "Zm9vYh==", "Zm9v Yg==", "Zm9vYg",
                            "Zm=vYg==", "====", "Zm9vY===", "Zm9-", "Zm9vYg==Zm9v"})
        EXPECT_FALSE(base64Decode(bad)) << bad;
}

TEST(FleetPayloads, EveryPayloadRoundTrips) {
    const RecordMessage record = sampleRecord();
    const auto r = decodeRecord(encodeRecord(record));
    ASSERT_TRUE(r) << r.reason;
    EXPECT_EQ(*r, record);
    EXPECT_EQ(r->record().values[15], 1512);
    EXPECT_EQ(r->offset(), 40u + 84u * 17);

    RecordMessage headerless = record;
    headerless.header.reset();
    headerless.seq = kMaxSeq;
    const auto h = decodeRecord(encodeRecord(headerless));
    ASSERT_TRUE(h) << h.reason;
    EXPECT_EQ(*h, headerless);
    EXPECT_EQ(h->offset(), 84u * 17);

    const IdentityMessage identity{"north", 2417, 117, 3, "0.1"};
    const UnitId unit{"north", 2417};
    EXPECT_EQ(*decodeIdentity(encodeIdentity(identity), &unit), identity);
    for (UnitState state : {UnitState::Online, UnitState::Offline, UnitState::NoController}) {
        const StatusMessage status{state, "line \"COM1\" is down\n", 99};
        EXPECT_EQ(*decodeStatus(encodeStatus(status)), status);
    }
    const AlarmMessage alarm{"LOW GAS PRESSURE", 1796770800};
    EXPECT_EQ(*decodeAlarm(encodeAlarm(alarm)), alarm);
    EXPECT_EQ(*decodeArchived(encodeArchived({0})), ArchivedMessage{0});
    EXPECT_EQ(*decodeArchived(encodeArchived({kMaxSeq})), ArchivedMessage{kMaxSeq});
}

TEST(FleetPayloads, EngineeringValuesAreThePanelsWithUnits) {
    LogRecord r;
    r.values[15] = 1800;  // engine speed, rpm
    r.values[2] = 2505;   // engine load x0.1
    r.values[13] = -350;  // left pressure feedback x0.01
    const auto hp = engineeringValues(r, 0);
    ASSERT_EQ(hp.size(), static_cast<std::size_t>(kEngineeringValueCount));
    auto find = [](const std::vector<EngineeringValue>& all, const char* name) {
        for (const auto& v : all)
            if (v.name == name) return v;
        return EngineeringValue{};
    };
    EXPECT_EQ(find(hp, "engine_speed"), (EngineeringValue{"engine_speed", 1800, "rpm"}));
    EXPECT_DOUBLE_EQ(find(hp, "engine_load").value, 250.5);
    EXPECT_EQ(find(hp, "engine_load").unit, "HP");
    EXPECT_EQ(find(engineeringValues(r, 1), "engine_load").unit, "kW");
    EXPECT_DOUBLE_EQ(find(hp, "pressure_feedback").value, -3.5);
    EXPECT_EQ(find(hp, "pressure_feedback").unit, "in. W.C.");
}

// Scaled values print in the payload as the panel's number with its decimals, not as the
// nearest binary product (979 x 0.01 is 9.790000000000001).
TEST(FleetPayloads, ScaledValuesPrintAsTheirDecimals) {
    struct Case {
        int field;  // in the record
        std::int32_t raw;
        const char* name;
        const char* printed;
    };
    const Case cases[] = {
        {13, 979, "pressure_feedback", "9.79"},
        {13, 57, "pressure_feedback", "0.57"},
        {13, -350, "pressure_feedback", "-3.5"},
        {16, 3, "diesel_flow", "0.3"},
        {10, 10003, "gas_flow", "1000.3"},
        {2, 2505, "engine_load", "250.5"},
        {5, -1, "engine_hp", "-0.1"},
        {11, 333, "substitution_rate", "33.3"},
        {4, 7, "vibration", "0.007"},
        {19, -1, "vibration_max", "-0.001"},
        {19, 2147483647, "vibration_max", "2147483.647"},
        {19, -2147483647 - 1, "vibration_max", "-2147483.648"},
        {15, 1800, "engine_speed", "1800.0"},
        {0, -40, "exhaust_temp", "-40.0"},
        {14, 0, "actuator", "0.0"},
    };
    for (const Case& c : cases) {
        LogRecord r;
        r.values[c.field] = c.raw;
        RecordMessage m = sampleRecord();
        m.values = engineeringValues(r, 0);
        std::string want = "\"";
        want.append(c.name).append("\":{\"value\":").append(c.printed).append(",");
        EXPECT_THAT(encodeRecord(m), HasSubstr(want)) << c.name << " " << c.raw;
    }
}

// A good record payload with one change made to its JSON.
std::string mutated(const std::function<void(ordered_json&)>& change) {
    ordered_json j = ordered_json::parse(encodeRecord(sampleRecord()));
    change(j);
    return j.dump();
}

TEST(FleetPayloads, BadRecordsAreRefusedWithTheReason) {
    LogRecord otherTime;
    otherTime.time = 5;
    std::uint8_t otherRaw[kLogRecordSize];
    encodeLogRecord(otherTime, otherRaw);
    const std::string good = encodeRecord(sampleRecord());
    const struct {
        std::string payload;
        const char* why;
    } cases[] = {
        {"", "well-formed"},
        {good.substr(0, good.size() / 2), "well-formed"},
        {good + "x", "well-formed"},
        {good + "{}", "well-formed"},
        {"[1,2]", "not a JSON object"},
        {"\"text\"", "not a JSON object"},
        {std::string(10 * 1024 * 1024, ' '), "over the limit"},
        {"{\"v\":1,\"x\":" + std::string(70000, '1') + "}", "over the limit"},
        {"{\"v\":[[[[[1]]]]]}", "nested"},
        {mutated([](auto& j) { j.erase("v"); }), "no version"},
        {mutated([](auto& j) { j["v"] = 2; }), "version"},
        {mutated([](auto& j) { j["v"] = "1"; }), "version"},
        {mutated([](auto& j) { j["v"] = 1.0; }), "version"},
        {mutated([](auto& j) { j["extra"] = 1; }), "unknown field \"extra\""},
        {mutated([](auto& j) { j.erase("seq"); }), "\"seq\" is missing"},
        {mutated([](auto& j) { j["seq"] = 0; }), "\"seq\" is 0"},
        {mutated([](auto& j) { j["seq"] = -4; }), "\"seq\" is -4"},
        {mutated([](auto& j) { j["seq"] = kMaxSeq + 1; }), "\"seq\""},
        {mutated([](auto& j) { j["seq"] = 1.5; }), "\"seq\" is not an integer"},
        {mutated([](auto& j) { j["seq"] = "7"; }), "\"seq\" is not an integer"},
        {mutated([](auto& j) { j["file"] = "../../etc/passwd"; }), "\"file\""},
        {mutated([](auto& j) { j["file"] = "dir/log_2026_12_8_21.log"; }), "\"file\""},
        {mutated([](auto& j) { j["file"] = "LOG_2026_12_8_21.LOG"; }), "\"file\""},
        {mutated([](auto& j) { j["file"] = "log_2026_12_08_21.log"; }), "\"file\""},
        {mutated([](auto& j) { j["file"] = ""; }), "\"file\" is empty"},
        {mutated([](auto& j) { j["file"] = 3; }), "\"file\" is not a string"},
        {mutated([](auto& j) { j["index"] = -1; }), "\"index\""},
        {mutated([](auto& j) { j["index"] = kMaxRecordIndex + 1; }), "\"index\""},
        {mutated([](auto& j) { j.erase("header"); }), "\"header\" is missing"},
        {mutated([](auto& j) { j["header"] = "AAAA"; }), "\"header\" holds 3 bytes"},
        {mutated([](auto& j) {
             std::uint8_t zeros[kLogHeaderSize] = {};
             j["header"] = base64Encode(zeros, sizeof zeros);
         }),
         "not a log file header"},
        {mutated([](auto& j) { j["raw"] = "not base64!"; }), "\"raw\" is not valid base64"},
        {mutated([](auto& j) {
             std::uint8_t more[kLogRecordSize + 1] = {};
             j["raw"] = base64Encode(more, sizeof more);
         }),
         "\"raw\" holds 85 bytes"},
        {mutated([](auto& j) {
             std::uint8_t less[kLogRecordSize - 1] = {};
             j["raw"] = base64Encode(less, sizeof less);
         }),
         "\"raw\" holds 83 bytes"},
        {mutated([&](auto& j) { j["raw"] = base64Encode(otherRaw, kLogRecordSize); }),
         "raw record's time is 5"},
        {mutated([](auto& j) { j["time"] = std::int64_t{1} << 32; }), "\"time\""},
        {mutated([](auto& j) { j["published_ms"] = -1; }), "\"published_ms\""},
        {mutated([](auto& j) { j["late"] = 0; }), "\"late\" is not true/false"},
        {mutated([](auto& j) { j["values"] = ordered_json::array(); }), "not an object"},
        {mutated([](auto& j) {
             j["values"]["rpm"] = {{"value", 1}, {"unit", "x"}};
         }),
         "unknown value \"rpm\""},
        {mutated([](auto& j) { j["values"]["engine_speed"] = 5; }), "\"engine_speed\" is not"},
        {mutated([](auto& j) { j["values"]["engine_speed"]["value"] = "5"; }),
         "not a finite number"},
        {mutated([](auto& j) { j["values"]["engine_speed"]["extra"] = 1; }),
         "\"engine_speed\" is not"},
        {mutated([](auto& j) { j["values"]["engine_speed"]["unit"] = std::string(17, 'u'); }),
         "unit of \"engine_speed\""},
        {"{\"v\":1,\"v\":1}", "\"v\" appears twice"},
        {"{\"v\":1,\"seq\":1,\"seq\":2}", "\"seq\" appears twice"},
        {"{\"v\":1,\"values\":{\"actuator\":{\"value\":1,\"value\":2,\"unit\":\"\"}}}",
         "\"value\" appears twice"},
        {"{\"v\":1,\"file\":\"\xff\"}", "well-formed"},
    };
    for (const auto& c : cases) {
        const auto decoded = decodeRecord(c.payload);
        EXPECT_FALSE(decoded) << c.payload.substr(0, 200);
        EXPECT_THAT(decoded.reason, HasSubstr(c.why)) << c.payload.substr(0, 200);
        EXPECT_EQ(decoded.reason.find('\n'), std::string::npos);
    }
}

TEST(FleetPayloads, BadSmallPayloadsAreRefusedWithTheReason) {
    const UnitId unit{"north", 2417};
    const struct {
        std::function<bool(std::string_view, std::string&)> decode;
        const char* payload;
        const char* why;
    } cases[] = {
#define DECODER(f)                              \
    [&](std::string_view p, std::string& why) { \
        auto d = f;                             \
        why = d.reason;                         \
        return bool(d);                         \
    }
        {DECODER(decodeIdentity(p, &unit)),
         R"({"v":1,"site":"south","serial":2417,"firmware":117,"slave":1,"agent":"1"})",
         "names south/2417 on the topic of north/2417"},
        {DECODER(decodeIdentity(p, &unit)),
         R"({"v":1,"site":"north","serial":2418,"firmware":117,"slave":1,"agent":"1"})",
         "names north/2418"},
        {DECODER(decodeIdentity(p)),
         R"({"v":1,"site":"no th","serial":1,"firmware":117,"slave":1,"agent":"1"})", "letters"},
        {DECODER(decodeIdentity(p)),
         R"({"v":1,"site":"n","serial":1,"firmware":117,"slave":0,"agent":"1"})", "\"slave\""},
        {DECODER(decodeIdentity(p)),
         R"({"v":1,"site":"n","serial":-1,"firmware":117,"slave":1,"agent":"1"})", "\"serial\""},
        {DECODER(decodeIdentity(p)), R"({"v":1,"site":"n","serial":1,"firmware":117,"slave":1})",
         "\"agent\" is missing"},
        {DECODER(decodeStatus(p)), R"({"v":1,"state":"asleep","reason":"","time_ms":1})",
         "\"state\""},
        {DECODER(decodeStatus(p)), R"({"v":1,"state":"online","reason":null,"time_ms":1})",
         "\"reason\" is not a string"},
        {DECODER(decodeStatus(p)), R"({"v":1,"state":"online","reason":"\u0001","time_ms":1})",
         "control character"},
        {DECODER(decodeAlarm(p)), R"({"v":1,"text":"x","time":1,"more":2})", "unknown field"},
        {DECODER(decodeArchived(p)), R"({"v":1,"through":-1})", "\"through\""},
        {DECODER(decodeArchived(p)), R"({"v":1})", "\"through\" is missing"},
        {DECODER(decodeArchived(p)), R"({"v":0,"through":1})", "version"},
        {DECODER(decodeArchived(p)), R"({"through":1})", "no version"},
#undef DECODER
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_FALSE(c.decode(c.payload, why)) << c.payload;
        EXPECT_THAT(why, HasSubstr(c.why)) << c.payload;
    }
}

}  // namespace
}  // namespace kvx::fleet
