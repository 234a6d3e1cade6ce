#pragma once
// A scripted controller behind the DeviceLink interface, for the connection logic's tests:
// registers to answer from, switches to make reads fail, and a record of every request.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "link/result_codes.h"

namespace kvx::test {

struct LinkCall {
    char kind;  // 'H' holding read, 'I' input read, 'W' single write, 'M' multiple write,
                // 'O' open, 'C' close
    int slave;
    int ref;
    int count;                         // or the written value
    std::vector<std::int16_t> values;  // of a multiple write
};

class FakeLink : public DeviceLink {
  public:
    int openConnection(const std::string& portName) override {
        calls.push_back({'O', 0, 0, 0, {}});
        openedName = portName;
        open = openResult == 0;
        return openResult;
    }
    void closeConnection() override {
        if (open) calls.push_back({'C', 0, 0, 0, {}});
        open = false;
    }
    bool isConnected() const override { return open; }
    // A network link's words for a failed open; empty, as a serial link's, unless set.
    std::string lastOpenError() const override { return open ? std::string() : openError; }
    int setReplyTimeout(int ms) override {
        timeout = ms;
        return 0;
    }
    int getReplyTimeout() const override { return timeout; }
    int readHoldingRegisters(int slave, int startRef, std::int16_t* values, int count) override {
        calls.push_back({'H', slave, startRef, count, {}});
        if (!answers(slave)) return deaf(values, count);
        return read(holding, failHolding, slave, startRef, values, count);
    }
    int readInputRegisters(int slave, int startRef, std::int16_t* values, int count) override {
        calls.push_back({'I', slave, startRef, count, {}});
        if (!answers(slave)) return deaf(values, count);
        return read(input, failInput, slave, startRef, values, count);
    }
    int writeSingleRegister(int slave, int ref, std::int16_t value) override {
        calls.push_back({'W', slave, ref, value, {}});
        if (!open) return MBR_WRONG_STATE;
        if (silent || !answers(slave)) return MBR_REPLY_TIMEOUT;
        if (auto it = failWrite.find(ref); it != failWrite.end() && it->second)
            return MBR_REPLY_TIMEOUT;
        holding[ref] = value;
        // Done, but the reply never comes back.
        if (auto it = loseReply.find(ref); it != loseReply.end() && it->second)
            return MBR_REPLY_TIMEOUT;
        return 0;
    }
    int writeMultipleRegisters(int slave, int startRef, const std::int16_t* values,
                               int count) override {
        calls.push_back(
            {'M', slave, startRef, count, std::vector<std::int16_t>(values, values + count)});
        if (!open) return MBR_WRONG_STATE;
        if (silent) return MBR_REPLY_TIMEOUT;
        if (auto it = failWrite.find(startRef); it != failWrite.end() && it->second)
            return MBR_REPLY_TIMEOUT;
        for (int i = 0; i < count; ++i)
            holding[startRef + i] = values[i];
        return 0;
    }

    std::string openError;

    int countReads(char kind, int ref) const {
        int n = 0;
        for (const auto& c : calls)
            n += c.kind == kind && c.ref == ref;
        return n;
    }

    std::map<int, std::int16_t> holding, input;
    std::map<int, bool> failHolding, failInput;  // by first reference of a read
    std::map<int, bool> failWrite;               // by (first) reference of a write
    std::map<int, bool> loseReply;               // single writes done whose reply is lost
    // Answers only at the slave address its register 4 holds, as a controller does.
    bool ownAddressOnly = false;
    bool silent = false;                         // nothing answers
    int openResult = 0;
    bool open = false;
    int timeout = 1000;
    std::string openedName;
    std::vector<LinkCall> calls;

  private:
    bool answers(int slave) const {
        if (!ownAddressOnly) return true;
        const auto it = holding.find(4);
        return it != holding.end() && it->second == slave;
    }
    int deaf(std::int16_t* values, int count) const {
        for (int i = 0; i < count; ++i)
            values[i] = 0;
        return open ? MBR_REPLY_TIMEOUT : MBR_WRONG_STATE;
    }
    int read(const std::map<int, std::int16_t>& regs, const std::map<int, bool>& fail, int,
             int startRef, std::int16_t* values, int count) {
        for (int i = 0; i < count; ++i)
            values[i] = 0;
        if (!open) return MBR_WRONG_STATE;
        if (silent) return MBR_REPLY_TIMEOUT;
        if (auto it = fail.find(startRef); it != fail.end() && it->second) return MBR_REPLY_TIMEOUT;
        for (int i = 0; i < count; ++i) {
            auto it = regs.find(startRef + i);
            values[i] = it == regs.end() ? 0 : it->second;
        }
        return 0;
    }
};

}  // namespace kvx::test
