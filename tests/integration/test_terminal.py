"""qarvel at a terminal (a pseudo-terminal as the controlling terminal): the password prompt is
written to the terminal, never into the listing, the typed password is not echoed, and the
terminal's echo is back after the run and after a Ctrl-C at the prompt; without a terminal the
run ends with "Missing password" before it connects. An argument that is no option gets one
warning line on a terminal and none elsewhere."""
import os
import pty
import signal
import subprocess
import termios
import time
import unittest
import uuid

import qarvel_env as env


class Terminal:
    """qarvel as the leader of a session whose controlling terminal is a pseudo-terminal, with
    standard input, output and error on it, or standard output into a file."""

    def __init__(self, args, stdout_file=None):
        self.pid, self.master = pty.fork()
        if self.pid == 0:
            if stdout_file:
                fd = os.open(stdout_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
                os.dup2(fd, 1)
            os.execv(env.BINARY, [env.BINARY] + args)
        self.seen = b""

    def read_until(self, text, timeout=20):
        deadline = time.time() + timeout
        while text not in self.seen and time.time() < deadline:
            try:
                data = os.read(self.master, 4096)
            except OSError:
                break
            if not data:
                break
            self.seen += data
        return text in self.seen

    def echo_on(self):
        return bool(termios.tcgetattr(self.master)[3] & termios.ECHO)

    def wait(self):
        self.read_until(b"\0", timeout=20)  # to the end of its output
        _, status = os.waitpid(self.pid, 0)
        return status

    def close(self):
        os.close(self.master)


class AtTheTerminal(unittest.TestCase):
    def reading(self, *extra):
        return ["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), "-user:test", "-br", *extra]

    def test_password_prompt_on_the_terminal_with_echo_off(self):
        tag = uuid.uuid4().hex
        env.fill_maildir("test", [f"From: a@example.org\nTo: test@localhost\nSubject: {tag}\n\nbody\n"])
        listing = env.temp_dir(self) / "listing.txt"
        t = Terminal(self.reading(), stdout_file=str(listing))
        self.addCleanup(t.close)
        self.assertTrue(t.read_until(b"Password: "), t.seen)
        self.assertFalse(t.echo_on())
        os.write(t.master, b"secret\n")
        status = t.wait()
        self.assertEqual(os.waitstatus_to_exitcode(status), 0, t.seen)
        self.assertNotIn(b"secret", t.seen)  # not echoed
        self.assertTrue(t.echo_on())
        text = listing.read_bytes()
        self.assertIn(tag.encode(), text)
        self.assertNotIn(b"Password", text)

    def test_echo_comes_back_after_ctrl_c_at_the_prompt(self):
        for signal_number in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=signal_number):
                t = Terminal(self.reading())
                self.addCleanup(t.close)
                self.assertTrue(t.read_until(b"Password: "), t.seen)
                self.assertFalse(t.echo_on())
                os.kill(t.pid, signal_number)
                status = t.wait()
                self.assertEqual(os.WTERMSIG(status), signal_number)
                self.assertTrue(t.echo_on())

    def test_no_terminal_no_prompt(self):
        # Standard input is no terminal: nothing is asked, and nothing is connected to (the
        # port refuses, which would say so).
        r = env.run(["-host:127.0.0.1", "-port:1", "-user:test", "-br"], input=b"secret\n")
        self.assertEqual((r.returncode, r.stdout, r.stderr), (1, b"", b"Missing password\n"))

    def test_ignored_option_is_named_on_a_terminal_only(self):
        target = env.temp_dir(self) / "out.eml"
        args = ["-mf", "-host:" + str(target), "-from:a@example.org", "-to:b@example.test", "-subject:Hi",
                "-q", "-msg:x"]
        t = Terminal(args)
        self.addCleanup(t.close)
        self.assertEqual(os.waitstatus_to_exitcode(t.wait()), 0, t.seen)
        self.assertEqual(t.seen.replace(b"\r\n", b"\n"), b"ignored: -subject:Hi (give -strict to refuse it)\n")
        r = env.run(args)
        self.assertEqual((r.returncode, r.stderr), (0, b""))


if __name__ == "__main__":
    unittest.main()
