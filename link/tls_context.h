#pragma once
// TLS settings for a stream, built on OpenSSL: the client side of Modbus/TCP Security (TLS 1.2
// or newer, the server's certificate verified against a CA file and its host name, our own
// certificate and key presented) and the server side (certificate and key, and with a client CA
// a client certificate required). The files are read once, when the context is made.
#include <memory>
#include <string>

struct ssl_ctx_st;

namespace kvx {

// The files of the client side, from the settings file.
struct TlsFiles {
    std::string ca;    // the CA that signed the server's certificate (PEM)
    std::string cert;  // our certificate (PEM, may hold its chain)
    std::string key;   // our private key (PEM), readable by its owner alone
};

class TlsContext {
  public:
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // Null with `error` saying which file is missing, unreadable, not PEM, readable by others,
    // or whose key does not match its certificate.
    static std::unique_ptr<TlsContext> client(const TlsFiles& files, std::string& error);
    // An empty clientCa accepts any client without a certificate; otherwise every client must
    // present a certificate that CA signed.
    static std::unique_ptr<TlsContext> server(const std::string& certFile,
                                              const std::string& keyFile,
                                              const std::string& clientCaFile, std::string& error);

    bool isServer() const { return server_; }
    ssl_ctx_st* native() const { return ctx_; }

  private:
    TlsContext(ssl_ctx_st* ctx, bool server) : ctx_(ctx), server_(server) {}
    ssl_ctx_st* ctx_;
    bool server_;
};

// A private key must be a regular file that neither its group nor others can read or write.
// False with a message naming the file and its mode otherwise (or when it cannot be examined).
bool keyFileIsPrivate(const std::string& path, std::string& error);

// The oldest OpenSSL error queued on this thread as text, the queue cleared; `fallback` when
// there is none.
std::string takeTlsError(const std::string& fallback);

}  // namespace kvx
