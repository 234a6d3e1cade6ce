#include "link/port_name.h"

#include <filesystem>
#include <system_error>

#include "base/program_directory.h"
#include "base/text_escape.h"

namespace kvx {
namespace {

// The n of "COMn", or 0 when the name is not of that form. Leading zeros and numbers too large
// for a port index are not port names.
int comPortNumber(std::string_view name) {
    if (name.size() < 4 || name.size() > 9) return 0;
    for (int i = 0; i < 3; ++i) {
        const char c = static_cast<char>(name[i] & ~0x20);  // ASCII upper case
        if (c != "COM"[i]) return 0;
    }
    if (name[3] == '0') return 0;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

}  // namespace

std::string resolvePortName(std::string_view name, const std::string& programDir) {
    if (name.find('/') != std::string_view::npos) return std::string(name);
    const int number = comPortNumber(name);
    if (number == 0) return std::string(name);

    const std::string canonical = "COM" + std::to_string(number);
    if (!programDir.empty()) {
        const std::string path = joinDir(programDir, canonical);
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(path, error))) return path;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace kvx

namespace kvx {
namespace {

struct Scheme {
    std::string_view prefix;
    PortKind kind;
    int defaultPort;  // 0: the port must be given
};

constexpr Scheme kSchemes[] = {
    {"tcp://", PortKind::RtuOverTcp, 0},
    {"modbus-tcp://", PortKind::ModbusTcp, kModbusTcpPort},
    {"modbus-tls://", PortKind::ModbusTls, kModbusTlsPort},
};

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char a = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (a != prefix[i]) return false;
    }
    return true;
}

bool hostNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool ipv6Char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
           c == '.';
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    out += cli::printable(std::string(text));
    out += '"';
    return out;
}

}  // namespace

bool parsePortName(std::string_view name, PortAddress& address, std::string& error) {
    address = PortAddress{};
    const Scheme* scheme = nullptr;
    for (const Scheme& s : kSchemes) {
        if (startsWithNoCase(name, s.prefix)) scheme = &s;
    }
    if (scheme == nullptr) return true;  // a serial port name
    address.kind = scheme->kind;
    const std::string prefix(scheme->prefix);
    const std::string form = prefix + (scheme->defaultPort == 0 ? "HOST:PORT" : "HOST[:PORT]");
    std::string_view rest = name.substr(scheme->prefix.size());

    std::string_view host;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            error = prefix + ": the IPv6 address has no closing ']'";
            return false;
        }
        host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        bool valid = host.find(':') != std::string_view::npos;
        for (char c : host)
            valid = valid && ipv6Char(c);
        if (!valid) {
            error = prefix + ": " + quoted(host) + " is not an IPv6 address";
            return false;
        }
    } else {
        const std::size_t colon = rest.find(':');
        host = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon);
        if (rest.find(':', 1) != std::string_view::npos) {
            error = prefix + ": an IPv6 address goes in brackets, as in " + prefix + "[::1]" +
                    (scheme->defaultPort == 0 ? ":PORT" : "");
            return false;
        }
        for (char c : host) {
            if (!hostNameChar(c)) {
                error = prefix + ": the host " + quoted(host) + " has a character a host name " +
                        "cannot have";
                return false;
            }
        }
    }
    if (host.empty()) {
        error = prefix + " needs a host: " + form;
        return false;
    }
    address.host = std::string(host);

    if (rest.empty()) {
        if (scheme->defaultPort == 0) {
            error = prefix + " needs a port: " + form;
            return false;
        }
        address.port = scheme->defaultPort;
        return true;
    }
    if (rest.front() != ':') {
        error = prefix + ": unexpected " + quoted(rest) + " after the host";
        return false;
    }
    const std::string_view digits = rest.substr(1);
    if (digits.empty()) {
        error = prefix + ": the port after ':' is missing: " + form;
        return false;
    }
    long port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            error = prefix + ": the port " + quoted(digits) + " is not a number";
            return false;
        }
        if (port <= 65535) port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) {
        error = prefix + ": port " + std::string(digits) + " is out of range 1-65535";
        return false;
    }
    address.port = static_cast<int>(port);
    return true;
}

std::string hostAndPort(const PortAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace kvx
