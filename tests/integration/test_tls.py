"""TLS end to end through build/qarvel: STARTTLS and implicit TLS against the real Postfix and
Dovecot (CA file, system store, -insecure, the -v trace). The certificate checks (wrong host name,
expired, untrusted, -insecure) against `openssl s_server` and the servers that break STARTTLS
after agreeing to it are in tests/net/tls_test.cpp."""
import selectors
import socket
import threading
import unittest
import uuid

import qarvel_env as env

TLS = env.STATE / "tls"
CA = str(TLS / "ca.crt")
NO_STORE = {"SSL_CERT_FILE": "/nonexistent", "SSL_CERT_DIR": "/nonexistent"}
TRACE = "TLS: TLSv1.3, cipher TLS_"


def send_args(host, tag, *extra):
    return [host, "-from:a@example.org", "-to:x@example.test", "-s:tls " + tag, "-msg:secure",
            *extra]


class Relay(threading.Thread):
    """Forwards connections from 127.0.0.1:listen_port to 127.0.0.1:target_port, byte for byte
    (the TLS session is between the client and the real server behind)."""

    def __init__(self, listen_port, target_port):
        super().__init__(daemon=True)
        self.listener = socket.create_server(("127.0.0.1", listen_port))
        self.listener.settimeout(0.5)
        self.target = target_port
        self.stopping = False
        self.start()

    def run(self):
        while not self.stopping:
            try:
                c, _ = self.listener.accept()
            except OSError:
                continue
            threading.Thread(target=self.pipe, args=(c,), daemon=True).start()
        self.listener.close()

    def pipe(self, client):
        server = socket.create_connection(("127.0.0.1", self.target), timeout=10)
        sel = selectors.DefaultSelector()
        sel.register(client, selectors.EVENT_READ, server)
        sel.register(server, selectors.EVENT_READ, client)
        with client, server:
            while True:
                events = sel.select(30)
                if not events:
                    return
                for key, _ in events:
                    data = key.fileobj.recv(65536)
                    if not data:
                        return
                    key.data.sendall(data)

    def stop(self):
        self.stopping = True
        self.join(5)


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
        # The system store does not know the test CA: refused before any login.
        r = env.run(send_args(submit, uuid.uuid4().hex, "-tls", *auth), env=NO_STORE)
        self.assertNotEqual(r.returncode, 0)
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
        # -ssl reads from port 995; a relay there leads to Dovecot's implicit-TLS port.
        try:
            relay = Relay(995, int(env.port("POP3S_PORT")))
        except OSError as e:
            env.missing(f"127.0.0.1:995 is not free here ({e})")
        try:
            r = env.run(["-host:127.0.0.1", "-ssl", "-cafile:" + CA, "-user:test",
                         "-pass:secret", "-br", "-v"], env=NO_STORE)
        finally:
            relay.stop()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(TRACE, r.stdout.decode())
        self.assertIn(tag.encode(), r.stdout)

    def test_pop3_untrusted_sends_no_password(self):
        r = env.run(["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), "-tls", "-user:test",
                     "-pass:secret", "-br"], env=NO_STORE)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"not accepted", r.stderr)
        self.assertIn(b"TLS negotiation with '127.0.0.1' failed", r.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
