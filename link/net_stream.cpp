#include "link/net_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "link/serial_port.h"
#include "link/tls_context.h"

namespace kvx {
namespace {

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A write to a connection the peer has reset raises SIGPIPE, which ends the program by default.
// Plain writes pass MSG_NOSIGNAL, but OpenSSL writes with write(); so the signal is ignored once
// a network stream exists, unless the program has a handler of its own.
void ignoreSigpipe() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            std::signal(SIGPIPE, SIG_IGN);
        }
    });
}

void prepareSocket(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

std::string hostPort(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// getaddrinfo has no time-out of its own, so it runs on a thread of its own that is left to
// finish by itself when the caller stops waiting; the results are then freed by whichever side
// is last.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    int status = 0;
    addrinfo* result = nullptr;
    ~Lookup() {
        if (result != nullptr) freeaddrinfo(result);
    }
};

int lookUp(const std::string& host, int port, int timeoutMs, addrinfo*& out, std::string& error) {
    auto lookup = std::make_shared<Lookup>();
    const std::string service = std::to_string(port);
    std::thread([lookup, host, service] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        // No AI_ADDRCONFIG: on a machine whose only interface is loopback it would hide
        // 127.0.0.1 and ::1 themselves. An address family the machine lacks fails at connect,
        // and the next address is tried.
        addrinfo* result = nullptr;
        const int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
        const std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->status = status;
        lookup->result = result;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return lookup->finished; })) {
        lookup->abandoned = true;
        error = "looking up " + host + " took longer than " + std::to_string(timeoutMs) + " ms";
        return SP_TIMEOUT;
    }
    if (lookup->status != 0 || lookup->result == nullptr) {
        error = "cannot find host " + host + ": " + gai_strerror(lookup->status);
        return SP_NOT_FOUND;
    }
    out = lookup->result;
    lookup->result = nullptr;
    return SP_OK;
}

bool isIpLiteral(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address) == 1;
}

}  // namespace

NetStream::~NetStream() {
    close();
}

int NetStream::fail(int status, std::string reason) {
    error_ = std::move(reason);
    if (status == SP_CLOSED) broken_ = true;
    return status;
}

NetStream::Wait NetStream::waitFor(short events, std::int64_t deadlineMs) {
    for (;;) {
        const std::int64_t left = deadlineMs - nowMs();
        if (left <= 0) return Wait::TimedOut;
        pollfd p{fd_, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n > 0) return Wait::Ready;  // also on POLLHUP and POLLERR: the next call says what
        if (n == 0) return Wait::TimedOut;
        if (errno != EINTR) return Wait::Failed;
    }
}

int NetStream::connect(const std::string& host, int port, int timeoutMs) {
    close();
    error_.clear();
    ignoreSigpipe();
    const std::int64_t deadline = nowMs() + timeoutMs;
    addrinfo* addresses = nullptr;
    const int found = lookUp(host, port, timeoutMs, addresses, error_);
    if (found != SP_OK) return found;
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(addresses, freeaddrinfo);

    int status = SP_IO_FAILURE;
    for (const addrinfo* a = addresses; a != nullptr; a = a->ai_next) {
        fd_ = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd_ < 0) {
            error_ = std::string("cannot create a socket: ") + std::strerror(errno);
            continue;
        }
        int result = ::connect(fd_, a->ai_addr, a->ai_addrlen);
        int code = result == 0 ? 0 : errno;
        if (code == EINPROGRESS) {
            const Wait w = waitFor(POLLOUT, deadline);
            if (w == Wait::TimedOut) {
                ::close(fd_);
                fd_ = -1;
                error_ = "connecting to " + hostPort(host, port) + " took longer than " +
                         std::to_string(timeoutMs) + " ms";
                return SP_TIMEOUT;
            }
            socklen_t length = sizeof code;
            if (w == Wait::Failed || getsockopt(fd_, SOL_SOCKET, SO_ERROR, &code, &length) != 0) {
                code = errno;
            }
        }
        if (code == 0) {
            prepareSocket(fd_);
            broken_ = false;
            return SP_OK;
        }
        ::close(fd_);
        fd_ = -1;
        error_ = code == ECONNREFUSED
                     ? "the connection to " + hostPort(host, port) + " was refused"
                     : "cannot connect to " + hostPort(host, port) + ": " + std::strerror(code);
        status = SP_IO_FAILURE;
    }
    return status;
}

