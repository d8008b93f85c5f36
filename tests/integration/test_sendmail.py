"""qarvel as the system's sendmail, called by the real programs that mail through
/usr/sbin/sendmail: bsd-mailx's `mail -s`, `git send-email --sendmail-cmd`, a `-t -i` message
with a Bcc, and (with QARVEL_LONG_TESTS=1) cron itself in a private instance. Each message goes
through Postfix and is read back from its delivery. A relay that is down leaves the message in
dead.letter with exit status 75 (a refusal's status and words: SendmailRun in tests/run)."""
import os
import pathlib
import shutil
import subprocess
import unittest
import uuid

import qarvel_env as env

SENDER = "dev@example.test"


def originals(copies):
    """The envelope recipients of the copies, as Postfix's delivery names them."""
    return sorted(m["X-Original-To"] for m, _ in copies)


class Sendmail(unittest.TestCase):
    def setUp(self):
        self.home = env.temp_dir(self, "qarvel-sendmail-")
        self.bin = self.home / "bin"
        self.bin.mkdir()
        self.sendmail = self.bin / "sendmail"
        self.sendmail.symlink_to(env.BINARY)
        (self.home / "aliases").write_text(
            "# the system's aliases\npostmaster: root\nroot: ops@example.test, audit\n"
            "default: catchall@example.test\n")
        self.configure(env.port("SMTP_SUBMIT_PORT"))

    def configure(self, port, host="127.0.0.1", tls=True):
        """The relay: by default Postfix's submission port, which takes AUTH only after STARTTLS."""
        folder = self.home / ".config" / "qarvel"
        folder.mkdir(parents=True, exist_ok=True)
        config = folder / "qarvel.txt"
        secure = f"TLS\nCAFILE {env.CA}\nUSER test\nPASS secret\n" if tls else ""
        config.write_text(f"SMTP_HOST {host}\nSMTP_PORT {port}\nDOMAIN example.test\n{secure}"
                          f"ALIASES {self.home / 'aliases'}\n")
        config.chmod(0o600)

    def environment(self):
        return env.environment(HOME=str(self.home), PATH=f"{self.bin}:{os.environ['PATH']}")

    def run_sendmail(self, args, text, **kwargs):
        return subprocess.run([str(self.sendmail)] + args, input=text.encode(), capture_output=True,
                              env=self.environment(), timeout=60, **kwargs)

    def dead_letter(self):
        path = self.home / "dead.letter"
        return path.read_bytes() if path.exists() else b""

    def test_mail_from_bsd_mailx(self):
        if not shutil.which("bsd-mailx"):
            env.missing("bsd-mailx")
        tag = uuid.uuid4().hex
        rc = self.home / "mailrc"
        rc.write_text(f"set sendmail={self.sendmail}\n")
        r = subprocess.run(["bsd-mailx", "-s", "report " + tag, "root"], input=b"the nightly report\n",
                           env=dict(self.environment(), MAILRC=str(rc)), capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        # root is ops@example.test and audit, which no alias names: the default catches it.
        copies = env.delivered(tag, 2)
        self.assertEqual(originals(copies), ["catchall@example.test", "ops@example.test"])
        for m, _ in copies:
            self.assertEqual(m["Return-Path"], "<root@example.test>")
            self.assertIn("root@example.test", m["From"])
            self.assertIsNotNone(m["Date"])
            self.assertTrue(m["Message-ID"].endswith("@example.test>"), m["Message-ID"])
            self.assertTrue(m.get_content().startswith("the nightly report\n"))
        self.assertEqual(self.dead_letter(), b"")

    def test_patch_from_git_send_email_applies(self):
        git = shutil.which("git")
        if not git or subprocess.run([git, "send-email", "-h"], capture_output=True).returncode == 128:
            env.missing("git send-email (package git-email)")
        tag = uuid.uuid4().hex
        repo = self.home / "repo"

        def in_repo(*args, cwd=repo):
            return subprocess.run([git, *args], cwd=cwd, check=True, capture_output=True,
                                  env=dict(self.environment(), GIT_AUTHOR_NAME="Dev One",
                                           GIT_AUTHOR_EMAIL=SENDER, GIT_COMMITTER_NAME="Dev One",
                                           GIT_COMMITTER_EMAIL=SENDER))
        in_repo("init", "-q", str(repo), cwd=self.home)
        (repo / "notes.txt").write_text("one\n")
        in_repo("add", "notes.txt")
        in_repo("commit", "-qm", "first")
        (repo / "notes.txt").write_text("one\ntwo\n")
        # Lines of a lone "." and ".." in the text reach the reader as written.
        in_repo("commit", "-qam", f"notes: add two {tag}\n\nKept as written:\n.\n..\n")
        in_repo("format-patch", "-1", "-o", str(self.home / "out"))
        [patch] = (self.home / "out").glob("*.patch")
        in_repo("send-email", f"--sendmail-cmd={self.sendmail}", "--to=reader@example.test",
                f"--envelope-sender={SENDER}", "--suppress-cc=all", "--confirm=never", "--quiet", str(patch))
        [(m, raw)] = env.delivered(tag)
        self.assertEqual(m["Return-Path"], f"<{SENDER}>")
        self.assertIn(b"\nKept as written:\n.\n..\n", raw)
        # The mail applies as the patch it was.
        clone = self.home / "clone"
        in_repo("clone", "-q", str(repo), str(clone), cwd=self.home)
        in_repo("reset", "-q", "--hard", "HEAD~1", cwd=clone)
        mailed = self.home / "mailed.eml"
        mailed.write_bytes(raw)
        in_repo("am", "-q", str(mailed), cwd=clone)
        self.assertEqual((clone / "notes.txt").read_text(), "one\ntwo\n")

    def test_t_and_i_with_a_bcc(self):
        tag = uuid.uuid4().hex
        text = (f"From: Ops <ops@example.test>\nTo: Ann <ann@example.test>, postmaster\n"
                f"Cc: \"Doe, Bob\" <bob@example.test>\nBcc: hidden@example.test\n"
                f"Subject: bcc {tag}\n\nfirst\n.\n..two\nlast\n")
        r = self.run_sendmail(["-t", "-i"], text)
        self.assertEqual(r.returncode, 0, r.stderr)
        copies = env.delivered(tag, 5)
        self.assertEqual(originals(copies), ["ann@example.test", "bob@example.test", "catchall@example.test",
                                             "hidden@example.test", "ops@example.test"])
        for m, raw in copies:
            self.assertNotIn(b"\nBcc:", raw.split(b"\n\n", 1)[0])
            if m["X-Original-To"] != "hidden@example.test":
                self.assertNotIn(b"hidden", raw)
            self.assertEqual(m["Return-Path"], "<root@example.test>")
            self.assertTrue(m.get_content().startswith("first\n.\n..two\nlast\n"), m.get_content())

    def test_relay_down_keeps_the_message_in_dead_letter(self):
        self.configure("1", tls=False)  # nothing listens on port 1
        tag = uuid.uuid4().hex
        text = f"Subject: down {tag}\n\nFrom the start\nkept\n"
        r = self.run_sendmail(["-i", "ann@example.test"], text)
        self.assertEqual(r.returncode, 75, r.stderr)
        self.assertIn(str(self.home / "dead.letter").encode(), r.stderr)
        kept = self.dead_letter()
        self.assertTrue(kept.startswith(b"From root@example.test "), kept)
        self.assertIn(f"\nSubject: down {tag}\n".encode(), kept)
        self.assertIn(b"\n\n>From the start\nkept\n\n", kept)
        self.assertEqual(env.inbox_with(tag, timeout=0), [])

    def test_cron_mails_a_jobs_output(self):
        if os.environ.get("QARVEL_LONG_TESTS") != "1":
            self.skipTest("cron runs a job at the next full minute: QARVEL_LONG_TESTS=1")
        cron = shutil.which("cron") or "/usr/sbin/cron"
        if not os.access(cron, os.X_OK) or not shutil.which("unshare"):
            env.missing("cron and unshare")
        tag = uuid.uuid4().hex
        root = self.home / "cron"
        for sub in ("run", "spool", "cron.d"):
            (root / sub).mkdir(parents=True)
        crontab = root / "crontab"
        crontab.write_text(f"SHELL=/bin/sh\nMAILTO=postmaster\n* * * * * root echo cron job {tag}\n")
        # cron runs /usr/sbin/sendmail: in its own mount namespace that is qarvel, and the
        # system's crontab and spool are the test's.
        script = ("mount --make-rprivate / && mount -t tmpfs tmpfs /run"
                  f" && mount --bind {env.BINARY} /usr/sbin/sendmail"
                  f" && mount --bind {crontab} /etc/crontab && mount --bind {root / 'cron.d'} /etc/cron.d"
                  f" && mount --bind {root / 'spool'} /var/spool/cron/crontabs && exec {cron} -f")
        daemon = subprocess.Popen(["unshare", "-m", "sh", "-c", script], env=self.environment(),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            copies = [(env.parsed(p), None) for p in env.inbox_with(tag, 2, timeout=80)]
        finally:
            daemon.terminate()
            daemon.wait(10)
        self.assertEqual(originals(copies), ["catchall@example.test", "ops@example.test"])
        for m, _ in copies:
            self.assertIn("root@example.test", m["From"])
            self.assertIn(f"cron job {tag}", m.get_content())


if __name__ == "__main__":
    unittest.main()
