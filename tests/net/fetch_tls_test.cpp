#include "net/fetch_page.h"
#include "support/http_server.h"

#include <atomic>
#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

using testing_support::RawServer;

namespace {

/// A certificate for 127.0.0.1 that signs itself: no system store trusts it.
struct SelfSignedCertificate
{
    SelfSignedCertificate()
    {
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
        X509_NAME* name = X509_get_subject_name(cert.get());
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert.get(), name);
        X509_set_pubkey(cert.get(), key.get());
        X509_sign(cert.get(), key.get(), EVP_sha256());
    }

    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key {EVP_EC_gen("P-256"), &EVP_PKEY_free};
    std::unique_ptr<X509, decltype(&X509_free)> cert {X509_new(), &X509_free};
};

TEST(FetchTlsTest, UntrustedCertificateIsRefusedBeforeAnyRequest)
{
    SelfSignedCertificate certificate;
    ASSERT_TRUE(certificate.key && certificate.cert);
    httplib::SSLServer server(certificate.cert.get(), certificate.key.get());
    std::atomic<int> hits {0};
    server.Get("/", [&hits](const httplib::Request&, httplib::Response& res) {
        ++hits;
        res.set_content("<PRE>\nsecret\n</PRE>\n", "text/html");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&server] { server.listen_after_bind(); });
    while (!server.is_running()) {
        std::this_thread::yield();
    }

    std::vector<std::string> messages;
    const std::string result = FetchPage("https://127.0.0.1:" + std::to_string(port) + "/",
                                         [&](const std::string& m) { messages.push_back(m); });
    server.stop();
    thread.join();

    EXPECT_NE(result.find("certificate"), std::string::npos) << result;
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(hits, 0);
}

TEST(FetchTlsTest, HttpsIsNeverSentAsPlainHttp)
{
    RawServer raw({{"HTTP/1.0 200 OK\r\n\r\n<PRE>\nplain\n</PRE>\n"}});
    const std::string result = FetchPage("https://127.0.0.1:" + std::to_string(raw.port()) + "/x", {});

    EXPECT_EQ(result.find("plain"), std::string::npos) << result;
    ASSERT_EQ(raw.requests().size(), 1u);
    EXPECT_EQ(raw.requests()[0].substr(0, 2), "\x16\x03") << "a TLS handshake record comes first";
}

} // namespace
