"""build/qarvel in IMAP mode against the private Dovecot, checked against what Python's imaplib
sees on the same server: folder lists, search and sort order, fetching and extraction (a large
attachment in bounded memory), deletion, moves and copies, folder management, access control,
APPEND of a composed message, and STARTTLS."""
import imaplib
import os
import pathlib
import re
import ssl
import tempfile
import unittest

import qarvel_env as env
from qarvel_env import message

USER = "carol"
CA = str(env.STATE / "tls" / "ca.crt")


def qarvel(*args, timeout=120):
    return env.run(["-imap", "-host:127.0.0.1", "-port:" + env.port("IMAP_PORT"), "-user:" + USER,
                    "-pass:secret", *args], timeout=timeout)


class Imap(unittest.TestCase):
    def setUp(self):
        self.payload = os.urandom(30000)
        env.fill_maildir(USER, [
            message("charlie", "c@example.test", date="Mon, 01 Jun 2026 10:00:00 +0000"),
            message("alpha", "a@example.test", date="Wed, 03 Jun 2026 10:00:00 +0000",
                    attachment=("data.bin", self.payload)),
            message("bravo", "b@example.test", date="Tue, 02 Jun 2026 10:00:00 +0000", body=".\n..x\n"),
        ])
        self.peer = imaplib.IMAP4("127.0.0.1", int(env.port("IMAP_PORT")))
        self.peer.login(USER, "secret")
        for name in ("Archive", "Kept", "Work", "Sent"):
            self.peer.delete(name)

    def tearDown(self):
        self.peer.logout()

    def peer_subjects(self, folder="INBOX"):
        typ, data = self.peer.select(folder)
        if int(data[0]) == 0:
            return []
        typ, data = self.peer.fetch("1:*", "(BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
        if typ != "OK" or data == [None]:
            return []
        return [part[1].decode().split(":", 1)[1].strip() for part in data if isinstance(part, tuple)]

    def brief_subjects(self, *args):
        r = qarvel("-br", *args)
        self.assertEqual(r.returncode, 0, r.stderr)
        return re.findall(r"^\d+\. (.*)$", r.stdout.decode(), re.M)

    def test_fetch_and_extract_match_the_server(self):
        with tempfile.TemporaryDirectory() as out:
            r = qarvel("-extract:" + out)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(pathlib.Path(out, "data.bin").read_bytes(), self.payload)
        text = r.stdout.decode()
        self.assertEqual(re.findall(r"^\d+\. (.*)$", text, re.M), self.peer_subjects())
        self.assertIn("\n.\n..x\n", text.replace("\r\n", "\n"))  # dots come back as they were

    def test_search_and_sort_order_as_the_server_gives_it(self):
        self.peer.select("INBOX")
        typ, data = self.peer.uid("SORT", "(SUBJECT)", "US-ASCII", "ALL")
        uids = data[0].split()
        subjects = []
        for uid in uids:
            typ, d = self.peer.uid("FETCH", uid, "(BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
            subjects.append(d[0][1].decode().split(":", 1)[1].strip())
        self.assertEqual(self.brief_subjects("-sort:SUBJECT"), subjects)
        self.assertEqual(self.brief_subjects("-sort:REVERSE DATE"), ["alpha", "bravo", "charlie"])
        self.assertEqual(self.brief_subjects("-search:FROM b@example.test"), ["bravo"])
        self.assertEqual(self.brief_subjects("-search:SUBJECT nothing-like-it"), [])

    def test_delete_move_and_copy_after_writing(self):
        self.peer.create("Archive")
        self.peer.create("Kept")
        r = qarvel("-msg:1", "-move:Archive", "-q")
        self.assertEqual(r.returncode, 0, r.stderr)
        r = qarvel("-msg:1", "-copy:Kept", "-q")
        self.assertEqual(r.returncode, 0, r.stderr)
        r = qarvel("-msg:2", "-rm", "-q")
        self.assertEqual(r.returncode, 0, r.stderr)
        # The move expunged "charlie" (with the session's end), -rm then took "bravo".
        self.assertEqual(self.peer_subjects("Archive"), ["charlie"])
        self.assertEqual(self.peer_subjects("Kept"), ["alpha"])
        self.assertEqual(self.peer_subjects(), ["alpha"])

    def test_folder_management_and_lists(self):
        r = qarvel("-create:Work")
        self.assertEqual(r.returncode, 0, r.stderr)
        typ, data = self.peer.list()
        peer_names = sorted(re.search(rb'"([^"]*)"$|(\S+)$', line).group(0).strip(b'"').decode()
                            for line in data)
        self.assertIn("Work", peer_names)
        r = qarvel("-list:*")
        self.assertEqual(sorted(r.stdout.decode().split()), peer_names)
        r = qarvel("-delete:Work")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertNotIn("Work", qarvel("-list:*").stdout.decode().split())
        r = qarvel("-delete:Work")
        self.assertIn("IMAP delete folder failed", r.stderr.decode())

    def test_access_control(self):
        typ, data = self.peer.myrights("INBOX")
        expected = data[0].split()[-1].decode()
        r = qarvel("-myrights")
        self.assertEqual(r.stdout.decode().split(), [expected])
        r = qarvel("-setacl:dave:lr")
        self.assertEqual(r.returncode, 0, r.stderr)
        typ, data = self.peer.getacl("INBOX")
        self.assertIn(b"dave lr", data[0])
        r = qarvel("-getacl")
        self.assertIn("dave lr", r.stdout.decode())
        r = qarvel("-deleteacl:dave")
        typ, data = self.peer.getacl("INBOX")
        self.assertNotIn(b"dave", data[0])

    def test_part_listing_and_single_part(self):
        r = qarvel("-msg:2", "-bs")
        self.assertIn("part:2,mime=application/octet-stream", r.stdout.decode().lower())
        r = qarvel("-msg:2", "-part:2", "-encoding:base64", "-q")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, self.payload)

    def test_append_of_a_composed_message(self):
        self.peer.create("Sent")
        body = pathlib.Path(tempfile.mkstemp()[1])
        try:
            body.write_text("first\n.\n..dots\n")
            r = env.run(["-imap", "-host:127.0.0.1", "-port:" + env.port("IMAP_PORT"), "-user:" + USER,
                         "-pass:secret", "-mbox:Sent", "-from:carol@example.test", "-to:x@example.test",
                         "-s:stored copy", "-file:" + str(body), "-qp:0"])
        finally:
            body.unlink()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.peer_subjects("Sent"), ["stored copy"])
        typ, data = self.peer.fetch("1", "(FLAGS BODY.PEEK[TEXT])")
        self.assertIn(b"\\Seen", data[0][0])

    def test_starttls_and_wrong_password(self):
        r = qarvel("-tls", "-cafile:" + CA, "-br")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(len(re.findall(r"^\d+\. ", r.stdout.decode(), re.M)), 3)
        r = env.run(["-imap", "-host:127.0.0.1", "-port:" + env.port("IMAP_PORT"), "-user:" + USER,
                     "-pass:wrong", "-br"])
        self.assertEqual(r.returncode, 1)
        self.assertIn("Could not log in as 'carol'", r.stderr.decode())

    def test_idle_ends_on_new_mail(self):
        import threading
        import time

        def deliver():
            time.sleep(1.5)
            other = imaplib.IMAP4("127.0.0.1", int(env.port("IMAP_PORT")))
            other.login(USER, "secret")
            other.append("INBOX", None, None, message("delta", "d@example.test",
                                                      date="Thu, 04 Jun 2026 10:00:00 +0000"))
            other.logout()

        thread = threading.Thread(target=deliver)
        thread.start()
        started = time.time()
        subjects = self.brief_subjects("-idle:30")
        thread.join()
        self.assertLess(time.time() - started, 20)
        self.assertEqual(subjects, ["charlie", "alpha", "bravo", "delta"])

    def test_implicit_tls(self):
        # -ssl reads from port 993; a relay there leads to Dovecot's implicit-TLS port.
        from test_tls import Relay
        try:
            relay = Relay(993, int(env.port("IMAPS_PORT")))
        except OSError as e:
            self.skipTest(f"127.0.0.1:993 is not free here ({e})")
        try:
            r = env.run(["-imap", "-ssl", "-host:127.0.0.1", "-user:" + USER, "-pass:secret",
                         "-cafile:" + CA, "-br"])
        finally:
            relay.stop()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(re.findall(r"^\d+\. (.*)$", r.stdout.decode(), re.M), self.peer_subjects())

    def test_large_literal_in_flat_memory(self):
        payload = os.urandom(40 << 20)
        env.fill_maildir(USER, [message("big", "b@example.test", date="Mon, 01 Jun 2026 10:00:00 +0000",
                                        attachment=("big.bin", payload))])
        with tempfile.TemporaryDirectory() as out:
            r, kib = env.peak_run(["-imap", "-host:127.0.0.1", "-port:" + env.port("IMAP_PORT"), "-user:" + USER,
                                   "-pass:secret", "-extract:" + out, "-q", "-rm"])
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(pathlib.Path(out, "big.bin").read_bytes(), payload)
        self.assertLess(kib, 40 * 1024, "peak memory grew with the message")
        self.assertEqual(self.peer_subjects(), [])


if __name__ == "__main__":
    unittest.main()
