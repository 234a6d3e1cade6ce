// What real USB serial and RS-485 adapters do to the bytes, played by a pseudo-terminal peer:
// replies handed over in bursts at the adapter's latency timer, our own request echoed back
// before the reply, and the device vanishing and coming back at the same path.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "link/mbus_rtu_master_protocol.h"
#include "link/result_codes.h"
#include "tests/link/pty_peer.h"

namespace kvx {
namespace {

using test::Bytes;
using test::Peer;
using test::PtyPair;
using test::withCrc;

constexpr int kCount = 44;  // the viewer's block-A read

std::uint16_t pattern(int i) {
    return static_cast<std::uint16_t>(0x8123 + i * 0x0457);
}

Bytes readReply(int count) {
    Bytes reply{1, 4, static_cast<std::uint8_t>(2 * count)};
    for (int i = 0; i < count; ++i) {
        reply.push_back(static_cast<std::uint8_t>(pattern(i) >> 8));
        reply.push_back(static_cast<std::uint8_t>(pattern(i) & 0xFF));
    }
    return withCrc(reply);
}

void writeInBursts(const PtyPair& pty, const Bytes& bytes, std::size_t burst, int gapMs) {
    for (std::size_t at = 0; at < bytes.size(); at += burst) {
        if (at > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        const std::size_t n = std::min(burst, bytes.size() - at);
        pty.write(Bytes(bytes.begin() + static_cast<long>(at),
                        bytes.begin() + static_cast<long>(at + n)));
    }
}

void expectPattern(const std::int16_t* values, int count) {
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(static_cast<std::uint16_t>(values[i]), pattern(i)) << "register " << i;
}

TEST(AdapterQuirks, RepliesArrivingInBurstsAtTheLatencyTimerAreReadWhole) {
    // A USB adapter hands over what it has every 16 ms: bursts of any size, the first five
    // bytes (the part read first) split or not.
    for (const std::size_t burst : {1U, 3U, 5U, 7U, 16U, 62U}) {
        SCOPED_TRACE("bursts of " + std::to_string(burst));
        PtyPair pty;
        MbusRtuMasterProtocol master;
        ASSERT_EQ(master.setReplyTimeout(3000), MBR_SUCCESS);
        ASSERT_EQ(master.openConnection(pty.slavePath().c_str(), 9600), MBR_SUCCESS);
        Peer peer([&] {
            if (pty.readRequest(2000).size() != 8) return;
            writeInBursts(pty, readReply(kCount), burst, burst == 1 ? 2 : 16);
        });
        std::int16_t values[kCount] = {};
        ASSERT_EQ(master.readInputRegisters(1, 1, values, kCount), MBR_SUCCESS);
        expectPattern(values, kCount);
        peer.join();
    }
}

TEST(AdapterQuirks, AnEchoOfOurRequestIsNeverTakenForTheDevicesReply) {
    // An RS-485 adapter without echo suppression returns every byte we send. A read's echo is
    // recognised as our own request and passed over. A Write Single Register request and its
    // reply are the same bytes, so the echo alone once passed for the device's confirmation:
    // the connection learns that its adapter echoes from the first read (Connect always reads
    // before anything is written). Write Multiple Registers is recognised by its length alone.
    enum class Op { Read, Single, Multiple };
    struct Case {
        const char* what;
        Op op;
        bool reply;  // the device answers after the echo
        int result;
    };
    const Case cases[] = {
        {"read, echo then reply", Op::Read, true, MBR_SUCCESS},
        {"read, echo alone", Op::Read, false, MBR_REPLY_TIMEOUT},
        {"single, echo then reply", Op::Single, true, MBR_SUCCESS},
        {"single, echo alone", Op::Single, false, MBR_REPLY_TIMEOUT},
        {"multiple, echo then reply", Op::Multiple, true, MBR_SUCCESS},
        {"multiple, echo alone", Op::Multiple, false, MBR_REPLY_TIMEOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PtyPair pty;
        MbusRtuMasterProtocol master;
        ASSERT_EQ(master.setReplyTimeout(300), MBR_SUCCESS);
        ASSERT_EQ(master.openConnection(pty.slavePath().c_str(), 9600), MBR_SUCCESS);
        Peer peer([&] {
            const Bytes read = pty.readRequest(2000);
            if (read.size() != 8) return;
            pty.write(read);
            if (c.op == Op::Read) {
                if (c.reply) writeInBursts(pty, readReply(kCount), 16, 16);
                return;
            }
            pty.write(readReply(kCount));
            const Bytes write = pty.readRequest(2000);
            if (write.size() < 8) return;
            pty.write(write);
            if (!c.reply) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            // The reply to a write: address, function, reference and value or count.
            pty.write(withCrc(Bytes(write.begin(), write.begin() + 6)));
        });
        std::int16_t values[kCount];
        std::fill(std::begin(values), std::end(values), std::int16_t{7});
        const int read = master.readInputRegisters(1, 1, values, kCount);
        if (c.op == Op::Read) {
            EXPECT_EQ(read, c.result);
            if (c.result == MBR_SUCCESS) {
                expectPattern(values, kCount);
            } else {
                for (const std::int16_t v : values)
                    EXPECT_EQ(v, 0);
            }
        } else {
            ASSERT_EQ(read, MBR_SUCCESS);
            EXPECT_TRUE(master.adapterEchoes());
            const std::int16_t written[2] = {155, -3};
            EXPECT_EQ(c.op == Op::Multiple ? master.writeMultipleRegisters(1, 150, written, 2)
                                           : master.writeSingleRegister(1, 150, written[0]),
                      c.result);
        }
        peer.join();
    }
}

TEST(AdapterQuirks, ADeviceThatDisappearsAndComesBackAtTheSamePathReconnects) {
    // /dev/serial/by-id/... is a link the system re-points when the adapter is plugged in
    // again; the pseudo-terminal behind it is new.
    const std::string link =
        std::filesystem::path(::testing::TempDir()) / ("kvx_adapter_" + std::to_string(::getpid()));
    std::filesystem::remove(link);
    auto pty = std::make_unique<PtyPair>();
    std::filesystem::create_symlink(pty->slavePath(), link);

    MbusRtuMasterProtocol master;
    ASSERT_EQ(master.setReplyTimeout(300), MBR_SUCCESS);
    ASSERT_EQ(master.openConnection(link.c_str(), 9600), MBR_SUCCESS);
    auto serveOne = [](const PtyPair& p) {
        return std::make_unique<Peer>([&p] {
            if (p.readRequest(2000).size() == 8) p.write(readReply(kCount));
        });
    };
    std::int16_t values[kCount] = {};
    auto peer = serveOne(*pty);
    ASSERT_EQ(master.readInputRegisters(1, 1, values, kCount), MBR_SUCCESS);
    peer->join();

    // Unplugged: the device goes away under the open port.
    pty->closeMaster();
    const int gone = master.readInputRegisters(1, 1, values, kCount);
    EXPECT_NE(gone, MBR_SUCCESS);
    EXPECT_EQ(values[0], 0);

    // Plugged in again: a new device behind the same path. Connect closes and opens.
    pty = std::make_unique<PtyPair>();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(pty->slavePath(), link);
    master.closeConnection();
    ASSERT_EQ(master.openConnection(link.c_str(), 9600), MBR_SUCCESS);
    peer = serveOne(*pty);
    ASSERT_EQ(master.readInputRegisters(1, 1, values, kCount), MBR_SUCCESS);
    expectPattern(values, kCount);
    peer->join();
    master.closeConnection();
    std::filesystem::remove(link);
}

}  // namespace
}  // namespace kvx
