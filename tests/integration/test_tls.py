"""TLS end to end through build/qarvel: STARTTLS and implicit TLS against the real Postfix and
Dovecot (CA file, system store, -insecure, the -v trace), and certificate checks (wrong host name,
expired, untrusted) against `openssl s_server`. Servers that break STARTTLS after agreeing to it
are in tests/net/tls_test.cpp (StartTls.*)."""
import contextlib
import os
import selectors
import socket
import subprocess
import threading
import time
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


@contextlib.contextmanager
def openssl_server(name, *extra):
    """`openssl s_server -rev` with STATE/tls/NAME.crt on a free loopback port; yields the port."""
    p = subprocess.Popen(["openssl", "s_server", "-accept", "127.0.0.1:0", "-cert",
                          str(TLS / (name + ".crt")), "-key", str(TLS / (name + ".key")), "-rev",
                          *extra], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT)
    try:
        sel = selectors.DefaultSelector()
        sel.register(p.stdout, selectors.EVENT_READ)
        seen, port, deadline = b"", None, time.time() + 10
        while port is None and time.time() < deadline:
            if sel.select(0.2):
                chunk = os.read(p.stdout.fileno(), 4096)
                if not chunk:
                    break
                seen += chunk
                for line in seen.splitlines():
                    if line.startswith(b"ACCEPT 127.0.0.1:"):
                        port = int(line.split(b":")[1])
        if port is None:
            raise RuntimeError("openssl s_server did not start: " + seen.decode(errors="replace"))
        yield port
    finally:
        p.terminate()
        p.wait(timeout=10)
        p.stdout.close()


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


class CertificateChecks(unittest.TestCase):
    def attempt(self, name, host="127.0.0.1", *extra):
        with openssl_server(name) as port:
            return env.run(send_args(f"-host:{host}:{port}", uuid.uuid4().hex, "-ssl", "-esmtp",
                                     "-user:test", "-pass:secret", "-cafile:" + CA, *extra),
                           env=NO_STORE, timeout=60)

    def test_refusals_name_the_reason(self):
        cases = [
            ("wrong", "127.0.0.1", "IP address mismatch (the certificate is for wrong.example)"),
            ("wrong", "localhost", "hostname mismatch (the certificate is for wrong.example)"),
            ("expired", "127.0.0.1", "certificate has expired (/CN=localhost expired on "),
            ("untrusted", "127.0.0.1", "self-signed certificate (issuer /CN=localhost is not "
                                       "trusted; name the file of its CA with -cafile:)"),
        ]
        for name, host, reason in cases:
            with self.subTest(name=name, host=host):
                r = self.attempt(name, host)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(f"TLS: certificate of '{host}' not accepted: {reason}".encode(),
                              r.stderr)
                self.assertIn(b"Could not connect to server: ", r.stderr)

    def test_insecure_handshake_with_expired_certificate(self):
        # The handshake passes; s_server then never greets, so the run ends at the time-out.
        r = self.attempt("expired", "127.0.0.1", "-insecure", "-v", "-tmo:2")
        self.assertIn(b"Warning: TLS certificate verification is off (-insecure)", r.stderr)
        self.assertIn(b", peer /CN=localhost, not verified", r.stdout)
        self.assertNotIn(b"not accepted", r.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
