#pragma once
// The program directory and the configuration files in it: the communication file (port name,
// slave address), the scaling file (engine-speed scale limits) and the viewer's own settings
// file of "key = value" lines.
#include <cstdint>
#include <string>
#include <vector>

#include "base/program_directory.h"
#include "link/tls_context.h"

namespace kvx {

struct ProgramSettings {
    std::string portName = "COM5";  // any length; a device path is often long
    int slaveId = 1;
    std::int16_t speedMin = 0;
    std::int16_t speedMax = 3000;
    // A failed connect is retried with growing pauses instead of waiting on a message box.
    bool reconnectAutomatically = false;
    // Modbus/TCP Security (modbus-tls:// port names): CA file, our certificate, our key. Only
    // ever from the settings file; a relative path is taken from the program directory.
    TlsFiles tls;
    // Open Unit from Broker: the broker's URL (mqtt://HOST:PORT or mqtts://HOST:PORT), the CA
    // file that signs an mqtts broker (empty: the system CAs) and the file holding the user name
    // and password (empty: none). Only ever from the settings file, never from the command
    // line; a relative path is taken from the program directory.
    std::string brokerUrl;
    std::string brokerCaFile;
    std::string brokerCredentialsFile;
};

inline constexpr const char* kCommFileName = "kvx_comm_config.dat";
inline constexpr const char* kScalingFileName = "scaling_config.dat";
inline constexpr const char* kOptionsFileName = "kvx_settings.conf";
inline constexpr const char* kReconnectKey = "reconnect_automatically";
inline constexpr const char* kTlsCaFileKey = "tls_ca_file";
inline constexpr const char* kTlsCertFileKey = "tls_cert_file";
inline constexpr const char* kTlsKeyFileKey = "tls_key_file";
inline constexpr const char* kBrokerUrlKey = "broker_url";
inline constexpr const char* kBrokerCaFileKey = "broker_ca_file";
inline constexpr const char* kBrokerCredentialsKey = "broker_credentials_file";

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

// The settings file: lines "key = value"; blank lines and lines starting with '#' are
// comments. A key is letters, digits, '_', '.' and '-'; the value is the rest of the line
// without surrounding blanks. Lines are kept as they are, so writing one setting leaves every
// other line (comments, keys of other programs) untouched.
class KeyValueFile {
  public:
    struct Problem {
        int line = 0;  // 1-based
        std::string what;
    };
    // Lines that are not "key = value" are kept but not read, each with a problem.
    static KeyValueFile parse(const std::string& text, std::vector<Problem>* problems = nullptr);
    // The value of the last line with this key, if any.
    bool get(const std::string& key, std::string& value, int* line = nullptr) const;
    // Changes the value where the key was last given, or appends a line for it.
    void set(const std::string& key, const std::string& value);
    std::string text() const;

  private:
    struct Line {
        std::string text;
        std::string key;  // empty for comments and lines that are not settings
    };
    std::vector<Line> lines_;
};

// A yes/no value: yes, no, true, false, on, off, 1, 0 in any case.
bool parseSwitch(const std::string& value, bool& out);

// Reads the viewer's settings from the settings file. A missing file changes nothing and is
// not a problem; any other problem (a line that is not a setting, a value of the wrong kind,
// a file that cannot be read) leaves the setting as it was and is described in problems, one
// line each, naming the file and the line.
void readOptionsFile(const std::string& dir, ProgramSettings& settings,
                     std::vector<std::string>& problems);
// Sets one key in the settings file, keeping its other lines. False with the reason in why.
bool writeOption(const std::string& dir, const std::string& key, const std::string& value,
                 std::string& why);

// The text written to each file, for callers that show or compare it.
std::string commFileText(const ProgramSettings& settings);
std::string scalingFileText(const ProgramSettings& settings);

}  // namespace kvx
