#pragma once
// The port name of the communication file: a serial device, or a network address.
#include <string>
#include <string_view>

namespace kvx {

// A name containing '/' is a device path as it is. "COMn" (n >= 1, any letter case) is
// <programDir>/COMn when that entry exists (usually a symlink to a tty or to the simulator's
// pseudo-terminal; a dangling link still counts, so a vanished simulator is not replaced by a
// real port), else /dev/ttyS<n-1>. Anything else is returned unchanged, and opening it fails.
std::string resolvePortName(std::string_view name, const std::string& programDir);

// The transport a port name asks for. Names that begin with none of the network schemes are
// serial port names, resolved by resolvePortName as they always were.
//
//   tcp://HOST:PORT           RTU frames over a TCP stream (a serial device server in raw
//                             mode); the port is required
//   modbus-tcp://HOST[:PORT]  Modbus TCP (MBAP) to a gateway; port 502 unless given
//   modbus-tls://HOST[:PORT]  Modbus/TCP Security (MBAP over TLS); port 802 unless given
//
// HOST is a name, an IPv4 address or an IPv6 address in brackets ([::1]). The scheme is
// matched in any letter case.
enum class PortKind { Serial, RtuOverTcp, ModbusTcp, ModbusTls };

struct PortAddress {
    PortKind kind = PortKind::Serial;
    std::string host;  // without brackets
    int port = 0;
};

constexpr int kModbusTcpPort = 502;
constexpr int kModbusTlsPort = 802;

// False, with a reason naming the problem ("tcp:// needs a port: tcp://HOST:PORT", "port 99999
// is out of range 1-65535"), when the name begins with a network scheme but does not parse;
// a name with no such scheme is Serial and always parses.
bool parsePortName(std::string_view name, PortAddress& address, std::string& error);

// "host:port", with an IPv6 address in brackets: for messages.
std::string hostAndPort(const PortAddress& address);

}  // namespace kvx
