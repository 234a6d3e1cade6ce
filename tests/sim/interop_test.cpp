// Masters written by others and by us, against the simulator over its pseudo-terminal.
#include <modbus.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "link/mbus_rtu_master_protocol.h"
#include "link/result_codes.h"
#include "sim/sim_server.h"

namespace kvx::sim {
namespace {

struct LibmodbusFixture : ::testing::Test {
    SimServer server;
    modbus_t* ctx = nullptr;

    void SetUp() override {
        ASSERT_EQ(server.start(), 0);
        ctx = modbus_new_rtu(server.devicePath().c_str(), 9600, 'N', 8, 1);
        ASSERT_NE(ctx, nullptr);
        modbus_set_slave(ctx, 1);
        modbus_set_response_timeout(ctx, 0, 500000);
        ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
    }
    void TearDown() override {
        if (ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    }
};

TEST_F(LibmodbusFixture, ReadsAndWritesRegisters) {
    std::uint16_t regs[125] = {};
    ASSERT_EQ(modbus_read_registers(ctx, 0, 4, regs), 4) << modbus_strerror(errno);
    EXPECT_EQ(regs[1], 117);
    EXPECT_EQ(regs[3], 1);
    ASSERT_EQ(modbus_read_input_registers(ctx, 0, 44, regs), 44) << modbus_strerror(errno);
    ASSERT_EQ(modbus_read_input_registers(ctx, 200, 40, regs), 40) << modbus_strerror(errno);
    EXPECT_EQ(regs[0], 0x0800);  // power up is the newest event

    ASSERT_EQ(modbus_write_register(ctx, 6, 0x1234), 1) << modbus_strerror(errno);
    const std::uint16_t schedule[3] = {1100, 2100, 3100};
    ASSERT_EQ(modbus_write_registers(ctx, 40, 3, schedule), 3) << modbus_strerror(errno);
    ASSERT_EQ(modbus_read_registers(ctx, 40, 3, regs), 3);
    EXPECT_EQ(regs[2], 3100);
    EXPECT_EQ(server.withEngine([](ControllerEngine& e) { return e.saveCount(); }), 1);

    // Applied without a reply: depending on its version libmodbus returns at once or waits
    // for the time-out.
    modbus_set_slave(ctx, MODBUS_BROADCAST_ADDRESS);
    const int rc = modbus_write_register(ctx, 40, 1234);
    EXPECT_TRUE(rc == 1 || errno == ETIMEDOUT) << modbus_strerror(errno);
    modbus_set_slave(ctx, 1);
    ASSERT_EQ(modbus_read_registers(ctx, 40, 1, regs), 1);
    EXPECT_EQ(regs[0], 1234);
}

TEST_F(LibmodbusFixture, GetsTheExceptions) {
    std::uint16_t regs[8];
    std::uint8_t bits[8];
    EXPECT_EQ(modbus_read_bits(ctx, 0, 1, bits), -1);
    EXPECT_EQ(errno, EMBXILFUN);
    EXPECT_EQ(modbus_read_registers(ctx, 177, 1, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_write_register(ctx, 1, 100), -1);  // the firmware version is fixed
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_write_register(ctx, 3, 0), -1);  // slave address 0
    EXPECT_EQ(errno, EMBXILVAL);
    // libmodbus will not send a count of 0 or 126 itself; send the raw request.
    for (std::uint8_t count : {std::uint8_t{0}, std::uint8_t{126}}) {
        const std::uint8_t raw[] = {1, 3, 0, 0, 0, count};
        ASSERT_GT(modbus_send_raw_request(ctx, raw, sizeof raw), 0);
        std::uint8_t rsp[MODBUS_RTU_MAX_ADU_LENGTH];
        EXPECT_EQ(modbus_receive_confirmation(ctx, rsp), 5);
        EXPECT_EQ(rsp[1], 0x83);
        EXPECT_EQ(rsp[2], 3);
    }
    // Another slave's request goes unanswered.
    modbus_set_slave(ctx, 2);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, regs), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    modbus_set_slave(ctx, 1);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, regs), 1);
}

struct MasterFixture : ::testing::Test {
    SimServer server;
    MbusRtuMasterProtocol master;
    std::int16_t regs[125] = {};

    void SetUp() override {
        ASSERT_EQ(server.start(), 0);
        ASSERT_EQ(master.setReplyTimeout(300), MBR_SUCCESS);
        ASSERT_EQ(master.openConnection(server.devicePath().c_str(), 9600), MBR_SUCCESS);
    }
    int readBlockA() { return master.readInputRegisters(1, 1, regs, 44); }
};

