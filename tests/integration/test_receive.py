"""Reading mailboxes end to end: build/qarvel is run as a user would run it against the private
Dovecot (POP3), with extraction, commands, deletion, forwarding and read receipts; what is left
on the server, the extracted files and what Postfix delivered are checked afterwards. (Filters,
a missing extraction folder, a full standard output and refused logins: tests/receive; one
message extracted and deleted on each of three servers: test_interop.py.)"""
import os
import pathlib
import resource
import signal
import subprocess
import tempfile
import unittest
import uuid

import qarvel_env as env
from qarvel_env import message

POP3 = ["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), "-pass:secret"]


def pop3(user, *args, **kw):
    return env.run(POP3 + ["-user:" + user] + list(args), **kw)


def text(result):
    return result.stdout.decode(errors="replace"), result.stderr.decode(errors="replace")


def left_on_server(user):
    """The subjects of the messages still in the user's Maildir, in mailbox order: a fault that
    deletes the wrong message leaves the same count, not the same subjects."""
    return [str(env.parsed(p)["Subject"]) for p in env.maildir_files(env.user_maildir(user))]


class ReceiveTest(unittest.TestCase):
    def setUp(self):
        self.tmp = env.temp_dir(self, "qarvel-receive-")

    def test_five_hundred_messages_and_fast_deletion_of_a_range(self):
        env.fill_maildir("carol", [message(f"Number {i:03d}", sender=f"s{i}@example.test")
                                   for i in range(1, 501)])
        out, err = text(r := pop3("carol", "-br"))
        self.assertEqual(r.returncode, 0, err)
        self.assertIn("1. Number 001\n", out)
        self.assertIn("500. Number 500\n", out)
        numbers = [f"Number {i:03d}" for i in range(1, 501)]
        self.assertEqual(left_on_server("carol"), numbers)
        # Fast deletion: no output, nothing retrieved, every message in the range gone and
        # the ones on either side of it kept.
        r = pop3("carol", "-rm", "-br", "-q", "-msg:3", "-first:101")  # 3 up to 3 + 101
        self.assertEqual((r.returncode, r.stdout), (0, b""))
        self.assertEqual(left_on_server("carol"), numbers[:2] + numbers[104:])

    def test_failed_extraction_keeps_the_message(self):
        env.fill_maildir("dave", [message("Small", attachment=("small.bin", b"s" * 100)),
                                  message("Keep me", attachment=("big.bin", os.urandom(200000)))])
        folder = self.tmp / "out"
        folder.mkdir()

        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))

        full = dict(os.environ)
        r = subprocess.run([env.BINARY] + POP3 + ["-user:dave", "-extract:" + str(folder), "-rm"],
                           capture_output=True, timeout=60, env=full, preexec_fn=small_files)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn(b"message #2", r.stderr)
        self.assertIn(b"Deleted message #1", r.stdout)
        self.assertNotIn(b"Deleted message #2", r.stdout)
        self.assertEqual(left_on_server("dave"), ["Keep me"])
        self.assertEqual((folder / "small.bin").read_bytes(), b"s" * 100)
        self.assertFalse((folder / "big.bin").exists())

    def test_forwarding_and_read_receipts_reach_postfix(self):
        token = uuid.uuid4().hex[:12]
        env.fill_maildir("bob", [message(f"Forward {token}", body="forwarded body\n",
                                         headers={"Disposition-Notification-To": "asker@example.test"})])
        relay = "127.0.0.1:" + env.port("SMTP_PORT")
        r = pop3("bob", "-relay:" + relay)
        self.assertEqual(r.returncode, 0, r.stderr)
        got = [env.parsed(p) for p in env.inbox_with(f"Forward {token}")]
        self.assertEqual(len(got), 1)
        self.assertEqual(got[0].get_content().strip(), "forwarded body")
        self.assertEqual(got[0]["From"], "Sender <sender@example.test>")

        # The SMTP port comes from the configuration, the POP3 port from -port:. (A FROM key
        # would make this a sending run: a sender address asks for sending, not reading.)
        config = self.tmp / "qarvel.txt"
        config.write_text(f"SMTP_PORT {env.port('SMTP_PORT')}\n")
        r = env.run(POP3 + ["-user:bob", "-mdn", "-config:" + str(config)])
        self.assertEqual(r.returncode, 0, r.stderr)
        got = [env.parsed(p) for p in env.inbox_with(f"Read: Forward {token} (RECEIPT)")]
        self.assertEqual(len(got), 1)
        self.assertIn("asker@example.test", got[0]["X-Original-To"] or got[0]["Delivered-To"] or "")


if __name__ == "__main__":
    unittest.main()
