#include "web/tls_identity.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>

namespace web {

namespace {

constexpr std::size_t kMostPemBytes = 64 * 1024;
constexpr const char* kCertificateName = "certificate.pem";
constexpr const char* kKeyName = "key.pem";
constexpr std::time_t kValidSeconds = std::time_t{10} * 365 * 24 * 3600;

// The file's bytes, refused before reading when it is bigger than a PEM file of ours can be.
bool ReadPemFile(const std::string& path, const char* what, std::string* text, std::string* error) {
    std::error_code failed;
    const auto size = std::filesystem::file_size(path, failed);
    if (failed) {
        *error = std::string("cannot read the ") + what + " " + path + ": " + failed.message();
        return false;
    }
    if (size > kMostPemBytes) {
        *error = std::string("the ") + what + " " + path + " is too big for a PEM file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    text->assign(static_cast<std::size_t>(size), '\0');
    if (!in.read(text->data(), static_cast<std::streamsize>(size))) {
        *error = std::string("cannot read the ") + what + " " + path;
        return false;
    }
    return true;
}

gnutls_datum_t Datum(const std::string& text) {
    return {reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
            static_cast<unsigned>(text.size())};
}

struct CertificateDeleter {
    void operator()(gnutls_x509_crt_int* c) const { gnutls_x509_crt_deinit(c); }
};
struct KeyDeleter {
    void operator()(gnutls_x509_privkey_int* k) const { gnutls_x509_privkey_deinit(k); }
};
using Certificate = std::unique_ptr<gnutls_x509_crt_int, CertificateDeleter>;
using PrivateKey = std::unique_ptr<gnutls_x509_privkey_int, KeyDeleter>;

std::string Fingerprint(gnutls_x509_crt_t certificate) {
    std::array<unsigned char, 32> digest{};
    std::size_t size = digest.size();
    if (gnutls_x509_crt_get_fingerprint(certificate, GNUTLS_DIG_SHA256, digest.data(), &size) < 0) return {};
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : ":%02X", digest[i]);
        text += hex;
    }
    return text;
}

// Whether key belongs to certificate and both parse, as the TLS layer will use them.
bool CheckPair(const TlsIdentity& identity, const std::string& where, std::string* error) {
    gnutls_certificate_credentials_t credentials = nullptr;
    if (gnutls_certificate_allocate_credentials(&credentials) < 0) {
        *error = "cannot check the TLS files: GnuTLS is out of memory";
        return false;
    }
    gnutls_datum_t certificate = Datum(identity.certificate_pem);
    gnutls_datum_t key = Datum(identity.key_pem);
    const int status = gnutls_certificate_set_x509_key_mem2(credentials, &certificate, &key,
                                                            GNUTLS_X509_FMT_PEM, nullptr, 0);
    gnutls_certificate_free_credentials(credentials);
    if (status < 0) {
        *error = "the TLS certificate and key " + where + " do not make a pair: " + gnutls_strerror(status);
        return false;
    }
    return true;
}

bool ParseIPv4(const std::string& text, std::array<unsigned char, 4>* address) {
    unsigned parts[4];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        if (parts[i] > 255) return false;
        (*address)[i] = static_cast<unsigned char>(parts[i]);
    }
    return true;
}

bool AddNames(gnutls_x509_crt_t certificate, const std::vector<std::string>& names) {
    std::vector<std::string> all = {"localhost", "127.0.0.1"};
    for (const std::string& name : names) {
        if (std::find(all.begin(), all.end(), name) == all.end()) all.push_back(name);
    }
    for (const std::string& name : all) {
        std::array<unsigned char, 4> ip{};
        const int status =
            ParseIPv4(name, &ip)
                ? gnutls_x509_crt_set_subject_alt_name(certificate, GNUTLS_SAN_IPADDRESS, ip.data(),
                                                       ip.size(), GNUTLS_FSAN_APPEND)
                : gnutls_x509_crt_set_subject_alt_name(certificate, GNUTLS_SAN_DNSNAME, name.data(),
                                                       static_cast<unsigned>(name.size()),
                                                       GNUTLS_FSAN_APPEND);
        if (status < 0) return false;
    }
    return true;
}

std::string ExportPem(int (*export_fn)(void*, gnutls_x509_crt_fmt_t, gnutls_datum_t*), void* object) {
    gnutls_datum_t out{};
    if (export_fn(object, GNUTLS_X509_FMT_PEM, &out) < 0) return {};
    std::string text(reinterpret_cast<const char*>(out.data), out.size);
    gnutls_free(out.data);
    return text;
}

