#include "tests/link/test_pki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace kvx::test {
namespace {

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test PKI: ") + what);
}

EVP_PKEY* readKey(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    check(f != nullptr, "cannot open a key");
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    check(key != nullptr, "cannot read a key");
    return key;
}

X509* readCert(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    check(f != nullptr, "cannot open a certificate");
    X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    check(cert != nullptr, "cannot read a certificate");
    return cert;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    check(ext != nullptr, "bad extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

CertFiles write(const std::string& dir, const std::string& stem, X509* cert, EVP_PKEY* key) {
    CertFiles files{dir + "/" + stem + ".crt", dir + "/" + stem + ".key"};
    FILE* c = std::fopen(files.cert.c_str(), "w");
    check(c != nullptr && PEM_write_X509(c, cert) == 1, "cannot write a certificate");
    std::fclose(c);
    FILE* k = std::fopen(files.key.c_str(), "w");
    check(k != nullptr, "cannot write a key");
    ::chmod(files.key.c_str(), 0600);
    check(PEM_write_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "cannot write a key");
    std::fclose(k);
    return files;
}

CertFiles make(const std::string& dir, const std::string& stem, const CertFiles* ca,
               const std::string& commonName, const std::vector<std::string>& altNames,
               long fromSeconds, long toSeconds) {
    static long serial = 1;
    EVP_PKEY* key = EVP_EC_gen("P-256");
    check(key != nullptr, "cannot make a key");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), ++serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), fromSeconds);
    X509_gmtime_adj(X509_getm_notAfter(cert), toSeconds);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509* issuer = cert;
    EVP_PKEY* signer = key;
    if (ca != nullptr) {
        issuer = readCert(ca->cert);
        signer = readKey(ca->key);
    }
    X509_set_issuer_name(cert, X509_get_subject_name(issuer));
    if (ca == nullptr) {
        addExtension(cert, issuer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert, issuer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert, issuer, NID_basic_constraints, "CA:FALSE");
        std::string sans;
        for (const std::string& n : altNames)
            sans += (sans.empty() ? "" : ",") + n;
        if (!sans.empty()) addExtension(cert, issuer, NID_subject_alt_name, sans);
    }
    addExtension(cert, issuer, NID_subject_key_identifier, "hash");
    check(X509_sign(cert, signer, EVP_sha256()) > 0, "cannot sign");
    CertFiles files = write(dir, stem, cert, key);
    if (ca != nullptr) {
        X509_free(issuer);
        EVP_PKEY_free(signer);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return files;
}

}  // namespace

TestPki::TestPki(std::string name) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("kvx-pki-" + name + "-XXXXXX")).string();
    check(::mkdtemp(pattern.data()) != nullptr, "cannot make a directory");
    dir_ = pattern;
}

TestPki::~TestPki() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

CertFiles TestPki::makeCa(const std::string& fileStem, const std::string& commonName) {
    return make(dir_, fileStem, nullptr, commonName, {}, -3600, 86400);
}

CertFiles TestPki::makeCert(const std::string& fileStem, const CertFiles& ca,
                            const std::string& commonName, const std::vector<std::string>& altNames,
                            long fromSeconds, long toSeconds) {
    return make(dir_, fileStem, &ca, commonName, altNames, fromSeconds, toSeconds);
}

}  // namespace kvx::test
