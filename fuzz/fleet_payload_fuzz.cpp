// Any bytes as a payload from the broker, through every decoder: a refusal has a one-line
// reason, and what is accepted encodes back to a payload that decodes to the same value.
#include <cstdint>
#include <string_view>

#include "fleet/payloads.h"
#include "fleet/topics.h"
#include "fuzz_check.h"

using namespace kvx::fleet;

namespace {

template <typename Decoded, typename Encode, typename Decode>
void roundTrip(const Decoded& d, Encode encode, Decode decode) {
    if (!d) {
        FUZZ_CHECK(!d.reason.empty() && d.reason.find('\n') == std::string::npos);
        return;
    }
    const auto again = decode(encode(*d));
    FUZZ_CHECK(again && *again == *d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view payload(reinterpret_cast<const char*>(data), size);
    roundTrip(decodeRecord(payload), encodeRecord,
              [](const std::string& p) { return decodeRecord(p); });
    roundTrip(decodeIdentity(payload), encodeIdentity,
              [](const std::string& p) { return decodeIdentity(p); });
    roundTrip(decodeStatus(payload), encodeStatus,
              [](const std::string& p) { return decodeStatus(p); });
    roundTrip(decodeAlarm(payload), encodeAlarm,
              [](const std::string& p) { return decodeAlarm(p); });
    roundTrip(decodeArchived(payload), encodeArchived,
              [](const std::string& p) { return decodeArchived(p); });
    const auto topic = parseTopic(payload);
    if (topic) FUZZ_CHECK(topicFor(topic->unit, topic->kind) == payload);
    return 0;
}
