// A throw-away certificate authority and a server certificate, made with
// OpenSSL at run time: EC P-256 keys, the CA self-signed (CA:TRUE, may sign
// certificates), the server's signed by it for the names given.

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "sim/https_server.h"

namespace quillon::sim {

namespace {

constexpr long kHour = 60 * 60;
constexpr long kValidFor = 30 * 24 * kHour;

[[noreturn]] void Fail(const std::string& what) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    char text[256] = "no further detail";
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    throw std::runtime_error("test certificates: " + what + ": " + text);
}

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
    void operator()(X509* cert) const { X509_free(cert); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

Key NewKey() {
    Key key(EVP_EC_gen("P-256"));
    if (!key) Fail("no key");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (!extension) Fail("extension " + value);
    const int added = X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
    if (added != 1) Fail("extension " + value);
}

// A certificate of `key` named `commonName`, unsigned and without extensions.
Cert NewCert(EVP_PKEY* key, const std::string& commonName) {
    Cert cert(X509_new());
    if (!cert) Fail("no certificate");
    X509_set_version(cert.get(), 2);  // version 3, the one with extensions
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) Fail("no serial number");
    serial[0] &= 0x7f;  // a positive number
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    if (!number || !BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()))) {
        BN_free(number);
        Fail("no serial number");
    }
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -kHour);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), kValidFor);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    if (X509_set_pubkey(cert.get(), key) != 1) Fail("no public key");
    return cert;
}

// The PEM text `write` puts into a memory BIO.
template <class Write>
std::string PemText(Write write) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio || write(bio) != 1) {
        BIO_free(bio);
        Fail("no PEM");
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return text;
}

std::string CertPem(X509* cert) {
    return PemText([cert](BIO* bio) { return PEM_write_bio_X509(bio, cert); });
}

std::string KeyPem(EVP_PKEY* key) {
    return PemText([key](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    });
}

bool IsIpAddress(const std::string& name) {
    in_addr v4{};
    in6_addr v6{};
    return inet_pton(AF_INET, name.c_str(), &v4) == 1 ||
           inet_pton(AF_INET6, name.c_str(), &v6) == 1;
}

bool WriteFile(const std::string& path, const std::string& text, mode_t mode, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    // A file that was there before keeps its mode with O_CREAT: set it.
    bool written = ::fchmod(fd, mode) == 0;
    std::size_t at = 0;
    while (written && at < text.size()) {
        const ssize_t count = ::write(fd, text.data() + at, text.size() - at);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            written = false;
            break;
        }
        at += static_cast<std::size_t>(count);
    }
    if (!written) error = path + ": " + std::strerror(errno);
    if (::close(fd) != 0 && written) {
        error = path + ": " + std::strerror(errno);
        written = false;
    }
    return written;
}

}  // namespace

TestCertificates MakeTestCertificates(const std::vector<std::string>& names) {
    ERR_clear_error();
    const Key caKey = NewKey();
    const Cert ca = NewCert(caKey.get(), "Quillon test CA");
    X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
    AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
    if (X509_sign(ca.get(), caKey.get(), EVP_sha256()) <= 0) Fail("the CA not signed");

    const Key serverKey = NewKey();
    const Cert server = NewCert(serverKey.get(), names.empty() ? "localhost" : names.front());
    X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
    AddExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
    AddExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
    AddExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
    std::string altNames;
    for (const auto& name : names) {
        // A comma or a colon would start another entry of the extension's text.
        if (!IsIpAddress(name) && name.find_first_of(",:") != std::string::npos) {
            throw std::invalid_argument("test certificates: not a host name: " + name);
        }
        if (!altNames.empty()) altNames += ",";
        altNames += (IsIpAddress(name) ? "IP:" : "DNS:") + name;
    }
    if (!altNames.empty()) {
        AddExtension(server.get(), ca.get(), NID_subject_alt_name, altNames);
    }
    if (X509_sign(server.get(), caKey.get(), EVP_sha256()) <= 0) Fail("the server not signed");

    TestCertificates certificates;
    certificates.caCert = CertPem(ca.get());
    certificates.serverCert = CertPem(server.get());
    certificates.serverKey = KeyPem(serverKey.get());
    return certificates;
}

bool WriteTestCertificates(const TestCertificates& certificates, const std::string& dir,
                           std::string& error) {
    return WriteFile(dir + "/ca.pem", certificates.caCert, 0644, error) &&
           WriteFile(dir + "/server.pem", certificates.serverCert, 0644, error) &&
           WriteFile(dir + "/server.key", certificates.serverKey, 0600, error);
}

}  // namespace quillon::sim
