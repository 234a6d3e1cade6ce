// Our Modbus TCP master against libmodbus's TCP server, an implementation written elsewhere,
// on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "link/result_codes.h"
#include "link/rtu_device_link.h"

namespace kvx {
namespace {

constexpr int kRegisters = 300;
constexpr int kSlave = 17;

class LibmodbusTcpServer : public ::testing::Test {
  protected:
    void SetUp() override {
        context = modbus_new_tcp("127.0.0.1", 0);  // port 0: the system picks a free one
        ASSERT_NE(context, nullptr);
        ASSERT_EQ(modbus_set_slave(context, kSlave), 0);
        listening = modbus_tcp_listen(context, 1);
        ASSERT_GE(listening, 0) << modbus_strerror(errno);
        sockaddr_in address{};
        socklen_t length = sizeof address;
        ASSERT_EQ(getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length), 0);
        port = ntohs(address.sin_port);
        mapping = modbus_mapping_new(0, 0, kRegisters, kRegisters);
        ASSERT_NE(mapping, nullptr);
        for (int i = 0; i < kRegisters; ++i) {
            mapping->tab_registers[i] = static_cast<std::uint16_t>(1000 + i);
            mapping->tab_input_registers[i] = static_cast<std::uint16_t>(0xFF00 + i);
        }
        if (std::getenv("KVX_MODBUS_DEBUG")) modbus_set_debug(context, 1);
        server = std::thread([this] {
            // One client at a time, each served until it goes.
            while (!stop) {
                int s = listening;
                if (modbus_tcp_accept(context, &s) < 0) return;
                modbus_set_indication_timeout(context, 0, 50000);
                std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
                while (!stop) {
                    const int n = modbus_receive(context, query);
                    if (n > 0) {
                        modbus_reply(context, query, n, mapping);
                    } else if (n < 0 && errno != ETIMEDOUT) {
                        break;  // the client closed
                    }
                }
                modbus_close(context);
            }
        });
        ASSERT_EQ(link.openConnection("modbus-tcp://127.0.0.1:" + std::to_string(port)),
                  MBR_SUCCESS)
            << link.lastOpenError();
    }

    void TearDown() override {
        link.closeConnection();
        stop = true;
        // Wakes an accept that waits for a client that will not come.
        ::shutdown(listening, SHUT_RDWR);
        if (server.joinable()) server.join();
        if (listening >= 0) ::close(listening);
        if (mapping) modbus_mapping_free(mapping);
        if (context) modbus_free(context);
    }

    modbus_t* context = nullptr;
    modbus_mapping_t* mapping = nullptr;
    int listening = -1;
    int port = 0;
    std::atomic<bool> stop{false};
    std::thread server;
    RtuDeviceLink link{""};
};

TEST_F(LibmodbusTcpServer, ReadsAndWritesRegisters) {
    std::int16_t values[125] = {};
    ASSERT_EQ(link.readHoldingRegisters(kSlave, 1, values, 125), MBR_SUCCESS);
    for (int i = 0; i < 125; ++i)
        EXPECT_EQ(values[i], 1000 + i) << i;
    ASSERT_EQ(link.readInputRegisters(kSlave, 201, values, 40), MBR_SUCCESS);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(values[i], static_cast<std::int16_t>(0xFF00 + 200 + i)) << i;

    ASSERT_EQ(link.writeSingleRegister(kSlave, 7, -1234), MBR_SUCCESS);
    std::int16_t written[100];
    for (int i = 0; i < 100; ++i)
        written[i] = static_cast<std::int16_t>(i * 331 - 16000);
    ASSERT_EQ(link.writeMultipleRegisters(kSlave, 101, written, 100), MBR_SUCCESS);
    ASSERT_EQ(link.readHoldingRegisters(kSlave, 101, values, 100), MBR_SUCCESS);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(values[i], written[i]) << i;
    EXPECT_EQ(mapping->tab_registers[6], static_cast<std::uint16_t>(-1234));
}

TEST_F(LibmodbusTcpServer, IllegalAddressIsException2AndTheStreamStaysInStep) {
    std::int16_t values[4] = {9, 9, 9, 9};
    EXPECT_EQ(link.readHoldingRegisters(kSlave, kRegisters, values, 2), mbrException(2));
    EXPECT_EQ(values[0] | values[1], 0);
    EXPECT_EQ(link.writeSingleRegister(kSlave, kRegisters + 1, 1), mbrException(2));
    EXPECT_TRUE(link.isConnected());
    ASSERT_EQ(link.readHoldingRegisters(kSlave, 3, values, 1), MBR_SUCCESS);
    EXPECT_EQ(values[0], 1002);
}

TEST_F(LibmodbusTcpServer, AReopenedLinkIsServedAgain) {
    link.closeConnection();
    ASSERT_EQ(link.openConnection("modbus-tcp://localhost:" + std::to_string(port)), MBR_SUCCESS)
        << link.lastOpenError();
    std::int16_t value = 0;
    EXPECT_EQ(link.readHoldingRegisters(kSlave, 1, &value, 1), MBR_SUCCESS);
    EXPECT_EQ(value, 1000);
}

}  // namespace
}  // namespace kvx
