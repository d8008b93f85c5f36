// The TLS layer against `openssl s_server` with the test certificates (good, wrong host name,
// expired, self-signed, client certificate), and the STARTTLS/STLS upgrades against scripted
// servers that break the handshake: no credentials may leave in clear.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/connection.h"
#include "net/tls_peer.h"
#include "net/winsock_error.h"
#include "receive/pop3_reader.h"
#include "send/smtp_session.h"
#include "support/run_program.h"
#include "support/scripted_server.h"

using namespace qarvel;
using namespace qarvel::test;
using Script = std::vector<ScriptStep>;

namespace {

TlsOptions trusting(const std::string& caName = "ca.crt") {
    TlsOptions o;
    o.caFile = certificate(caName);
    return o;
}

// Connection options with TLS of either form and these trust and client settings.
ConnectionOptions withTls(const TlsOptions& t, bool implicit, int timeoutSeconds = 5) {
    return {.timeoutSeconds = timeoutSeconds, .ssl = implicit, .tls = !implicit, .certificateFile = t.certificateFile,
            .keyFile = t.keyFile, .caFile = t.caFile, .insecure = t.insecure};
}

// Opens an implicit-TLS connection; the result of open, with standard error in `err`.
int openTls(Connection& c, const std::string& host, const OpensslServer& server,
            const TlsOptions& options, std::string* err) {
    c.setConnectionOptions(withTls(options, true), options.traceLevel);
    testing::internal::CaptureStderr();
    int r = c.open(host.c_str(), server.portText().c_str());
    *err = testing::internal::GetCapturedStderr();
    return r;
}

// One line through s_server -rev: what came back.
std::string roundTrip(Connection& c, const std::string& line) {
    if (c.send(line.data(), static_cast<int>(line.size())) != static_cast<int>(line.size()))
        return "(send failed)";
    char buffer[256];
    int n = c.readLine(buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, n) : "(read " + std::to_string(n) + ")";
}

}  // namespace

TEST(Tls, VerifiedHandshakeTraceAndData) {
    OpensslServer server("server");
    ASSERT_NE(server.port, 0) << server.log;
    // An address in brackets is checked without them.
    for (const char* host : {"127.0.0.1", "localhost", "[127.0.0.1]"}) {
        Connection c;
        TlsOptions o = trusting();
        o.traceLevel = 1;
        std::string err;
        testing::internal::CaptureStdout();
        int r = openTls(c, host, server, o, &err);
        std::string out = testing::internal::GetCapturedStdout();
        ASSERT_EQ(r, 1) << host << ": " << err;
        EXPECT_TRUE(c.encrypted());
        EXPECT_EQ(err, "");
        // The trace names protocol, cipher and the peer's subject.
        EXPECT_NE(out.find("TLS: TLSv1.3, cipher TLS_"), std::string::npos) << out;
        EXPECT_NE(out.find(", peer /CN=localhost, verified\n"), std::string::npos) << out;
        EXPECT_EQ(roundTrip(c, "hello\n"), "olleh\n");
        c.close();
    }
    // Without a CA file the system store decides: test_tls.py runs that against Postfix.
}

