"""The crontab lines of the README, run as written (by /bin/sh, as cron runs them, in the owner's
home folder) against the test servers: the night's report goes out through Postfix and the list
run answers a subscription read from Dovecot, both without a word on standard output or error
beyond the list's log line, which is what cron would mail."""
import os
import re
import subprocess
import time
import unittest
import uuid

import qarvel_env as env

CRON_LINE = re.compile(r"^    (?:\S+ ){5}(qarvel .*)$")


def cron_commands():
    return [m.group(1) for line in (env.SOURCE / "README.md").read_text().splitlines() if (m := CRON_LINE.match(line))]


def delivered_with(tag, timeout=15):
    """The messages of Postfix's inbox that hold tag anywhere (the lines fix the subjects)."""
    deadline = time.time() + timeout
    while True:
        found = [p for p in env.maildir_files(env.INBOX) if tag.encode() in p.read_bytes()]
        if found or time.time() >= deadline:
            return found
        time.sleep(0.1)


def private(path, text):
    with os.fdopen(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as f:
        f.write(text)


class CronLines(unittest.TestCase):
    def run_as_cron(self, command, home):
        path = os.path.dirname(env.BINARY) + os.pathsep + os.environ.get("PATH", "")
        return subprocess.run(["/bin/sh", "-c", command], cwd=home, capture_output=True, timeout=120,
                              env={"HOME": str(home), "PATH": path, "SHELL": "/bin/sh"})

    def test_every_crontab_line_of_the_readme(self):
        commands = cron_commands()
        self.assertEqual(len(commands), 2, commands)
        smtp = f"SMTP_HOST 127.0.0.1\nSMTP_PORT {env.port('SMTP_PORT')}\n"
        for command in commands:
            with self.subTest(command):
                home = env.temp_dir(self)
                tag = uuid.uuid4().hex
                if "-listserv:" in command:
                    (home / "list" / "files").mkdir(parents=True)
                    (home / "list" / "subscribers").write_text("")
                    private(home / "list" / "list.conf",
                            smtp + f"POP3_HOST 127.0.0.1\nPOP3_PORT {env.port('POP3_PORT')}\nUSER list\nPASS secret\n")
                    ann = f"ann-{tag}@example.test"
                    env.fill_maildir("list", [f"From: {ann}\nTo: list@example.org\nSubject: subscribe\n\nplease\n"])
                    r = self.run_as_cron(command, home)
                    self.assertEqual((r.returncode, r.stderr), (0, b""))
                    self.assertEqual(r.stdout, f"list/subscribe: {ann}\n".encode())
                    self.assertEqual((home / "list" / "subscribers").read_text(), ann + "\n")
                    self.assertEqual(len(delivered_with(tag)), 1)  # the answer, through Postfix
                    self.assertEqual(env.maildir_files(env.user_maildir("list")), [])  # -rm
                else:
                    (home / "qarvel.txt").write_text(smtp + "FROM reports@example.org\n")
                    (home / "report.txt").write_text(f"report {tag}\n")
                    r = self.run_as_cron(command, home)
                    self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
                    delivered = delivered_with(tag)
                    self.assertEqual(len(delivered), 1)
                    self.assertIn(b"Subject: Nightly report", delivered[0].read_bytes())


if __name__ == "__main__":
    unittest.main()
