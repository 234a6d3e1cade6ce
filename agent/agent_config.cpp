#include "agent/agent_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>

#include "app/core/program_settings.h"
#include "base/command_line.h"
#include "fleet/mqtt_client.h"
#include "fleet/topics.h"
#include "link/port_name.h"
#include "model/typed_text.h"

namespace kvx::agent {

const char* const kAgentConfigKeys[] = {
    "port",          "slave",        "site",      "broker",    "credentials_file", "ca_file",
    "log_folder",    "state_folder", "speed_min", "speed_max", "reply_timeout_ms", "tls_ca_file",
    "tls_cert_file", "tls_key_file", nullptr,
};

namespace {

constexpr off_t kMaxConfigSize = 64 * 1024;

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool isKnownKey(const std::string& key) {
    for (const char* const* k = kAgentConfigKeys; *k; ++k)
        if (key == *k) return true;
    return false;
}

}  // namespace

bool isValidSiteName(const std::string& site) {
    return fleet::checkSite(site).empty();
}

bool parseAgentConfig(const std::string& text, const std::string& path, AgentConfig& out,
                      std::vector<std::string>& problems) {
    const std::size_t before = problems.size();
    std::vector<KeyValueFile::Problem> found;
    const KeyValueFile file = KeyValueFile::parse(text, &found);
    auto at = [&](int line) { return path + " line " + std::to_string(line) + ": "; };
    for (const auto& p : found)
        problems.push_back(at(p.line) + p.what);

    // Unknown and repeated keys: a typo must not leave a setting at its default unnoticed.
    std::set<std::string> seen;
    int number = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = std::string(trimmedText(text.substr(pos, end - pos)));
        pos = end + 1;
        ++number;
        const std::size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
        const std::string key = std::string(trimmedText(line.substr(0, eq)));
        if (!isKnownKey(key))
            problems.push_back(at(number) + "\"" + cli::printable(key) +
                               "\" is not a setting of kvx-agent");
        else if (!seen.insert(key).second)
            problems.push_back(at(number) + key + " is given twice");
    }

    const std::string base = folderOf(path);
    auto pathValue = [&](const std::string& v) { return v.front() == '/' ? v : base + v; };
    std::string value;
    int line = 0;
    auto bad = [&](const std::string& key, const std::string& why) {
        problems.push_back(at(line) + key + " \"" + cli::printable(value) + "\" " + why);
    };
    auto need = [&](const char* key) {
        if (file.get(key, value, &line) && !value.empty()) return true;
        if (!seen.count(key))
            problems.push_back(path + ": " + key + " is missing");
        else
            bad(key, "is empty");
        return false;
    };

    if (need("port")) {
        PortAddress address;
        std::string why;
        if (!parsePortAddress(value, address, why))
            bad("port", "does not parse: " + why);
        else
            out.port = value;
    }
    if (file.get("slave", value, &line)) {
        if (const Parsed<long> v = parseWholeNumber(value, 1, 247))
            out.slave = static_cast<int>(*v);
        else
            bad("slave", "is not " + v.expected);
    }
    if (need("site")) {
        if (isValidSiteName(value))
            out.site = value;
        else
            bad("site", "is not 1 to 64 letters, digits, '_' or '-'");
    }
    if (need("broker")) {
        const fleet::Decoded<fleet::BrokerAddress> address = fleet::parseBrokerUrl(value);
        if (address)
            out.broker = value;
        else
            bad("broker", "is refused: " + address.reason);
    }
    if (need("credentials_file")) out.credentialsFile = pathValue(value);
    if (file.get("ca_file", value, &line) && !value.empty()) out.caFile = pathValue(value);
    if (file.get("log_folder", value, &line)) {
        if (value.empty())
            bad("log_folder", "is empty");
        else
            out.logFolder = pathValue(value);
    }
    if (file.get("state_folder", value, &line)) {
        if (value.empty())
            bad("state_folder", "is empty");
        else
            out.stateFolder = pathValue(value);
    }
    for (auto [key, target] : {std::pair<const char*, std::int16_t*>{"speed_min", &out.speedMin},
                               {"speed_max", &out.speedMax}}) {
        if (!file.get(key, value, &line)) continue;
        if (const Parsed<std::int16_t> v = parseRegisterWord(value))
            *target = *v;
        else
            bad(key, "is not " + v.expected);
    }
    if (file.get("reply_timeout_ms", value, &line)) {
        if (const Parsed<long> v = parseWholeNumber(value, 100, 60000))
            out.replyTimeoutMs = static_cast<int>(*v);
        else
            bad("reply_timeout_ms", "is not " + v.expected);
    }
    for (auto [key, target] :
         {std::pair<const char*, std::string*>{"tls_ca_file", &out.modbusTls.ca},
          {"tls_cert_file", &out.modbusTls.cert},
          {"tls_key_file", &out.modbusTls.key}}) {
        if (file.get(key, value, &line) && !value.empty()) *target = pathValue(value);
    }
    return problems.size() == before;
}

}  // namespace kvx::agent

namespace kvx::agent {

bool readAgentConfig(const std::string& path, AgentConfig& out,
                     std::vector<std::string>& problems) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        problems.push_back(path + ": " + std::strerror(errno));
        return false;
    }
    struct stat st {};
    std::string text;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxConfigSize;
    char buf[4096];
    while (ok) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > static_cast<std::size_t>(kMaxConfigSize)) ok = false;
    }
    ::close(fd);
    if (!ok) {
        problems.push_back(path + ": cannot be read (not a regular file of at most 64 kB)");
        return false;
    }
    return parseAgentConfig(text, path, out, problems);
}

}  // namespace kvx::agent
