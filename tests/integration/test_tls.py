"""TLS end to end through build/qarvel: STARTTLS and implicit TLS against the real Postfix and
Dovecot (CA file, system store, -insecure, the -v trace, POP3S and IMAPS on a port of the
host's own, a submission set up by the configuration file alone). The certificate checks (wrong host name,
expired, untrusted, -insecure) against `openssl s_server` and the servers that break STARTTLS
after agreeing to it are in tests/net/tls_test.cpp."""
import os
import unittest
import uuid

import qarvel_env as env

TLS = env.STATE / "tls"
CA = env.CA
NO_STORE = {"SSL_CERT_FILE": "/nonexistent", "SSL_CERT_DIR": "/nonexistent"}
TRACE = "TLS: TLSv1.3, cipher TLS_"


def send_args(host, tag, *extra):
    return [host, "-from:a@example.org", "-to:x@example.test", "-s:tls " + tag, "-msg:secure",
            *extra]


class TlsWithRealServers(unittest.TestCase):
    def test_smtp_starttls_and_implicit_tls(self):
        submit = "-host:127.0.0.1:" + env.port("SMTP_SUBMIT_PORT")
        auth = ["-esmtp", "-user:test", "-pass:secret"]
        cases = [  # name, host, options, environment, texts on stdout, texts on stderr
            ("STARTTLS with -cafile: and the trace", submit, ["-tls", "-cafile:" + CA, "-v"], NO_STORE,
             [TRACE.encode(), b", peer /CN=localhost, verified"], []),
            ("implicit TLS", "-host:127.0.0.1:" + env.port("SMTPS_PORT"), ["-ssl", "-cafile:" + CA], NO_STORE,
             [], []),
            ("the system store is what SSL_CERT_FILE names", submit, ["-tls"], {"SSL_CERT_FILE": CA}, [], []),
            ("-insecure goes through with a warning", submit, ["-tls", "-insecure", "-v"], NO_STORE,
             [b", not verified"], [b"Warning: TLS certificate verification is off (-insecure)"]),
        ]
        for name, host, options, environment, out, err in cases:
            with self.subTest(name):
                tag = uuid.uuid4().hex
                r = env.run(send_args(host, tag, *options, *auth), env=environment)
                self.assertEqual(r.returncode, 0, r.stderr)
                for text in out:
                    self.assertIn(text, r.stdout)
                for text in err:
                    self.assertIn(text, r.stderr)
                delivered = env.inbox_with(tag)
                self.assertEqual(len(delivered), 1)
                # Postfix names the session ESMTPSA in its Received line: TLS and authenticated.
                self.assertIn(b"with ESMTPSA", delivered[0].read_bytes())
        # The system store does not know the test CA: refused before any login, under -strict
        # with the status of a failed handshake.
        r = env.run(send_args(submit, uuid.uuid4().hex, "-tls", "-strict", *auth), env=NO_STORE)
        self.assertEqual(r.returncode, 76, r.stderr)
        self.assertIn(b"TLS: certificate of '127.0.0.1' not accepted: unable to get local issuer "
                      b"certificate (issuer /CN=qarvel test CA is not trusted", r.stderr)
        self.assertIn(b"Could not connect to server: ", r.stderr)

    def test_pop3_stls_and_pop3s(self):
        tag = uuid.uuid4().hex
        env.fill_maildir("test", [f"From: a@example.org\nTo: test@localhost\nSubject: {tag}\n\nbody\n"])
        r = env.run(["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), "-tls",
                     "-cafile:" + CA, "-user:test", "-pass:secret", "-br", "-v"], env=NO_STORE)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(TRACE, r.stdout.decode())
        self.assertIn(tag.encode(), r.stdout)
        # POP3S on Dovecot's own port: the host's port beats the 995 that -ssl sets (IMAPS:
        # test_imap.py).
        r = env.run(["-host:127.0.0.1:" + env.port("POP3S_PORT"), "-ssl", "-cafile:" + CA, "-user:test",
                     "-pass:secret", "-br", "-v"], env=NO_STORE)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(TRACE, r.stdout.decode())
        self.assertIn(tag.encode(), r.stdout)

    def test_submission_from_the_configuration_file_alone(self):
        # A job kept in a configuration file: STARTTLS on the submission port with the CA of the
        # file, and TLS from the first byte with SSL, whose port key keeps its port wherever it
        # stands. The file holds the password, so it is private.
        directory = env.temp_dir(self)
        cases = [("STARTTLS", ["SMTP_PORT " + env.port("SMTP_SUBMIT_PORT"), "TLS"]),
                 ("TLS from the first byte", ["SMTP_PORT " + env.port("SMTPS_PORT"), "SSL"])]
        for name, keys in cases:
            with self.subTest(name):
                tag = uuid.uuid4().hex
                path = os.path.join(directory, tag + ".conf")
                lines = ["SMTP_HOST 127.0.0.1", *keys, "CAFILE " + CA, "ESMTP", "USER test", "PASS secret",
                         "FROM a@example.org", "TO x@example.test", "SUBJECT tls " + tag]
                with os.fdopen(os.open(path, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
                    f.write("\n".join(lines) + "\n")
                r = env.run(["-strict", "-config:" + path, "-msg:secure", "-q"], env=NO_STORE)
                self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
                delivered = env.inbox_with(tag)
                self.assertEqual(len(delivered), 1)
                self.assertIn(b"with ESMTPSA", delivered[0].read_bytes())

    def test_pop3_untrusted_sends_no_password(self):
        r = env.run(["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), "-tls", "-user:test",
                     "-pass:secret", "-br"], env=NO_STORE)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"not accepted", r.stderr)
        self.assertIn(b"TLS negotiation with '127.0.0.1' failed", r.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
