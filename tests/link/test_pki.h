#pragma once
// Keys and certificates for the TLS tests, made at test time in a temporary directory with
// OpenSSL's API: a CA, certificates it signs for given host names and IP addresses, with a
// validity window relative to now (so an expired one needs no clock tricks). Keys are P-256
// (quick to make) and written with mode 0600.
#include <string>
#include <vector>

namespace kvx::test {

struct CertFiles {
    std::string cert;
    std::string key;
};

class TestPki {
  public:
    explicit TestPki(std::string name);  // a fresh directory under the temp directory
    ~TestPki();
    TestPki(const TestPki&) = delete;
    TestPki& operator=(const TestPki&) = delete;

    const std::string& dir() const { return dir_; }
    // A self-signed CA named commonName.
    CertFiles makeCa(const std::string& fileStem, const std::string& commonName);
    // A certificate signed by ca for the names ("DNS:localhost", "IP:127.0.0.1"), valid from
    // now + fromSeconds to now + toSeconds.
    CertFiles makeCert(const std::string& fileStem, const CertFiles& ca,
                       const std::string& commonName, const std::vector<std::string>& altNames,
                       long fromSeconds = -3600, long toSeconds = 86400);

  private:
    std::string dir_;
};

}  // namespace kvx::test
