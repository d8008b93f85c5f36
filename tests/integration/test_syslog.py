"""-syslog against a real syslog daemon: rsyslogd on a private socket (scripts/servers/syslog.sh),
reached through /dev/log in a mount namespace of the run's own (with_dev_log). A message sent
through Postfix with STARTTLS and a login, a mailbox read from Dovecot and a run refused before
any message went out each leave their line in the mail facility: host, TLS, login, envelope,
the server's last reply and the exit status, and never the password."""
import subprocess
import time
import unittest
import uuid

import qarvel_env as env

LOG = env.STATE / "syslog" / "mail.log"
SOCKET = env.STATE / "syslog" / "log.sock"
COMMON = env.SOURCE / "scripts" / "servers" / "common.sh"
CA = env.CA


def run_logged(args):
    return subprocess.run(["bash", "-c", '. "$0"; with_dev_log "$@"', str(COMMON), str(SOCKET), env.BINARY, *args],
                          capture_output=True, timeout=60)


def line_with(tag, timeout=10):
    """The log line that names tag (rsyslog writes it a moment after qarvel sent it)."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        lines = [l for l in LOG.read_text(errors="replace").splitlines() if tag in l] if LOG.exists() else []
        if lines:
            return lines
        time.sleep(0.1)
    return []


class Syslog(unittest.TestCase):
    def setUp(self):
        if not SOCKET.exists():
            env.missing("no private syslog socket (scripts/servers/syslog.sh needs rsyslog)")

    def test_lines_of_a_send_a_read_and_a_refusal(self):
        tag = uuid.uuid4().hex
        submit = "-host:127.0.0.1:" + env.port("SMTP_SUBMIT_PORT")
        r = run_logged([submit, "-tls", "-cafile:" + CA, "-esmtp", "-user:test", "-pass:secret", "-syslog", "-q",
                        "-from:" + tag + "@example.org", "-to:x@example.test", "-s:log", "-msg:x"])
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
        [line] = line_with(tag)
        self.assertRegex(line, r" qarvel\[\d+\]: host=127\.0\.0\.1 tls=on user='test' from='" + tag +
                         r"@example\.org' recipients='x@example\.test' size=\d+ reply='250 2\.0\.0 Ok: queued as \w+' exit=0$")
        self.assertNotIn("secret", line)

        env.fill_maildir("test", [f"From: a@example.org\nSubject: {tag}\n\nbody\n"])
        user = "-user:test"
        r = run_logged(["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), user, "-pass:secret", "-br", "-q",
                        "-syslog"])
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = line_with("host=127.0.0.1:" + env.port("POP3_PORT") + " tls=off user='test'")
        self.assertTrue(lines)
        self.assertTrue(lines[-1].endswith(" reply='+OK Logging out.' exit=0"), lines[-1])

        # A login refused under -strict: no message went out, and the run's line says why.
        r = run_logged([submit, "-tls", "-cafile:" + CA, "-esmtp", "-user:test", "-pass:wrong", "-syslog", "-strict",
                        "-from:" + tag + "@example.net", "-to:x@example.test", "-msg:x"])
        self.assertEqual(r.returncode, 77, r.stderr)
        [line] = line_with(tag + "@example.net")
        self.assertRegex(line, r"reply='535 5\.7\.8 Error: authentication failed: [^']*' exit=77$")
        self.assertNotIn("wrong", line)


if __name__ == "__main__":
    unittest.main()
