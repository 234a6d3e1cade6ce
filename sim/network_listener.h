#pragma once
// The simulator's listening socket: where it listens ([HOST:]PORT, loopback unless a host is
// given) and the socket itself. The serving is SimServer's (sim_server.h).
#include <string>
#include <string_view>

namespace kvx::sim {

// How the simulator's requests and replies travel over a TCP stream.
enum class Framing {
    rtu,   // RTU frames with their CRC, as a serial device server in raw mode carries them
    mbap,  // MBAP header, no CRC, as a Modbus TCP gateway speaks
};

struct ListenAddress {
    std::string host = "127.0.0.1";
    int port = 0;  // 0: the system picks a free port
};

// "PORT", "HOST:PORT" or "[IPv6]:PORT", PORT 0..65535. False with a one-line reason.
bool parseListenAddress(std::string_view text, ListenAddress& out, std::string& why);

// True when host names the loopback interface alone (127.x.x.x, ::1, localhost).
bool isLoopbackHost(std::string_view host);

// A non-blocking, close-on-exec listening TCP socket on address; -1 with a reason.
int openListener(const ListenAddress& address, std::string& why);

// "HOST:PORT" (brackets round an IPv6 host) of a bound socket, and its port; -1 on failure.
std::string boundAddressText(int fd);
int boundPort(int fd);
// "HOST:PORT" of a connected socket's peer.
std::string peerAddressText(int fd);

}  // namespace kvx::sim
