"""What -maildir: and -mboxfile: deliver, read back by real readers: build/qarvel fetches the
private Dovecot's POP3 mailbox (as the mail user, as a cron job would) into a Maildir and an
mbox file; a second Dovecot of its own serves that Maildir (mail_location = maildir:...) and
qarvel -imap reads it back; Python's mailbox.Maildir and mailbox.mbox read
the files. Every message must be the one the server held. -seen: fetches only what is new, per
account, and a new UIDVALIDITY makes every message new again."""
import mailbox
import os
import pathlib
import re
import shutil
import socket
import subprocess
import time
import unittest

import mailbox_servers
import qarvel_env as env

MAIL_USER = ["setpriv", f"--reuid={env.MAIL_UID}", f"--regid={env.MAIL_UID}", "--clear-groups"]


def held_messages():
    """Messages a reader must get back byte for byte: attachments, a leading dot, "From "
    lines (quoted in an mbox file), 8-bit text, a long line."""
    return [
        env.message("Attachment", attachment=("data.bin", os.urandom(50000))),
        env.message("Dots and From", body=".one dot\n..two dots\nFrom here on\n>From quoted\n.\nend\n"),
        env.message("Grüße", body="Käse und Brot, " * 400 + "\n"),
    ]


def stored(message):
    return message.replace(b"\r\n", b"\n")


def run_as_mail_user(args):
    return subprocess.run(MAIL_USER + [env.BINARY] + args, capture_output=True, timeout=60, env=env.environment())


class MaildirServer:
    """A Dovecot of its own whose one user, reader (password "secret"), has the Maildir."""

    def __init__(self, test, maildir):
        if not shutil.which("dovecot"):
            env.missing("dovecot")
        d = env.temp_dir(test, "qarvel-dovecot-")
        os.chmod(d, 0o755)
        self.port = int(env.port("MAILDIR_IMAP_PORT"))
        (d / "passwd").write_text(f"reader:{{PLAIN}}secret:{env.MAIL_UID}:{env.MAIL_UID}::{maildir}\n")
        (d / "dovecot.conf").write_text(f"""instance_name = dovecot-qarvel-maildir-{os.getpid()}
base_dir = {d}/run
state_dir = {d}/state
log_path = {d}/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {d}/passwd
}}
userdb {{
  driver = passwd-file
  args = {d}/passwd
}}
mail_location = maildir:{maildir}:INDEX={d}/index
first_valid_uid = 100
default_internal_user = dovecot
default_login_user = dovenull
service imap-login {{
  inet_listener imap {{
    port = {self.port}
  }}
}}
""")
        (d / "index").mkdir()
        os.chown(d / "index", env.MAIL_UID, env.MAIL_UID)
        self.process = subprocess.Popen(["dovecot", "-F", "-c", str(d / "dovecot.conf")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        test.addCleanup(self.stop)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), 1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise AssertionError("the Maildir's Dovecot did not listen on %d; see %s" % (self.port, d / "dovecot.log"))

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


class DeliveryTest(unittest.TestCase):
    def setUp(self):
        self.root = env.temp_dir(self)
        os.chown(self.root, env.MAIL_UID, env.MAIL_UID)
        self.held = held_messages()
        env.fill_maildir("test", self.held)
        self.pop3 = ["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), "-user:test", "-pass:secret", "-q"]

    def test_real_readers_get_every_message_as_the_server_held_it(self):
        maildir, mbox = self.root / "Maildir", self.root / "mbox"
        r = run_as_mail_user(self.pop3 + [f"-maildir:{maildir}", f"-mboxfile:{mbox}"])
        self.assertEqual(r.returncode, 0, r.stderr)
        want = sorted(stored(m) for m in self.held)

        # Python's readers of the two formats.
        box = mailbox.Maildir(str(maildir), create=False)
        self.assertEqual(sorted(box.get_bytes(key) for key in box.keys()), want)
        # An mbox file quotes "From " lines with one more ">"; mailbox.mbox leaves the quotes,
        # and the empty line that ends a message.
        box = mailbox.mbox(str(mbox), create=False)
        unquoted = [re.sub(rb"(?m)^>(>*From )", rb"\1", box.get_bytes(key)) for key in box.keys()]
        box.close()
        self.assertEqual(sorted(m[:-1] if m.endswith(b"\n\n") else m for m in unquoted), want)

        # Dovecot serving the Maildir; qarvel reads it over IMAP into a second Maildir.
        server = MaildirServer(self, maildir)
        again = self.root / "again"
        r = run_as_mail_user(["-imap", "-host:127.0.0.1", f"-port:{server.port}", "-user:reader", "-pass:secret",
                              "-q", f"-maildir:{again}"])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(p.read_bytes() for p in env.maildir_files(again)), want)

    def test_seen_file_fetches_only_what_is_new(self):
        maildir, seen = self.root / "Maildir", self.root / "seen"
        args = self.pop3 + [f"-maildir:{maildir}", f"-seen:{seen}"]
        for expected in (3, 3):  # the second run finds nothing new
            r = run_as_mail_user(args)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(len(env.maildir_files(maildir)), expected)
        lines = seen.read_text().splitlines()
        self.assertEqual(len(lines), 3)
        self.assertTrue(all(l.startswith(f"pop3://test@127.0.0.1:{env.port('POP3_PORT')} ") for l in lines), lines)
        # A new message, and one gone from the server: only the new one comes, and the gone
        # one leaves the file.
        # (Into the server's Maildir as a delivery would: a fresh fill could give the new
        # message an id the old one had.)
        newer = env.message("Newer")
        box = env.user_maildir("test")
        for path in env.maildir_files(box):
            if path.read_bytes() == stored(self.held[0]):
                path.unlink()
        path = box / "new" / f"{int(time.time()) + 1}.newer.localhost"
        path.write_bytes(stored(newer))
        os.chown(path, env.MAIL_UID, env.MAIL_UID)
        r = run_as_mail_user(args)
        self.assertEqual(r.returncode, 0, r.stderr)
        got = [p.read_bytes() for p in env.maildir_files(maildir)]
        self.assertEqual(len(got), 4)
        self.assertIn(stored(newer), got)
        self.assertEqual(len(seen.read_text().splitlines()), 3)

    def test_seen_file_keeps_accounts_apart_and_a_new_uidvalidity_starts_again(self):
        server = mailbox_servers.ImapServer(self.held[:2])
        self.addCleanup(server.stop)
        maildir, seen = self.root / "Maildir", self.root / "seen"
        seen.write_text("pop3://other@example.test:110 kept-id\n")
        args = ["-imap", "-host:127.0.0.1", f"-port:{server.port}", "-user:u", "-pass:p", "-q",
                f"-maildir:{maildir}", f"-seen:{seen}"]
        for uidvalidity, total in ((7, 2), (7, 2), (8, 4)):
            server.UIDVALIDITY = uidvalidity
            r = env.run(args)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(len(env.maildir_files(maildir)), total)
        text = seen.read_text()
        self.assertIn("pop3://other@example.test:110 kept-id\n", text)
        self.assertNotIn("UIDVALIDITY=7", text)
        self.assertEqual(text.count(f"imap://u@127.0.0.1:{server.port}/INBOX;UIDVALIDITY=8 "), 2)


if __name__ == "__main__":
    unittest.main()
