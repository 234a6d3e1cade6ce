#pragma once
// The controller's Modbus RTU slave: one request frame in, the reply bytes out. Functions 3,
// 4, 6 and 16; anything else gets exception 1. Frames with a bad CRC or for another address
// are ignored, as a slave on a shared line must; broadcast writes are applied silently.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/controller_engine.h"

namespace kvx::sim {

enum class SlaveOutcome {
    replied,       // reply holds the answer (normal or exception)
    broadcast,     // address 0: applied when it was a valid write, never answered
    otherAddress,  // for another slave
    badCrc,        // damaged or too short to be a frame
};

class ModbusSlave {
  public:
    explicit ModbusSlave(ControllerEngine& engine) : engine_(engine) {}

    SlaveOutcome handle(const std::uint8_t* frame, std::size_t size, std::int64_t elapsedMs,
                        std::vector<std::uint8_t>& reply);

  private:
    int process(const std::uint8_t* frame, std::size_t size, std::int64_t elapsedMs,
                std::vector<std::uint8_t>& reply);

    ControllerEngine& engine_;
    std::int16_t values_[128] = {};
};

// The 5-byte exception reply.
void exceptionReply(std::uint8_t address, std::uint8_t function, std::uint8_t code,
                    std::vector<std::uint8_t>& reply);

}  // namespace kvx::sim
