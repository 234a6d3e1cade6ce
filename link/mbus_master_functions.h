#pragma once
// The Modbus data functions and transaction settings of a master, over an abstract exchange.
// Register references are 1-based (reference 1 is wire address 0); values are signed 16-bit
// words whose bit pattern is what travels on the line.
#include <array>
#include <cstdint>

#include "link/deadline_timer.h"
#include "link/traffic_record.h"

namespace kvx {

class MbusMasterFunctions {
  public:
    static constexpr int kMaxReadCount = 125;
    static constexpr int kMaxWriteCount = 100;
    static constexpr int kMaxRetryCount = 10;
    static constexpr int kMaxMilliseconds = 100000;

    MbusMasterFunctions() = default;
    virtual ~MbusMasterFunctions() = default;
    MbusMasterFunctions(const MbusMasterFunctions&) = delete;
    MbusMasterFunctions& operator=(const MbusMasterFunctions&) = delete;

    virtual int isConnected() const { return 0; }
    virtual void closeConnection() {}
    // One request/reply transaction with retries: requestData is the PDU after the function
    // code, replyLength the number of reply data bytes expected after the function code.
    virtual int exchange(int slave, int function, const std::uint8_t* requestData,
                         int requestLength, std::uint8_t* replyData, int replyLength) = 0;

    // Reads clear values[0..count) first, so a failure leaves zeros.
    int readHoldingRegisters(int slave, int startRef, std::int16_t* values, int count);
    int readInputRegisters(int slave, int startRef, std::int16_t* values, int count);
    int writeSingleRegister(int slave, int ref, std::int16_t value);
    int writeMultipleRegisters(int slave, int startRef, const std::int16_t* values, int count);

    // Refused with MBR_BAD_ARGUMENT out of range and MBR_WRONG_STATE while connected.
    int setReplyTimeout(int ms);
    int setRetryCount(int count);
    int setRequestSpacing(int ms);
    int getReplyTimeout() const { return timeoutMs; }
    int getRetryCount() const { return retryCount; }
    int getRequestSpacing() const { return requestSpacingMs; }

    // Frames are recorded into `ring` from the next transaction on; nullptr (the default)
    // records nothing. The ring must outlive its use here.
    void setTrafficRing(TrafficRing* ring) { traffic = ring; }
    TrafficRing* trafficRing() const { return traffic; }

  protected:
    int retryCount = 0;
    int timeoutMs = 1000;
    int requestSpacingMs = 0;
    DeadlineTimer spacingTimer;
    // Request data is built here and reply data received here; no allocation per transaction.
    std::array<std::uint8_t, 256> pduBuffer{};
    TrafficRing* traffic = nullptr;

  private:
    int readRegisters(int function, int slave, int startRef, std::int16_t* values, int count);
};

}  // namespace kvx
