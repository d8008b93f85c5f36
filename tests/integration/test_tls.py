"""TLS end to end through build/qarvel: STARTTLS and implicit TLS against the real Postfix and
Dovecot, certificate checks (CA file, system store, wrong host name, expired, untrusted,
-insecure) against `openssl s_server`, the -v trace, and a server that breaks STARTTLS after
agreeing to it: the password must never leave in clear."""
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


def wired():
    r = env.run(["-v"], timeout=30)
    return b"not available from the command line in this build" not in r.stdout + r.stderr


WIRED = wired()


def mail_with(tag, timeout=15):
    deadline = time.time() + timeout
    while True:
        for path in env.maildir_files(env.STATE / "mail" / "inbox"):
            try:
                raw = path.read_bytes()
            except OSError:
                continue
            if tag.encode() in raw:
                return raw
        if time.time() > deadline:
            return None
        time.sleep(0.1)


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


class ScriptedSmtp(threading.Thread):
    """One SMTP session on a free loopback port: offers STARTTLS, answers it with `answer`,
    then sends `after` as soon as the client's TLS hello arrives (closes at once when after is
    None). Records every byte."""

    def __init__(self, answer=b"220 go ahead\r\n", after=b"this is not TLS\r\n"):
        super().__init__(daemon=True)
        self.answer, self.after = answer, after
        self.received = b""
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.listener.settimeout(20)
        self.port = self.listener.getsockname()[1]
        self.start()

    def run(self):
        try:
            c, _ = self.listener.accept()
        except OSError:
            return
        with c:
            c.settimeout(10)
            c.sendall(b"220 fake ESMTP\r\n")
            pending, upgrading = b"", False
            while True:
                try:
                    data = c.recv(4096)
                except OSError:
                    break
                if not data:
                    break
                self.received += data
                if upgrading:
                    c.sendall(self.after)
                    c.settimeout(2)
                    continue
                pending += data
                while b"\n" in pending and not upgrading:
                    line, pending = pending.split(b"\n", 1)
                    if line.upper().startswith(b"EHLO"):
                        c.sendall(b"250-fake\r\n250-STARTTLS\r\n250 AUTH PLAIN LOGIN\r\n")
                    elif line.upper().startswith(b"STARTTLS"):
                        c.sendall(self.answer)
                        upgrading = self.answer.startswith(b"220")
                        if upgrading and self.after is None:
                            return self.listener.close()
                    elif line.upper().startswith(b"QUIT"):
                        c.sendall(b"221 bye\r\n")
                    else:
                        c.sendall(b"250 ok\r\n")
        self.listener.close()


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


@unittest.skipUnless(WIRED, "the command line is not wired into build/qarvel yet")
class TlsWithRealServers(unittest.TestCase):
    def test_starttls_submission_verified_with_trace(self):
        tag = uuid.uuid4().hex
        r = env.run(send_args("-host:127.0.0.1:" + env.port("SMTP_SUBMIT_PORT"), tag, "-tls",
                              "-esmtp", "-user:test", "-pass:secret", "-cafile:" + CA, "-v"),
                    env=NO_STORE)
        self.assertEqual(r.returncode, 0, r.stderr)
        out = r.stdout.decode()
        self.assertIn(TRACE, out)
        self.assertIn(", peer /CN=localhost, verified", out)
        raw = mail_with(tag)
        self.assertIsNotNone(raw)
        # Postfix names the session ESMTPSA in its Received line: TLS and authenticated.
        self.assertIn(b"with ESMTPSA", raw)

    def test_implicit_tls_submission(self):
        tag = uuid.uuid4().hex
        r = env.run(send_args("-host:127.0.0.1:" + env.port("SMTPS_PORT"), tag, "-ssl", "-esmtp",
                              "-user:test", "-pass:secret", "-cafile:" + CA), env=NO_STORE)
        self.assertEqual(r.returncode, 0, r.stderr)
        raw = mail_with(tag)
        self.assertIsNotNone(raw)
        self.assertIn(b"with ESMTPSA", raw)

    def test_system_store_and_insecure(self):
        host = "-host:127.0.0.1:" + env.port("SMTP_SUBMIT_PORT")
        # The system store does not know the test CA: refused before any login.
        r = env.run(send_args(host, uuid.uuid4().hex, "-tls", "-esmtp", "-user:test",
                              "-pass:secret"), env=NO_STORE)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"TLS: certificate of '127.0.0.1' not accepted: unable to get local issuer "
                      b"certificate (issuer /CN=qarvel test CA is not trusted", r.stderr)
        # The store is what SSL_CERT_FILE names.
        tag = uuid.uuid4().hex
        r = env.run(send_args(host, tag, "-tls", "-esmtp", "-user:test", "-pass:secret"),
                    env={"SSL_CERT_FILE": CA})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIsNotNone(mail_with(tag))
        # -insecure goes through with a warning.
        tag = uuid.uuid4().hex
        r = env.run(send_args(host, tag, "-tls", "-esmtp", "-user:test", "-pass:secret",
                              "-insecure", "-v"), env=NO_STORE)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"Warning: TLS certificate verification is off (-insecure)", r.stderr)
        self.assertIn(b", not verified", r.stdout)
        self.assertIsNotNone(mail_with(tag))

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
            self.skipTest(f"127.0.0.1:995 is not free here ({e})")
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


@unittest.skipUnless(WIRED, "the command line is not wired into build/qarvel yet")
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


@unittest.skipUnless(WIRED, "the command line is not wired into build/qarvel yet")
class BrokenStartTls(unittest.TestCase):
    def test_no_password_in_clear(self):
        cases = [
            ("garbage for the hello", b"220 go ahead\r\n", b"this is not TLS\r\n"),
            ("closed after 220", b"220 go ahead\r\n", None),
            ("refused", b"454 4.7.0 TLS not available\r\n", None),
        ]
        for name, answer, after in cases:
            with self.subTest(name):
                server = ScriptedSmtp(answer, after)
                r = env.run(send_args(f"-host:127.0.0.1:{server.port}", uuid.uuid4().hex, "-tls",
                                      "-esmtp", "-user:test", "-pass:secret", "-cafile:" + CA),
                            env=NO_STORE, timeout=60)
                server.join(20)
                self.assertNotEqual(r.returncode, 0, r.stdout)
                self.assertIn(b"STARTTLS\r\n", server.received)
                for secret in (b"AUTH", b"dGVzd", b"secret", b"MAIL FROM"):
                    self.assertNotIn(secret, server.received)


if __name__ == "__main__":
    unittest.main(verbosity=2)
