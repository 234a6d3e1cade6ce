#pragma once
// What every settings command is handed, and what it hands back. The window builds the
// context before a command (the link, the register blocks kept for the run, the slave address
// and firmware in use); the screens never write the window's state: what the window must
// follow afterwards (a new slave address, a new value of a register the panel shows) comes
// back as a SettingsOutcome, which the window applies in one place.
#include <optional>

#include "link/device_link.h"
#include "settings/register_block.h"

namespace kvx {

// Where a screen talks to the controller.
struct SettingsContext {
    DeviceLink& link;
    BlockStore& blocks;
    int slave = 1;
    int firmware = 0;  // the identity read's version; 0 while none has been answered
};

// The registers the panel shows beside the live values, as a settings command left them.
struct FollowedRanges {
    std::optional<int> exhaustTempAvgShutdownMax;
    std::optional<int> overspeed;
    std::optional<int> indicatorType;
};

// What the window follows after a settings command; an empty member: nothing to follow.
struct SettingsOutcome {
    // The address the controller answers to now, when a command moved it.
    std::optional<int> slaveAddress;
    FollowedRanges ranges;
};

}  // namespace kvx
