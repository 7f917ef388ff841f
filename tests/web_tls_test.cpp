// The web face's TLS identity: a self-signed pair made once and kept, given files checked before any
// start, and every bad file refused with one line that names it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "web/tls_identity.h"

namespace {

namespace fs = std::filesystem;

class WebTlsIdentity : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) /
               ("web_tls_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        fs::remove_all(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string In(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_F(WebTlsIdentity, SelfSignedPairIsMadeOnceKeptPrivateAndLoadsAsGivenFiles) {
    web::TlsIdentity made, again, given;
    bool fresh = false;
    std::string error;
    ASSERT_TRUE(web::SelfSignedTlsIdentity(In("a"), {"camera.lan", "192.168.1.20"}, &made, &fresh, &error))
        << error;
    EXPECT_TRUE(fresh);
    EXPECT_TRUE(std::regex_match(made.fingerprint, std::regex("([0-9A-F]{2}:){31}[0-9A-F]{2}")))
        << made.fingerprint;
    EXPECT_EQ(fs::status(In("a/key.pem")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(web::SelfSignedTlsIdentity(In("a"), {}, &again, &fresh, &error)) << error;
    EXPECT_FALSE(fresh);
    EXPECT_EQ(again.fingerprint, made.fingerprint);
    ASSERT_TRUE(web::LoadTlsIdentity(In("a/certificate.pem"), In("a/key.pem"), &given, &error)) << error;
    EXPECT_EQ(given.certificate_pem, made.certificate_pem);
    EXPECT_EQ(given.key_pem, made.key_pem);
}

TEST_F(WebTlsIdentity, BadFilesAreRefusedWithOneLineNamingThem) {
    web::TlsIdentity a, b, loaded;
    bool fresh = false;
    std::string error;
    ASSERT_TRUE(web::SelfSignedTlsIdentity(In("a"), {}, &a, &fresh, &error)) << error;
    ASSERT_TRUE(web::SelfSignedTlsIdentity(In("b"), {}, &b, &fresh, &error)) << error;
    std::ofstream(In("garbage.pem")) << "not a key\n";
    std::ofstream(In("big.pem")) << std::string(100 * 1024, 'A');
    const std::string cert = In("a/certificate.pem");
    for (const auto& [certificate, key, complaint] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {In("missing.pem"), In("a/key.pem"), "cannot read the TLS certificate " + In("missing.pem")},
             {cert, In("missing.pem"), "cannot read the TLS key " + In("missing.pem")},
             {cert, In("garbage.pem"), "do not make a pair"},
             {cert, In("b/key.pem"), "do not make a pair"},
             {cert, In("big.pem"), "too big"}}) {
        EXPECT_FALSE(web::LoadTlsIdentity(certificate, key, &loaded, &error)) << key;
        EXPECT_NE(error.find(complaint), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    EXPECT_TRUE(loaded.Empty());
}

}  // namespace