// Each refused certificate names the reason; -insecure then takes the same server's certificate
// with a warning.
TEST(Tls, RefusedCertificatesSayWhyAndInsecureTakesThem) {
    struct Case {
        const char* certificate;
        const char* host;
        const char* caFile;
        const char* reason;
        const char* detail;
    } cases[] = {
        {"wrong", "127.0.0.1", "ca.crt", "IP address mismatch", "the certificate is for wrong.example"},
        {"wrong", "localhost", "ca.crt", "hostname mismatch", "the certificate is for wrong.example"},
        {"expired", "127.0.0.1", "ca.crt", "certificate has expired", "/CN=localhost expired on "},
        {"untrusted", "127.0.0.1", "ca.crt", "self-signed certificate", "is not trusted; name the file of its CA with -cafile:"},
        {"server", "localhost", "untrusted.crt", "unable to get local issuer certificate", "issuer /CN=qarvel test CA is not trusted"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.certificate) + " " + k.host);
        OpensslServer server(k.certificate);
        ASSERT_NE(server.port, 0) << server.log;
        Connection c;
        std::string err;
        EXPECT_EQ(openTls(c, k.host, server, trusting(k.caFile), &err), -kWsaConnectionAborted);
        EXPECT_FALSE(c.encrypted());
        EXPECT_FALSE(c.isOpen());
        std::string expected = std::string("TLS: certificate of '") + k.host + "' not accepted: " + k.reason;
        EXPECT_EQ(err.rfind(expected, 0), 0u) << err;
        EXPECT_NE(err.find(k.detail), std::string::npos) << err;
        if (std::string(k.host) != "127.0.0.1") continue;
        Connection insecure;
        TlsOptions o;  // no CA file either
        o.insecure = true;
        o.traceLevel = 1;
        testing::internal::CaptureStdout();
        int r = openTls(insecure, "127.0.0.1", server, o, &err);
        std::string out = testing::internal::GetCapturedStdout();
        ASSERT_EQ(r, 1) << err;
        EXPECT_EQ(err, "Warning: TLS certificate verification is off (-insecure)\n");
        EXPECT_NE(out.find(", not verified\n"), std::string::npos) << out;
        EXPECT_EQ(roundTrip(insecure, "abc\n"), "cba\n");
    }
    OpensslServer server("server");
    Connection c;
    std::string err;
    EXPECT_EQ(openTls(c, "127.0.0.1", server, trusting("no-such-file.crt"), &err), -kWsaConnectionAborted);
    EXPECT_NE(err.find("TLS: loading the trusted certificates failed"), std::string::npos) << err;
}

TEST(Tls, ClientCertificateWithKeyApartOrInOneFile) {
    OpensslServer server("server", {"-Verify", "1", "-CAfile", certificate("ca.crt")});
    ASSERT_NE(server.port, 0) << server.log;
    TlsOptions apart = trusting();
    apart.certificateFile = certificate("client.crt");
    apart.keyFile = certificate("client.key");
    TlsOptions together = trusting();
    together.certificateFile = certificate("client.pem");
    for (const TlsOptions& o : {apart, together}) {
        Connection c;
        std::string err;
        ASSERT_EQ(openTls(c, "127.0.0.1", server, o, &err), 1) << err;
        EXPECT_EQ(roundTrip(c, "cert\n"), "trec\n");
    }
    EXPECT_TRUE(server.waitFor("CN = test", 2000)) << server.log;
    // Without one the server ends the session: in the handshake, or (TLS 1.3) right after it,
    // so no echo comes back either way.
    Connection c;
    std::string err;
    int r = openTls(c, "127.0.0.1", server, trusting(), &err);
    EXPECT_TRUE(r != 1 || roundTrip(c, "none\n") != "enon\n") << r;
    TlsOptions missing = trusting();
    missing.certificateFile = certificate("no-such.crt");
    Connection m;
    EXPECT_EQ(openTls(m, "127.0.0.1", server, missing, &err), -kWsaConnectionAborted);
    EXPECT_NE(err.find("TLS: loading the client certificate failed"), std::string::npos) << err;
}

TEST(Tls, PeerGoneAndSilentPeer) {
    Connection c;
    {
        OpensslServer server("server");
        ASSERT_NE(server.port, 0) << server.log;
        std::string err;
        ASSERT_EQ(openTls(c, "127.0.0.1", server, trusting(), &err), 1) << err;
    }
    // The server is gone: writing reports an error instead of raising SIGPIPE.
    std::string block(1024, 'x');
    int r = 1;
    for (int i = 0; i < 200 && r > 0; ++i) r = c.send(block.data(), static_cast<int>(block.size()));
    EXPECT_LT(r, 0);

    // A peer that accepts and never answers the handshake: bounded by the time-out.
    ScriptedServer silent({stall(5000)});
    Connection s;
    s.setConnectionOptions(withTls(trusting(), true, 1));
    testing::internal::CaptureStderr();
    EXPECT_EQ(s.open("127.0.0.1", silent.portText().c_str()), -kWsaConnectionAborted);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "TLS: handshake with '127.0.0.1' timed out\n");
}

