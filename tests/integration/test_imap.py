"""build/qarvel in IMAP mode against the private Dovecot, where the interoperability matrix
(test_interop.py: listing, search, sort, parts, IDLE, access control, folders, APPEND, copies
and moves against Dovecot, Cyrus and Courier) does not reach: implicit TLS
and a large literal extracted in bounded memory."""
import imaplib
import os
import pathlib
import re
import tempfile
import unittest

import qarvel_env as env
from qarvel_env import message

USER = "carol"
CA = env.CA


def imap_args(*args):
    return ["-imap", "-host:127.0.0.1", "-port:" + env.port("IMAP_PORT"), "-user:" + USER, *args]


class Imap(unittest.TestCase):
    def setUp(self):
        env.fill_maildir(USER, [message("charlie", "c@example.test"), message("alpha", "a@example.test")])

    def peer_subjects(self):
        peer = imaplib.IMAP4("127.0.0.1", int(env.port("IMAP_PORT")))
        try:
            peer.login(USER, "secret")
            if int(peer.select("INBOX")[1][0]) == 0:
                return []
            typ, data = peer.fetch("1:*", "(BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
            return [part[1].decode().split(":", 1)[1].strip() for part in data if isinstance(part, tuple)]
        finally:
            peer.logout()

    def test_implicit_tls(self):
        # IMAPS on Dovecot's own port: the host's port beats the 993 that -ssl sets.
        r = env.run(["-imap", "-ssl", "-host:127.0.0.1:" + env.port("IMAPS_PORT"), "-user:" + USER,
                     "-pass:secret", "-cafile:" + CA, "-br"])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(re.findall(r"^\d+\. (.*)$", r.stdout.decode(), re.M), self.peer_subjects())

    def test_large_literal_in_flat_memory(self):
        payload = os.urandom(40 << 20)
        env.fill_maildir(USER, [message("big", "b@example.test", attachment=("big.bin", payload))])
        with tempfile.TemporaryDirectory() as out:
            r, kib = env.peak_run(imap_args("-pass:secret", "-extract:" + out, "-q", "-rm"))
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(pathlib.Path(out, "big.bin").read_bytes(), payload)
        self.assertLess(kib, 40 * 1024, "peak memory grew with the message")
        self.assertEqual(self.peer_subjects(), [])


if __name__ == "__main__":
    unittest.main()
