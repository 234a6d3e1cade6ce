#pragma once
// Opening the stream a network port name asks for: name lookup and connect, and for Modbus/TCP
// Security the TLS handshake with the configured files, all within one time-out. Safe to run on
// a worker thread: it touches nothing but its arguments.
#include <memory>
#include <string>

#include "link/net_stream.h"
#include "link/port_name.h"
#include "link/tls_context.h"

namespace kvx {

// Lookup, connect and handshake together: long enough for a gateway over a cellular router,
// short enough that a dead address is given up before the user gives up on it.
constexpr int kConnectTimeoutMs = 5000;

// MBR_SUCCESS with an open stream, or MBR_OPEN_FAILED (MBR_BAD_ARGUMENT for a serial address)
// with `error` saying what failed, beginning with host:port.
int openNetworkStream(const PortAddress& address, const TlsFiles& tls, int timeoutMs,
                      std::unique_ptr<NetStream>& stream, std::string& error);

}  // namespace kvx
