// The web face's TLS identity: a certificate and its private key (PEM), checked with GnuTLS before the
// server starts, and the certificate's SHA-256 fingerprint for the user to compare with the browser's.
// Either given as two files, or made once as a self-signed pair in a folder and kept there.
#pragma once

#include <string>
#include <vector>

namespace web {

struct TlsIdentity {
    std::string certificate_pem;
    std::string key_pem;
    std::string fingerprint;  // SHA-256 of the certificate, "AB:CD:..."
    bool Empty() const { return certificate_pem.empty(); }
};

// Reads and checks a certificate file and its key file (PEM). False, with one line in *error, when a file
// cannot be read, is too big, is no PEM certificate or key, or the key does not belong to the certificate.
bool LoadTlsIdentity(const std::string& certificate_file, const std::string& key_file, TlsIdentity* identity,
                     std::string* error);

// The self-signed pair in folder (certificate.pem, key.pem; the key readable by its owner only): loaded when
// both are there, otherwise made (an ECDSA P-256 key, a certificate for ten years that names localhost,
// the given host names and IPv4 addresses) and written there. *made tells which.
bool SelfSignedTlsIdentity(const std::string& folder, const std::vector<std::string>& names,
                           TlsIdentity* identity, bool* made, std::string* error);

}  // namespace web
