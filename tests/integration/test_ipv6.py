"""IPv6 and dual-stack connections against the real servers of scripts/servers.sh, which also
listen on [::1]: sending to Postfix in the three ways a user writes the address, reading
Dovecot over POP3 and IMAP, fetching from lighttpd, posting to INN, asking dnsmasq on [::1]
for an exchanger that has only an AAAA record, falling back from an address that refuses to
one that accepts in the DNS zone (in a hosts file: tests/net/socket_test.cpp). (The failure
lines of a name that does not resolve: test_connect_errors.py.)"""
import pathlib
import socket
import subprocess
import tempfile
import time
import unittest

import qarvel_env as env

SMTP = env.port("SMTP_PORT")
MX_PORT = env.port("MX_PORT")
DNS6 = "[::1]:" + env.port("DNS6_PORT")


def listening(port):
    try:
        socket.create_connection(("::1", int(port)), 2).close()
        return True
    except OSError:
        return False


def send(host, tag, *extra, port=SMTP):
    return env.run([f"-host:{host}", f"-port:{port}", "-from:six@example.test", "-to:v6@example.test",
                    f"-s:{tag}", "-msg:over IPv6", *extra])


class Ipv6Loopback(unittest.TestCase):
    def test_send(self):
        # The other forms of the address: Socket.Ipv6LiteralForms.
        tag = f"v6 {time.time()}"
        r = send(f"[::1]:{SMTP}", tag, port="25")
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertEqual(len(env.inbox_with(tag)), 1, tag)

    def test_read_pop3_and_imap(self):
        for args, login in (([f"-port:{env.port('POP3_PORT')}"], b"+OK Logged in"),
                            (["-imap", f"-port:{env.port('IMAP_PORT')}"], b" OK ")):
            with self.subTest(args[0]):
                r = env.run(["-host:::1", *args, "-user:test", "-pass:secret", "-n", "-v:2"], timeout=120)
                self.assertEqual(r.returncode, 0, r.stderr.decode()[-500:])
                self.assertIn(login, r.stdout)

    def test_fetch_over_http(self):
        with tempfile.TemporaryDirectory() as folder:
            url = f"http://[::1]:{env.port('HTTP_PORT')}/hello.txt"
            r = env.run([f"-url:{url}", "-noop"], cwd=folder)
            self.assertEqual(r.returncode, 0, r.stderr.decode())
            expected = (env.STATE / "www" / "htdocs" / "hello.txt").read_bytes()
            self.assertEqual((pathlib.Path(folder) / "hello.txt").read_bytes(), expected)

    def test_post_news(self):
        if not listening(env.port("NNTP_PORT")):
            self.skipTest("INN does not listen on [::1]")
        with socket.create_connection(("::1", int(env.port("NNTP_PORT"))), 5) as s:
            if s.recv(100).startswith(b"400"):
                self.skipTest("INN refuses readers while the machine is loaded")
        with tempfile.NamedTemporaryFile(suffix=".txt") as f:
            f.write(b"an article over IPv6\n")
            f.flush()
            r = subprocess.run([env.BINARY, "-news", "-host:[::1]", "-port:" + env.port("NNTP_PORT"),
                                "-from:Poster <poster@example.test>", "-to:open.group",
                                f"-s:v6 news {time.time()}", "-file:" + f.name],
                               capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertIn(b"Sent ", r.stdout)


class DualStack(unittest.TestCase):
    def probe(self, domain, *extra):
        return env.run([f"-probe:someone@{domain}", f"-host:{DNS6}", f"-port:{MX_PORT}", "-v", *extra],
                       timeout=120)

    def test_exchanger_with_only_an_aaaa_record(self):
        r = self.probe("deliver6.test")
        out, err = r.stdout.decode(), r.stderr.decode()
        self.assertEqual(r.returncode, 0, out + err)
        self.assertIn("MX/A server (10) = '::1'", out)
        self.assertIn(f"Connected to '::1:{MX_PORT}'", out)

    def test_exchanger_falls_back_from_a_refusing_address(self):
        r = self.probe("dual6.test")
        out, err = r.stdout.decode(), r.stderr.decode()
        self.assertEqual(r.returncode, 0, out + err)
        self.assertIn(f"Could not connect to server: 127.0.0.41:{MX_PORT}, error= -10061 (connection refused)", err)
        self.assertIn(f"Connected to '::1:{MX_PORT}'", out)
        # With -ipv6 the AAAA address comes first: no refusal at all.
        r = self.probe("dual6.test", "-ipv6")
        self.assertEqual(r.returncode, 0)
        self.assertNotIn("127.0.0.41", r.stdout.decode() + r.stderr.decode())


if __name__ == "__main__":
    unittest.main()