// Servers that offer STARTTLS and then break the upgrade: the session ends before any AUTH,
// both in SmtpSession itself and in build/qarvel as a user runs it (no MAIL FROM either).
TEST(StartTls, BrokenUpgradeSendsNoCredentials) {
    struct Case {
        const char* name;
        bool offered;
        Script answer;  // to STARTTLS
        const char* message;
    } cases[] = {
        {"garbage for the hello", true, {send("220 go ahead\r\n"), receive(1), send("this is not TLS\r\n")},
         "TLS: handshake failed: "},
        {"closed after 220", true, {send("220 go ahead\r\n"), closeConnection()}, "the connection was closed"},
        {"plaintext injected", true, {send("220 go ahead\r\n250 injected\r\n")},
         "TLS: unexpected data before the handshake"},
        {"refused", true, {send("454 4.7.0 TLS not available\r\n")}, "STARTTLS refused by the server: 454"},
        {"not offered", false, {}, "STARTTLS not offered by the server"},
    };
    for (const Case& k : cases) {
        Script script = {send("220 fake ESMTP\r\n"), expect("EHLO"),
                         send(k.offered ? "250-fake\r\n250-STARTTLS\r\n250 AUTH PLAIN LOGIN\r\n"
                                        : "250-fake\r\n250 AUTH PLAIN LOGIN\r\n")};
        if (k.offered) script.push_back(expect("STARTTLS"));
        script.insert(script.end(), k.answer.begin(), k.answer.end());
        for (bool program : {false, true}) {
            SCOPED_TRACE(std::string(k.name) + (program ? " (build/qarvel)" : " (SmtpSession)"));
            ScriptedServer server(script);
            std::string err;
            if (program) {
                ProgramResult r = runQarvel({"-host:127.0.0.1:" + server.portText(), "-from:a@example.org",
                                             "-to:x@example.test", "-s:x", "-msg:secure", "-tls", "-esmtp",
                                             "-user:test", "-pass:secret", "-cafile:" + certificate("ca.crt")});
                EXPECT_NE(r.exitCode, 0);
                err = r.err;
            } else {
                SmtpSession s;
                s.setConnectionOptions(withTls(trusting(), false));
                testing::internal::CaptureStderr();
                int connected = s.connectSession("127.0.0.1", server.portText().c_str());
                int login = s.authenticate("test", "secret");
                err = testing::internal::GetCapturedStderr();
                EXPECT_LT(connected, 1);
                EXPECT_LT(login, 1);
                EXPECT_FALSE(s.isOpen());
            }
            EXPECT_NE(err.find(k.message), std::string::npos) << err;
            std::string received = server.finish();
            EXPECT_EQ(server.error(), "");  // the dialogue went as scripted
            EXPECT_EQ(received.rfind("EHLO ", 0), 0u) << received;
            // "dGVzd" starts the base64 of "test".
            for (const char* secret : {"AUTH", "dGVzd", "secret", "MAIL FROM"})
                EXPECT_EQ(received.find(secret), std::string::npos) << received;
        }
    }
}

TEST(StartTls, BrokenStlsSendsNoCredentials) {
    for (bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "refused" : "garbage for the hello");
        Script script = {send("+OK fake POP3 <1.2@fake>\r\n"), expect("STLS")};
        if (refused)
            script.insert(script.end(), {send("-ERR no TLS here\r\n"), expect("QUIT"), send("+OK\r\n")});
        else
            script.insert(script.end(), {send("+OK begin TLS\r\n"), receive(1), send("this is not TLS\r\n")});
        ScriptedServer server(script);
        Pop3Reader r;
        r.setConnectionOptions(withTls(trusting(), false));
        r.setApop(1);
        testing::internal::CaptureStderr();
        int opened = r.open("127.0.0.1", server.portText().c_str(), nullptr, 0);
        int login = r.login("test", "secret");
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_LT(opened, 1);
        EXPECT_LT(login, 1);
        EXPECT_FALSE(r.connected());
        EXPECT_NE(err.find(refused ? "POP3 server does not offer STLS" : "TLS negotiation with '127.0.0.1' failed"),
                  std::string::npos) << err;
        std::string received = server.finish();
        EXPECT_EQ(server.error(), "");
        // A refusal is answered with QUIT, and nothing else follows.
        if (refused) { EXPECT_EQ(received, "STLS\r\nQUIT\r\n"); }
        EXPECT_EQ(received.rfind("STLS\r\n", 0), 0u) << received;
        for (const char* secret : {"USER", "PASS", "APOP", "secret"})
            EXPECT_EQ(received.find(secret), std::string::npos) << received;
    }
}