TEST_F(MasterFixture, ReadsWritesAndGetsExceptions) {
    ASSERT_EQ(master.readHoldingRegisters(1, 1, regs, 4), MBR_SUCCESS);
    EXPECT_EQ(regs[1], 117);
    ASSERT_EQ(master.writeSingleRegister(1, 7, 0x1234), MBR_SUCCESS);
    const std::int16_t values[2] = {1, 0};
    ASSERT_EQ(master.writeMultipleRegisters(1, 34, values, 1), MBR_SUCCESS);
    ASSERT_EQ(readBlockA(), MBR_SUCCESS);
    EXPECT_EQ(regs[15], 1);  // local shutoff
    EXPECT_EQ(master.writeSingleRegister(1, 34, 0), MBR_SUCCESS);
    EXPECT_EQ(master.writeSingleRegister(0, 7, 0x1234), MBR_SUCCESS);    // broadcast
    ASSERT_EQ(master.readHoldingRegisters(1, 7, regs, 1), MBR_SUCCESS);  // served in order
    EXPECT_EQ(regs[0], 0);  // the command word does not stay
    EXPECT_EQ(server.withEngine([](ControllerEngine& e) { return e.saveCount(); }), 2);

    EXPECT_EQ(master.readHoldingRegisters(1, 178, regs, 1), mbrException(2));
    EXPECT_EQ(master.readInputRegisters(1, 118, regs, 1), mbrException(2));
    EXPECT_EQ(master.writeSingleRegister(1, 4, 300), mbrException(3));
    const std::uint8_t zeroCount[4] = {0, 0, 0, 0};
    std::uint8_t reply[8];
    EXPECT_EQ(master.exchange(1, 3, zeroCount, 4, reply, 1), mbrException(3));
    EXPECT_EQ(master.exchange(1, 1, zeroCount, 4, reply, 2), mbrException(1));
    EXPECT_EQ(master.readHoldingRegisters(2, 1, regs, 1), MBR_REPLY_TIMEOUT);
    EXPECT_EQ(master.readHoldingRegisters(1, 1, regs, 1), MBR_SUCCESS);

    // A new address takes effect after the write's own reply.
    EXPECT_EQ(master.writeSingleRegister(1, 4, 12), MBR_SUCCESS);
    EXPECT_EQ(master.readHoldingRegisters(1, 1, regs, 4), MBR_REPLY_TIMEOUT);
    EXPECT_EQ(master.readHoldingRegisters(12, 1, regs, 4), MBR_SUCCESS);
    EXPECT_EQ(regs[3], 12);
}

TEST_F(MasterFixture, EachFaultGivesItsResultAndTheNextTransactionIsClean) {
    FaultSettings fs;
    fs.exceptionCode = 4;
    fs.lateDelayMs = 500;
    fs.cablePulledMs = 700;
    server.setFaultSettings(fs);
    struct Case {
        FaultKind kind;
        int result;
    };
    const Case cases[] = {
        {FaultKind::noReply, MBR_REPLY_TIMEOUT},
        {FaultKind::badCrc, MBR_CRC_MISMATCH},
        {FaultKind::wrongAddress, MBR_FRAME_MISMATCH},
        {FaultKind::wrongFunction, MBR_FRAME_MISMATCH},
        {FaultKind::exception, mbrException(4)},
        {FaultKind::truncated, MBR_REPLY_TIMEOUT},
        {FaultKind::trailing, MBR_SUCCESS},
        {FaultKind::noise, MBR_CRC_MISMATCH},
        {FaultKind::late, MBR_REPLY_TIMEOUT},
        {FaultKind::cablePulled, MBR_REPLY_TIMEOUT},
    };
    ASSERT_EQ(readBlockA(), MBR_SUCCESS);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(faultName(c.kind)));
        const FaultKind one[] = {c.kind};
        server.scriptFaults(one);
        EXPECT_EQ(readBlockA(), c.result);
        if (c.kind == FaultKind::cablePulled) {
            EXPECT_TRUE(server.cablePulled());
            EXPECT_EQ(readBlockA(), MBR_REPLY_TIMEOUT);  // still out
            while (server.cablePulled())
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // No stale byte of the faulty reply may surface in the next one.
        ASSERT_EQ(readBlockA(), MBR_SUCCESS);
        EXPECT_GT(regs[34], 0);  // engine speed in place: the frame is aligned
        ASSERT_EQ(master.readHoldingRegisters(1, 1, regs, 4), MBR_SUCCESS);
        EXPECT_EQ(regs[1], 117);
        EXPECT_EQ(regs[3], 1);
    }
    EXPECT_EQ(server.stats().faults, static_cast<long>(std::size(cases)));
}

TEST_F(MasterFixture, FaultRatesHitAboutThatShareOfTransactions) {
    server.setFaultRate(FaultKind::badCrc, 0.3);
    int bad = 0;
    const int n = 100;
    for (int i = 0; i < n; ++i) {
        const int rc = master.readHoldingRegisters(1, 1, regs, 4);
        ASSERT_TRUE(rc == MBR_SUCCESS || rc == MBR_CRC_MISMATCH) << rc;
        bad += rc == MBR_CRC_MISMATCH;
    }
    EXPECT_EQ(bad, server.faultsInjected(FaultKind::badCrc));
    EXPECT_GT(bad, 10);
    EXPECT_LT(bad, 55);
}

}  // namespace
}  // namespace kvx::sim
