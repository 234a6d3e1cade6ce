#include "link/network_open.h"

#include <algorithm>
#include <chrono>

#include "link/result_codes.h"
#include "link/serial_port.h"

namespace kvx {

int openNetworkStream(const PortAddress& address, const TlsFiles& tls, int timeoutMs,
                      std::unique_ptr<NetStream>& stream, std::string& error) {
    stream.reset();
    error.clear();
    if (address.kind == PortKind::Serial) return MBR_BAD_ARGUMENT;
    const std::string where = hostAndPort(address);
    // The files first: a missing or unsafe key is found without touching the network.
    std::unique_ptr<TlsContext> context;
    if (address.kind == PortKind::ModbusTls) {
        std::string why;
        context = TlsContext::client(tls, why);
        if (!context) {
            error = where +
                    ": Modbus/TCP Security needs the CA file, certificate and key of the "
                    "settings (tls_ca_file, tls_cert_file, tls_key_file): " +
                    why;
            return MBR_OPEN_FAILED;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    auto candidate = std::make_unique<NetStream>();
    if (candidate->connect(address.host, address.port, timeoutMs) != SP_OK) {
        error = where + ": " + candidate->lastError();
        return MBR_OPEN_FAILED;
    }
    if (context) {
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
        const int left = std::max(1, timeoutMs - static_cast<int>(spent));
        if (candidate->startTls(*context, address.host, left) != SP_OK) {
            error = where + ": " + candidate->lastError();
            return MBR_OPEN_FAILED;
        }
    }
    stream = std::move(candidate);
    return MBR_SUCCESS;
}

}  // namespace kvx