void NetStream::adopt(int fd) {
    close();
    ignoreSigpipe();
    fd_ = fd;
    broken_ = false;
    error_.clear();
    prepareSocket(fd_);
}

int NetStream::startTls(const TlsContext& context, const std::string& serverName, int timeoutMs) {
    if (fd_ < 0 || ssl_ != nullptr) return fail(SP_NOT_OPEN, "the stream is not open for TLS");
    const std::int64_t deadline = nowMs() + timeoutMs;
    ERR_clear_error();
    ssl_ = SSL_new(context.native());
    if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_) != 1) {
        const int status = fail(SP_IO_FAILURE, takeTlsError("cannot start TLS"));
        close();
        return status;
    }
    server_ = context.isServer();
    heardFromPeer_ = false;
    if (!server_) {
        if (isIpLiteral(serverName)) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), serverName.c_str());
        } else {
            SSL_set_tlsext_host_name(ssl_, serverName.c_str());
            SSL_set1_host(ssl_, serverName.c_str());
        }
    }
    for (;;) {
        const int r = context.isServer() ? SSL_accept(ssl_) : SSL_connect(ssl_);
        if (r == 1) return SP_OK;
        const int why = SSL_get_error(ssl_, r);
        short events = 0;
        if (why == SSL_ERROR_WANT_READ) events = POLLIN;
        if (why == SSL_ERROR_WANT_WRITE) events = POLLOUT;
        if (events != 0) {
            const Wait w = waitFor(events, deadline);
            if (w == Wait::Ready) continue;
            broken_ = true;  // no close_notify into a handshake that never finished
            const int status =
                w == Wait::TimedOut
                    ? fail(SP_TIMEOUT, "the TLS handshake did not finish within " +
                                           std::to_string(timeoutMs) + " ms")
                    : fail(SP_IO_FAILURE, std::string("poll failed: ") + std::strerror(errno));
            close();
            return status;
        }
        const long verify = SSL_get_verify_result(ssl_);
        std::string reason;
        if (verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH) {
            reason = "certificate verify failed: the certificate is not for " + serverName;
            ERR_clear_error();
        } else if (verify != X509_V_OK) {
            reason =
                std::string("certificate verify failed: ") + X509_verify_cert_error_string(verify);
            ERR_clear_error();
        } else if (why == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
            reason = errno != 0 ? std::string("the connection failed during the TLS handshake: ") +
                                      std::strerror(errno)
                                : "the peer closed the connection during the TLS handshake";
        } else {
            reason = takeTlsError("the TLS handshake failed");
        }
        const int status = fail(SP_IO_FAILURE, "TLS: " + reason);
        broken_ = true;
        close();
        return status;
    }
}

