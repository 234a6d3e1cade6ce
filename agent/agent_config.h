#pragma once
// kvx-agent's configuration file: "key = value" lines as in the viewer's settings file. Every
// key is known and every value checked at start; a bad one stops the agent with its line named,
// since nobody is there to notice a setting quietly left at its default.
#include <cstdint>
#include <string>
#include <vector>

#include "link/tls_context.h"

namespace kvx::agent {

struct AgentConfig {
    std::string port;  // a port name as in the communication file: device, COMn or network
    int slave = 1;
    std::string site;             // one topic level: [A-Za-z0-9_-]{1,64}
    std::string broker;           // mqtt://HOST[:PORT] or mqtts://HOST[:PORT]
    std::string credentialsFile;  // user name and password for the broker
    std::string caFile;           // empty: the system's CAs (mqtts)
    std::string logFolder = "/var/lib/kvx-agent/logs";
    std::string stateFolder = "/var/lib/kvx-agent";
    std::int16_t speedMin = 0;  // the engine-speed scale, as the scaling file holds it
    std::int16_t speedMax = 3000;
    int replyTimeoutMs = 3000;
    // modbus-tls:// ports only, as in the viewer's settings file.
    TlsFiles modbusTls;
};

// Keys in the order the sample file lists them.
extern const char* const kAgentConfigKeys[];

// Parses the file's text; problems get one line each, "<path> line N: what". Relative paths
// are taken from the configuration file's folder.
bool parseAgentConfig(const std::string& text, const std::string& path, AgentConfig& out,
                      std::vector<std::string>& problems);
// Reads and parses the file (a regular file of at most 64 kB).
bool readAgentConfig(const std::string& path, AgentConfig& out, std::vector<std::string>& problems);

// A site name fits one topic level and the layout's rule.
bool isValidSiteName(const std::string& site);

}  // namespace kvx::agent