bool MakeSelfSigned(const std::vector<std::string>& names, TlsIdentity* identity, std::string* error) {
    gnutls_x509_privkey_t raw_key = nullptr;
    gnutls_x509_crt_t raw_certificate = nullptr;
    if (gnutls_x509_privkey_init(&raw_key) < 0) return false;
    PrivateKey key(raw_key);
    if (gnutls_x509_crt_init(&raw_certificate) < 0) return false;
    Certificate certificate(raw_certificate);
    std::array<unsigned char, 16> serial{};
    const std::time_t now = std::time(nullptr);
    static const char kCommonName[] = "Tessaly";
    serial[0] = 0x01;  // a positive serial number whatever the random bytes are
    const bool made =
        gnutls_x509_privkey_generate(key.get(), GNUTLS_PK_ECDSA,
                                     GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0) >= 0 &&
        gnutls_rnd(GNUTLS_RND_NONCE, serial.data() + 1, serial.size() - 1) >= 0 &&
        gnutls_x509_crt_set_version(certificate.get(), 3) >= 0 &&
        gnutls_x509_crt_set_serial(certificate.get(), serial.data(), serial.size()) >= 0 &&
        gnutls_x509_crt_set_activation_time(certificate.get(), now - 24 * 3600) >= 0 &&
        gnutls_x509_crt_set_expiration_time(certificate.get(), now + kValidSeconds) >= 0 &&
        gnutls_x509_crt_set_dn_by_oid(certificate.get(), GNUTLS_OID_X520_COMMON_NAME, 0, kCommonName,
                                      sizeof kCommonName - 1) >= 0 &&
        gnutls_x509_crt_set_key(certificate.get(), key.get()) >= 0 &&
        gnutls_x509_crt_set_basic_constraints(certificate.get(), 0, -1) >= 0 &&
        gnutls_x509_crt_set_key_usage(certificate.get(), GNUTLS_KEY_DIGITAL_SIGNATURE) >= 0 &&
        gnutls_x509_crt_set_key_purpose_oid(certificate.get(), GNUTLS_KP_TLS_WWW_SERVER, 0) >= 0 &&
        AddNames(certificate.get(), names) &&
        gnutls_x509_crt_sign2(certificate.get(), certificate.get(), key.get(), GNUTLS_DIG_SHA256, 0) >= 0;
    if (!made) {
        *error = "GnuTLS could not make a self-signed certificate";
        return false;
    }
    identity->certificate_pem = ExportPem(
        [](void* c, gnutls_x509_crt_fmt_t f, gnutls_datum_t* d) {
            return gnutls_x509_crt_export2(static_cast<gnutls_x509_crt_t>(c), f, d);
        },
        certificate.get());
    identity->key_pem = ExportPem(
        [](void* k, gnutls_x509_crt_fmt_t f, gnutls_datum_t* d) {
            return gnutls_x509_privkey_export2(static_cast<gnutls_x509_privkey_t>(k), f, d);
        },
        key.get());
    identity->fingerprint = Fingerprint(certificate.get());
    return true;
}

bool WriteFile(const std::filesystem::path& path, const std::string& text, bool private_file,
               std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::error_code failed;
    if (private_file) {
        std::filesystem::permissions(
            path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, failed);
    }
    if (!out || failed || !out.write(text.data(), static_cast<std::streamsize>(text.size())) ||
        !out.flush()) {
        *error = "cannot write " + path.string();
        return false;
    }
    return true;
}

}  // namespace

bool LoadTlsIdentity(const std::string& certificate_file, const std::string& key_file, TlsIdentity* identity,
                     std::string* error) {
    TlsIdentity loaded;
    if (!ReadPemFile(certificate_file, "TLS certificate", &loaded.certificate_pem, error) ||
        !ReadPemFile(key_file, "TLS key", &loaded.key_pem, error) ||
        !CheckPair(loaded, certificate_file + " and " + key_file, error)) {
        return false;
    }
    gnutls_x509_crt_t raw = nullptr;
    if (gnutls_x509_crt_init(&raw) < 0) return false;
    Certificate certificate(raw);
    const gnutls_datum_t pem = Datum(loaded.certificate_pem);
    if (gnutls_x509_crt_import(certificate.get(), &pem, GNUTLS_X509_FMT_PEM) < 0) {
        *error = "the TLS certificate " + certificate_file + " is no PEM certificate";
        return false;
    }
    loaded.fingerprint = Fingerprint(certificate.get());
    *identity = std::move(loaded);
    return true;
}

bool SelfSignedTlsIdentity(const std::string& folder, const std::vector<std::string>& names,
                           TlsIdentity* identity, bool* made, std::string* error) {
    const std::filesystem::path certificate = std::filesystem::path(folder) / kCertificateName;
    const std::filesystem::path key = std::filesystem::path(folder) / kKeyName;
    std::error_code failed;
    if (std::filesystem::exists(certificate, failed) || std::filesystem::exists(key, failed)) {
        *made = false;
        return LoadTlsIdentity(certificate.string(), key.string(), identity, error);
    }
    std::filesystem::create_directories(folder, failed);
    if (failed) {
        *error = "cannot make the folder " + folder + ": " + failed.message();
        return false;
    }
    TlsIdentity fresh;
    if (!MakeSelfSigned(names, &fresh, error) || !WriteFile(key, fresh.key_pem, true, error) ||
        !WriteFile(certificate, fresh.certificate_pem, false, error)) {
        return false;
    }
    *made = true;
    *identity = std::move(fresh);
    return true;
}

}  // namespace web
