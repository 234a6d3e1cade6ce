#include "link/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdio>

namespace kvx {
namespace {

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

bool readableFile(const std::string& what, const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "no " + what + " is configured";
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "the " + what + " " + path + " does not exist or cannot be reached";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "the " + what + " " + path + " is not a regular file";
        return false;
    }
    return true;
}

SSL_CTX* newContext(bool server, std::string& error) {
    SSL_CTX* ctx = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
    if (ctx == nullptr) {
        error = takeTlsError("cannot create a TLS context");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // Each connection is one session from start to end; tickets would only be extra records.
    SSL_CTX_set_num_tickets(ctx, 0);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return ctx;
}

bool loadOwnCertificate(SSL_CTX* ctx, const std::string& certFile, const std::string& keyFile,
                        std::string& error) {
    if (!readableFile("certificate file", certFile, error)) return false;
    if (!readableFile("key file", keyFile, error)) return false;
    if (!keyFileIsPrivate(keyFile, error)) return false;
    if (SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1) {
        error = "cannot load the certificate file " + certFile + ": " +
                takeTlsError("not a PEM certificate");
        return false;
    }
    const bool loaded = SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) == 1;
    if (!loaded && ERR_GET_REASON(ERR_peek_last_error()) != X509_R_KEY_VALUES_MISMATCH) {
        error = "cannot load the key file " + keyFile + ": " + takeTlsError("not a PEM key");
        return false;
    }
    if (!loaded || SSL_CTX_check_private_key(ctx) != 1) {
        error = "the key file " + keyFile + " does not match the certificate " + certFile;
        ERR_clear_error();
        return false;
    }
    return true;
}

bool loadCa(SSL_CTX* ctx, const std::string& what, const std::string& caFile, std::string& error) {
    if (!readableFile(what, caFile, error)) return false;
    if (SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) != 1) {
        error = "cannot load the " + what + " " + caFile + ": " +
                takeTlsError("no PEM certificate in it");
        return false;
    }
    return true;
}

}  // namespace

std::string takeTlsError(const std::string& fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return fallback;
    const char* reason = ERR_reason_error_string(code);
    if (reason != nullptr) return reason;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool keyFileIsPrivate(const std::string& path, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "the key file " + path + " does not exist or cannot be reached";
        return false;
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = "the key file " + path + " can be read or changed by other users (mode " +
                modeText(st.st_mode) + "); make it private with chmod 600 " + path;
        return false;
    }
    return true;
}

TlsContext::~TlsContext() {
    SSL_CTX_free(ctx_);
}

std::unique_ptr<TlsContext> TlsContext::client(const TlsFiles& files, std::string& error) {
    SSL_CTX* ctx = newContext(false, error);
    if (ctx == nullptr) return nullptr;
    std::unique_ptr<TlsContext> context(new TlsContext(ctx, false));
    if (!loadCa(ctx, "CA file", files.ca, error)) return nullptr;
    if (!loadOwnCertificate(ctx, files.cert, files.key, error)) return nullptr;
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    return context;
}

std::unique_ptr<TlsContext> TlsContext::server(const std::string& certFile,
                                               const std::string& keyFile,
                                               const std::string& clientCaFile,
                                               std::string& error) {
    SSL_CTX* ctx = newContext(true, error);
    if (ctx == nullptr) return nullptr;
    std::unique_ptr<TlsContext> context(new TlsContext(ctx, true));
    if (!loadOwnCertificate(ctx, certFile, keyFile, error)) return nullptr;
    if (!clientCaFile.empty()) {
        if (!loadCa(ctx, "client CA file", clientCaFile, error)) return nullptr;
        // Tells the client which CA to choose its certificate by.
        if (STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(clientCaFile.c_str())) {
            SSL_CTX_set_client_CA_list(ctx, names);
        }
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    return context;
}

}  // namespace kvx
