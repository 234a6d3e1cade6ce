#pragma once
// The program directory and the two small configuration files in it: the communication file
// (port name, slave address) and the scaling file (engine-speed scale limits).
#include <cstdint>
#include <string>

#include "link/port_name.h"  // programDirectory

namespace kvx {

struct ProgramSettings {
    std::string portName = "COM5";  // any length; a device path is often long
    int slaveId = 1;
    std::int16_t speedMin = 0;
    std::int16_t speedMax = 3000;
};

inline constexpr const char* kCommFileName = "kvx_comm_config.dat";
inline constexpr const char* kScalingFileName = "scaling_config.dat";

// Creates the directory and its missing parents; false when it is not there afterwards.
bool createProgramDirectory(const std::string& dir);

// The file's two tokens: the port name, then the slave address in decimal. A missing file
// changes nothing; a missing or non-numeric second token leaves slaveId. False when the file
// could not be read.
bool readCommFile(const std::string& dir, ProgramSettings& settings);
// "<portName> <slaveId>" with no line end, replacing the file whole. False on failure.
bool writeCommFile(const std::string& dir, const ProgramSettings& settings);
// Both limits as decimal 16-bit values; the file's numbers are read in order, and a value that
// is missing, not a number or outside -32768..65535 leaves the setting (and the ones after it).
bool readScalingFile(const std::string& dir, ProgramSettings& settings);
// "<min> <max>" as unsigned 16-bit decimals, no line end, replacing the file whole.
bool writeScalingFile(const std::string& dir, const ProgramSettings& settings);

// The text written to each file, for callers that show or compare it.
std::string commFileText(const ProgramSettings& settings);
std::string scalingFileText(const ProgramSettings& settings);

}  // namespace kvx
