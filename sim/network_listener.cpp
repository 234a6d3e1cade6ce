#include "sim/network_listener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace kvx::sim {

bool parseListenAddress(std::string_view text, ListenAddress& out, std::string& why) {
    ListenAddress a;
    std::string_view portText = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            why = "an IPv6 host is written [HOST]:PORT";
            return false;
        }
        a.host = std::string(text.substr(1, close - 1));
        portText = text.substr(close + 2);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        if (text.find(':') != colon) {
            why = "an IPv6 host is written [HOST]:PORT";
            return false;
        }
        a.host = std::string(text.substr(0, colon));
        portText = text.substr(colon + 1);
    }
    if (a.host.empty()) {
        why = "the host before ':' is empty";
        return false;
    }
    int port = -1;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || ec != std::errc{} || end != portText.data() + portText.size() ||
        port < 0 || port > 65535) {
        why = "the port is a number 0..65535 (0 picks a free one)";
        return false;
    }
    a.port = port;
    out = a;
    return true;
}

bool isLoopbackHost(std::string_view host) {
    if (host == "localhost" || host == "::1") return true;
    in_addr v4{};
    const std::string h(host);
    return ::inet_pton(AF_INET, h.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

int openListener(const ListenAddress& address, std::string& why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    if (const int rc = ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        why = "cannot resolve " + address.host + ": " + ::gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    int err = 0;
    for (const addrinfo* ai = found; ai != nullptr && fd < 0; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                      ai->ai_protocol);
        if (fd < 0) {
            err = errno;
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        // The backlog only holds a client until it is accepted and, while one is served,
        // turned away: a small one is enough.
        if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
            err = errno;
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) why = "cannot listen on " + address.host + ":" + port + ": " + std::strerror(err);
    return fd;
}

namespace {

std::string addressText(const sockaddr_storage& ss) {
    char host[INET6_ADDRSTRLEN] = {};
    char text[INET6_ADDRSTRLEN + 16] = {};
    if (ss.ss_family == AF_INET6) {
        const auto* s6 = reinterpret_cast<const sockaddr_in6*>(&ss);
        ::inet_ntop(AF_INET6, &s6->sin6_addr, host, sizeof host);
        std::snprintf(text, sizeof text, "[%s]:%u", host, ntohs(s6->sin6_port));
    } else {
        const auto* s4 = reinterpret_cast<const sockaddr_in*>(&ss);
        ::inet_ntop(AF_INET, &s4->sin_addr, host, sizeof host);
        std::snprintf(text, sizeof text, "%s:%u", host, ntohs(s4->sin_port));
    }
    return text;
}

}  // namespace

std::string boundAddressText(int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return {};
    return addressText(ss);
}

std::string peerAddressText(int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return "?";
    return addressText(ss);
}

int boundPort(int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return -1;
    if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
}

}  // namespace kvx::sim
