"""Sending through a real Postfix: AUTH PLAIN and LOGIN traced with the data, cc/bcc envelopes,
copies, the -mf file against what the server received, and the runs that end before any server
is asked. (Header lines: SenderSession.HeaderLinesInOrderWithConditions; -strict:
StrictCheck.RefusalEndsTheRunWithItsStatus; TLS: test_tls.py; broken servers: send_faults_test.)"""
import pathlib
import tempfile
import unittest
import uuid

import qarvel_env as env


def host(port_name):
    return "-host:127.0.0.1:" + env.port(port_name)


class SendThroughPostfix(unittest.TestCase):
    def send(self, *args):
        return env.run(list(args), timeout=60)

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
                self.assertEqual(len(env.delivered(tag, 1)), 1)
        r = self.send(host("SMTP_PORT"), "-esmtp", "-user:test", "-pass:wrong",
                      "-from:a@example.org", "-to:x@example.test", "-s:bad", "-msg:x")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Login failed: ", r.stderr)

    def test_cc_bcc_envelope(self):
        tag = uuid.uuid4().hex
        r = self.send(host("SMTP_PORT"), "-from:a@example.org", "-to:t1@example.test",
                      "-cc:c1@example.test", "-bcc:hidden@example.test", "-s:env " + tag, "-msg:x")
        self.assertEqual(r.returncode, 0, r.stderr)
        found = env.delivered(tag, 3)
        self.assertEqual(len(found), 3)
        delivered = sorted(m["X-Original-To"] for m, _ in found)
        self.assertEqual(delivered, ["c1@example.test", "hidden@example.test", "t1@example.test"])
        for m, raw in found:
            self.assertEqual(m["Cc"], "c1@example.test")
            self.assertNotIn(b"hidden@", raw.split(b"\n\n", 1)[0].replace(b"X-Original-To: hidden", b"")
                             .replace(b"Delivered-To: hidden", b"").replace(b"for <hidden", b""))
            self.assertEqual(m["Precedence"], "bulk")

    def test_copies(self):
        # -limit: transactions: SmtpSession.RecipientLimitAnd452Transactions and test_interop.py.
        tag = uuid.uuid4().hex
        r = self.send(host("SMTP_PORT"), "-from:a@example.org", "-to:x@example.test", "-cnt:3",
                      "-s:copies " + tag, "-msg:x")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.count(b"Sent "), 3)
        self.assertEqual(len(env.delivered(tag, 3)), 3)

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
        [(msg, raw)] = env.delivered(tag, 1)
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
