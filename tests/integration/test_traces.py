"""Credentials in the traces of real dialogues: at every -v: level, Postfix's AUTH PLAIN and LOGIN,
Dovecot's POP3 USER/PASS and APOP and its IMAP login show "***" where the answer or password
stood, while the login itself succeeds (NNTP AUTHINFO is checked in test_news.py)."""
import base64
import unittest
import uuid

import qarvel_env as env

SECRETS = [b"secret", base64.b64encode(b"\0test\0secret"), base64.b64encode(b"secret")]


class SecretTraces(unittest.TestCase):
    def assertHidden(self, r, *shown):
        self.assertEqual(r.returncode, 0, r.stderr + r.stdout)
        for line in shown:
            self.assertIn(line, r.stdout)
        for secret in SECRETS:
            self.assertNotIn(secret, r.stdout)

    def test_smtp_auth(self):
        for level in ("2", "3"):
            for port_name, shown in (("SMTP_PORT", b"AUTH PLAIN\r\n"), ("SMTP_LOGIN_PORT", b"AUTH LOGIN ***\r\n")):
                with self.subTest(level=level, port=port_name):
                    r = env.run(["-host:127.0.0.1", "-port:" + env.port(port_name), "-esmtp", "-user:test",
                                 "-pass:secret", "-from:a@example.org", "-to:x@example.test",
                                 "-s:trace " + uuid.uuid4().hex, "-msg:x", "-v:" + level])
                    self.assertHidden(r, shown, b"\r\n***\r\n", b"235 ")

    def test_pop3_and_imap_logins(self):
        env.fill_maildir("alice", ["Subject: one\n\nbody\n"])
        env.fill_maildir("carol", ["Subject: one\n\nbody\n"])
        pop3 = ["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), "-user:alice", "-pass:secret", "-br"]
        imap = ["-imap", "-host:127.0.0.1", "-port:" + env.port("IMAP_PORT"), "-user:carol", "-pass:secret", "-br"]
        for level in ("2", "3"):
            with self.subTest(level=level):
                self.assertHidden(env.run(pop3 + ["-v:" + level]), b"USER alice\r\n", b"PASS ***\r\n")
                self.assertHidden(env.run(pop3 + ["-apop", "-v:" + level]), b"APOP alice ***\r\n")
                self.assertHidden(env.run(imap + ["-v:" + level]), b"***\r\n", b"1. one")


if __name__ == "__main__":
    unittest.main()
