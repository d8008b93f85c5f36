"""Sending through a real Postfix: plain, AUTH PLAIN and LOGIN (traced with the secrets hidden),
cc/bcc envelopes, recipient limits, copies, the -mf file against what the server received, and
the runs that end before any server is asked. (STARTTLS and implicit TLS are in test_tls.py;
silent and broken servers in tests/send/send_faults_test.cpp.)"""
import pathlib
import tempfile
import unittest
import uuid

import qarvel_env as env


def host(port_name):
    return "-host:127.0.0.1:" + env.port(port_name)


def messages_with(tag, count):
    """(parsed message, raw bytes) of the inbox messages tagged so, once count have arrived."""
    return [(env.parsed(p), p.read_bytes()) for p in env.inbox_with(tag, count)]


class SendThroughPostfix(unittest.TestCase):
    def send(self, *args):
        return env.run(list(args), timeout=60)

    def test_plain_message_headers_and_body(self):
        tag = uuid.uuid4().hex
        body = "first line\r\n.leading dot\r\nlast line"
        r = self.send(host("SMTP_PORT"), "-from:Alice Example <alice@example.org>",
                      "-to:bob@example.test", "-s:plain " + tag, "-msg:" + body, "-org:Test Org",
                      "-high")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"Sent ", r.stdout)
        self.assertIn(b"to 'bob@example.test'", r.stdout)
        [(msg, raw)] = messages_with(tag, 1)
        self.assertEqual(msg["From"], "Alice Example <alice@example.org>")
        self.assertEqual(msg["To"], "bob@example.test")
        self.assertEqual(msg["Organization"], "Test Org")
        self.assertEqual(msg["X-Priority"], "2 (High)")
        self.assertEqual(msg["Importance"], "High")
        self.assertEqual(msg["MIME-Version"], "1.0")
        self.assertTrue(msg["X-Mailer"].startswith("QARVEL ("))
        self.assertIsNotNone(msg["Date"])
        self.assertEqual(msg["Return-Path"], "<alice@example.org>")
        text = msg.get_content()
        self.assertIn("first line\n.leading dot\nlast line", text.replace("\r\n", "\n"))

    def test_auth_plain_and_login(self):
        # Traced with the data (level 3), "***" stands where the answer or password stood (level 2:
        # test_interop.py, against every server).
        for port_name, shown in (("SMTP_PORT", b"AUTH PLAIN\r\n"), ("SMTP_LOGIN_PORT", b"AUTH LOGIN ***\r\n")):
            with self.subTest(port=port_name):
                tag = uuid.uuid4().hex
                r = self.send(host(port_name), "-esmtp", "-user:test", "-pass:secret",
                              "-from:a@example.org", "-to:x@example.test", "-s:auth " + tag,
                              "-msg:authenticated", "-v:3")
                env.assert_traced(self, r, shown, b"\r\n***\r\n", b"235 ")
                self.assertEqual(len(messages_with(tag, 1)), 1)
        r = self.send(host("SMTP_PORT"), "-esmtp", "-user:test", "-pass:wrong",
                      "-from:a@example.org", "-to:x@example.test", "-s:bad", "-msg:x")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Login failed: ", r.stderr)

    def test_strict_refuses_typos_before_the_server_is_asked(self):
        with tempfile.TemporaryDirectory() as folder:
            config = pathlib.Path(folder) / "qarvel.txt"
            config.write_text("FROM a@example.org\nTOO x@example.test\n")
            strict_env = {"QARVEL_STRICT": "1"}
            cases = [  # (-strict or the environment, the run's own arguments, the message, status)
                (["-strict"], None, ["-subject:Hi"], "Unknown option: -subject:Hi", 64),
                ([], strict_env, ["-bc:boss@example.test"], "Unknown option: -bc:boss@example.test", 64),
                ([], strict_env, ["-config:" + str(config)], str(config) + ":2: unknown key TOO", 78),
            ]
            for strict, environment, extra, message, status in cases:
                with self.subTest(message):
                    tag = uuid.uuid4().hex
                    args = [host("SMTP_PORT"), "-from:a@example.org", "-to:x@example.test",
                            "-s:strict " + tag, "-msg:x", *extra]
                    r = env.run(strict + args, env=environment)
                    self.assertEqual(r.returncode, status, r.stderr)
                    self.assertEqual(r.stderr.decode(), message + "\n")
                    self.assertEqual(r.stdout, b"")
                    # Without the check the old rules hold: the typo is passed over, the mail goes.
                    r = env.run(args)
                    self.assertEqual(r.returncode, 0, r.stderr)
                    self.assertEqual(len(messages_with(tag, 1)), 1)

    def test_cc_bcc_envelope(self):
        tag = uuid.uuid4().hex
        r = self.send(host("SMTP_PORT"), "-from:a@example.org", "-to:t1@example.test",
                      "-cc:c1@example.test", "-bcc:hidden@example.test", "-s:env " + tag, "-msg:x")
        self.assertEqual(r.returncode, 0, r.stderr)
        found = messages_with(tag, 3)
        self.assertEqual(len(found), 3)
        delivered = sorted(m["X-Original-To"] for m, _ in found)
        self.assertEqual(delivered, ["c1@example.test", "hidden@example.test", "t1@example.test"])
        for m, raw in found:
            self.assertEqual(m["Cc"], "c1@example.test")
            self.assertNotIn(b"hidden@", raw.split(b"\n\n", 1)[0].replace(b"X-Original-To: hidden", b"")
                             .replace(b"Delivered-To: hidden", b"").replace(b"for <hidden", b""))
            self.assertEqual(m["Precedence"], "bulk")

    def test_limit_transactions_and_copies(self):
        tag = uuid.uuid4().hex
        to = ",".join("r%d@example.test" % i for i in range(5))
        r = self.send(host("SMTP_PORT"), "-from:a@example.org", "-to:" + to, "-limit:2",
                      "-s:limit " + tag, "-msg:x", "-v:2")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.count(b"DATA\r\n"), 3)
        self.assertEqual(r.stdout.count(b"RSET\r\n"), 2)
        self.assertEqual(len(messages_with(tag, 5)), 5)

        tag = uuid.uuid4().hex
        r = self.send(host("SMTP_PORT"), "-from:a@example.org", "-to:x@example.test", "-cnt:3",
                      "-s:copies " + tag, "-msg:x")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.count(b"Sent "), 3)
        self.assertEqual(len(messages_with(tag, 3)), 3)

    def test_file_sender_matches_data(self):
        tag = uuid.uuid4().hex
        body = "line one\r\nline two\r\n"
        common = ["-from:a@example.org", "-to:x@example.test", "-s:mf " + tag, "-msg:" + body,
                  "-date:Mon, 05 Jan 2004 09:07:03 +0100", "-hdr:X-Test: fixed\r\n"]
        with tempfile.TemporaryDirectory() as folder:
            out = pathlib.Path(folder) / "out.eml"
            r = self.send("-mf", "-host:" + str(out), *common)
            self.assertEqual(r.returncode, 0, r.stderr)
            written = out.read_bytes()
        self.assertFalse(written.endswith(b"\r\n.\r\n"))
        r = self.send(host("SMTP_PORT"), *common)
        self.assertEqual(r.returncode, 0, r.stderr)
        [(msg, raw)] = messages_with(tag, 1)
        # Postfix stores LF line ends and prepends its own trace headers.
        stored = b"".join(line for line in raw.replace(b"\r\n", b"\n").splitlines(True)
                          if not line.startswith(b"Message-Id: "))
        self.assertTrue(stored.endswith(written.replace(b"\r\n", b"\n")),
                        (stored[-300:], written[-300:]))
        self.assertTrue(written.startswith(b"To: x@example.test\r\nFrom: a@example.org\r\n"))

    def test_missing_sender_recipient_or_data_file(self):
        for args, message in ((["-to:x@example.test", "-msg:x"], b"Missing from address"),
                              (["-from:a@example.org", "-msg:x"], b"Missing to address"),
                              (["-from:a@example.org", "-to:x@example.test", "-file:/nonexistent/qarvel.txt"],
                               b"Missing data file: /nonexistent/qarvel.txt")):
            with self.subTest(message=message):
                r = env.run(args)
                self.assertEqual(r.returncode, 1)
                self.assertIn(message, r.stderr)


    def test_refused_connection_is_tried_once_more(self):
        r = env.run(["-host:127.0.0.1:1", "-from:a@example.org", "-to:x@example.test", "-msg:x",
                     "-retries:1"])
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.count(b"Could not connect to server: 127.0.0.1:1"), 2)


if __name__ == "__main__":
    unittest.main()
