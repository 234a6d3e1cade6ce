// The simulator's receiving side: any byte stream, in chunks arriving at chosen times, cut
// into frames by the request framer and answered by the slave over a running engine.
//
// Input: repeated [chunk length][gap before it in milliseconds][chunk bytes].
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "link/crc16.h"
#include "sim/controller_engine.h"
#include "sim/modbus_slave.h"
#include "sim/request_framer.h"

using namespace kvx;
using namespace kvx::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ControllerEngine engine;
    ModbusSlave slave(engine);
    RequestFramer framer;
    ReceivedFrame frame;
    std::vector<std::uint8_t> reply;
    std::int64_t nowUs = 0;

    auto serve = [&] {
        while (framer.take(nowUs, frame)) {
            FUZZ_CHECK(!frame.bytes.empty() && frame.bytes.size() <= kMaxRequestBytes);
            const SlaveOutcome outcome =
                slave.handle(frame.bytes.data(), frame.bytes.size(), nowUs / 1000, reply);
            if (outcome == SlaveOutcome::replied) {
                FUZZ_CHECK(reply.size() >= 5 && reply.size() <= 256);
                FUZZ_CHECK(crc16Matches(reply.data(), reply.size()));
                FUZZ_CHECK(reply[0] == frame.bytes[0]);
                FUZZ_CHECK((reply[1] & 0x7F) == (frame.bytes[1] & 0x7F));
            } else {
                FUZZ_CHECK(reply.empty());
            }
        }
        FUZZ_CHECK(framer.buffered() <= 2 * kMaxRequestBytes);
    };

    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::size_t n = data[at];
        nowUs += static_cast<std::int64_t>(data[at + 1]) * 1000;
        at += 2;
        const std::size_t take = n < size - at ? n : size - at;
        serve();  // whatever became due while the line was quiet
        framer.feed(data + at, take, nowUs);
        at += take;
        serve();
    }
    // The line falls quiet for good: every started frame ends one way or the other.
    nowUs += 1000000;
    serve();
    FUZZ_CHECK(framer.buffered() == 0);
    return 0;
}