void NetStream::close() {
    if (ssl_ != nullptr) {
        // One close_notify, not waited for: the socket is non-blocking and closes next.
        if (!broken_) SSL_shutdown(ssl_);
        SSL_free(ssl_);
        ssl_ = nullptr;
        ERR_clear_error();
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    broken_ = false;
}

int NetStream::step(bool reading, std::uint8_t* buffer, int count, short& wantEvents, int& status) {
    wantEvents = 0;
    if (ssl_ == nullptr) {
        const ssize_t n = reading
                              ? ::recv(fd_, buffer, static_cast<std::size_t>(count), 0)
                              : ::send(fd_, buffer, static_cast<std::size_t>(count), MSG_NOSIGNAL);
        if (n > 0) return static_cast<int>(n);
        if (n == 0 && reading) {
            status = fail(SP_CLOSED, "the peer closed the connection");
            return -1;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            wantEvents = reading ? POLLIN : POLLOUT;
            return 0;
        }
        status = fail(SP_CLOSED, std::string("the connection failed: ") + std::strerror(errno));
        return -1;
    }
    ERR_clear_error();
    errno = 0;
    const int n = reading ? SSL_read(ssl_, buffer, count) : SSL_write(ssl_, buffer, count);
    if (n > 0) {
        if (reading) heardFromPeer_ = true;
        return n;
    }
    std::string reason;
    switch (SSL_get_error(ssl_, n)) {
        case SSL_ERROR_WANT_READ:
            wantEvents = POLLIN;
            return 0;
        case SSL_ERROR_WANT_WRITE:
            wantEvents = POLLOUT;
            return 0;
        case SSL_ERROR_ZERO_RETURN:
            reason = "the peer closed the TLS connection";
            break;
        case SSL_ERROR_SYSCALL:
            if (ERR_peek_error() == 0) {
                reason = errno != 0 ? std::string("the connection failed: ") + std::strerror(errno)
                                    : "the peer closed the connection";
                break;
            }
            [[fallthrough]];
        default:
            // A TLS alert or a damaged record: the session cannot go on.
            reason = "TLS: " + takeTlsError("the TLS connection failed");
            break;
    }
    // Under TLS 1.3 a server judges our certificate after our side of the handshake is done,
    // so its refusal (an alert, or a reset that overtakes it) is the first thing read.
    if (!heardFromPeer_ && !server_) {
        if (reason.rfind("TLS: ", 0) == 0) reason.erase(0, 5);
        reason =
            "TLS: the server ended the session before its first reply (does it accept our "
            "certificate?): " +
            reason;
    }
    status = fail(SP_CLOSED, reason);
    return -1;
}

int NetStream::read(std::uint8_t* buffer, int count, int timeoutMs) {
    lastRead_ = 0;
    if (!isOpen()) return SP_NOT_OPEN;
    const std::int64_t deadline = nowMs() + timeoutMs;
    int have = 0;
    while (have < count) {
        short events = 0;
        int status = SP_OK;
        const int n = step(true, buffer + have, count - have, events, status);
        if (n < 0) return status;
        have += n;
        lastRead_ = have;
        if (n > 0) continue;
        const Wait w = waitFor(events, deadline);
        if (w == Wait::TimedOut) return SP_TIMEOUT;
        if (w == Wait::Failed) return fail(SP_IO_FAILURE, std::strerror(errno));
    }
    return SP_OK;
}

int NetStream::readSome(std::uint8_t* buffer, int capacity, int timeoutMs, int& got) {
    got = 0;
    if (!isOpen()) return SP_NOT_OPEN;
    const std::int64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        short events = 0;
        int status = SP_OK;
        const int n = step(true, buffer, capacity, events, status);
        if (n < 0) return status;
        if (n > 0) {
            got = n;
            return SP_OK;
        }
        const Wait w = waitFor(events, deadline);
        if (w == Wait::TimedOut) return SP_TIMEOUT;
        if (w == Wait::Failed) return fail(SP_IO_FAILURE, std::strerror(errno));
    }
}

int NetStream::write(const std::uint8_t* buffer, int count, int timeoutMs) {
    if (!isOpen()) return SP_NOT_OPEN;
    const std::int64_t deadline = nowMs() + timeoutMs;
    int done = 0;
    while (done < count) {
        short events = 0;
        int status = SP_OK;
        // Neither send nor SSL_write changes the bytes.
        const int n =
            step(false, const_cast<std::uint8_t*>(buffer) + done, count - done, events, status);
        if (n < 0) return status;
        done += n;
        if (n > 0) continue;
        const Wait w = waitFor(events, deadline);
        if (w == Wait::TimedOut) return SP_TIMEOUT;
        if (w == Wait::Failed) return fail(SP_IO_FAILURE, std::strerror(errno));
    }
    return SP_OK;
}

int NetStream::purge() {
    if (!isOpen()) return SP_NOT_OPEN;
    std::uint8_t scratch[512];
    for (;;) {
        short events = 0;
        int status = SP_OK;
        const int n = step(true, scratch, sizeof scratch, events, status);
        if (n < 0) return status;
        if (n == 0) return SP_OK;
    }
}

int NetStream::drain() {
    return isOpen() ? SP_OK : SP_NOT_OPEN;
}

int NetStream::raiseRts() {
    return isOpen() ? SP_OK : SP_NOT_OPEN;
}

int NetStream::lowerRts() {
    return isOpen() ? SP_OK : SP_NOT_OPEN;
}

}  // namespace kvx
