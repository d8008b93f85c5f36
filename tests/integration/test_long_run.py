"""Long runs: two repeating qarvel processes (-severy:1) at the same time, one sending a small
message with an attachment to Postfix every second, one reading and extracting a mailbox from
Dovecot every second. Their open file descriptors and resident memory are sampled after the
first few repetitions and again after N of them: the descriptor count must not change at all and
the resident size must stay within a small bound. N is QARVEL_LONG_RUNS (default 15; 500 for the
full soak)."""
import os
import pathlib
import platform
import subprocess
import sys
import threading
import time
import unittest
import uuid

import qarvel_env as env
from qarvel_env import message

RUNS = int(os.environ.get("QARVEL_LONG_RUNS", "15"))
WARM_UP = 5                   # repetitions before the first sample (allocator pools settle)
RSS_BOUND_KIB = 1024          # growth allowed between the two samples
READER_USER = "test"
# The sleep between runs: a sample is taken only while the process sits in it, so no run's
# connection or files are open at that moment.
SLEEP_CALLS = {"x86_64": {35, 230}, "aarch64": {101, 115}}.get(platform.machine(), set())


class Repeater:
    """One qarvel process started with -severy:1; a thread counts the stdout lines that mark
    the end of a run."""

    def __init__(self, name, args, marker, folder):
        self.marker = marker
        self.stderr_text = ""
        self.runs = 0
        self.lines = []
        self.changed = threading.Condition()
        self.err = open(folder / (name + ".err"), "w+b")
        self.proc = subprocess.Popen([env.BINARY, "-severy:1"] + args, stdout=subprocess.PIPE,
                                     stderr=self.err, stdin=subprocess.DEVNULL, env=env.environment())
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            line = raw.decode(errors="replace")
            with self.changed:
                if len(self.lines) < 50:
                    self.lines.append(line)
                if line.startswith(self.marker):
                    self.runs += 1
                    self.changed.notify_all()

    def errors(self):
        self.err.flush()
        self.err.seek(0)
        return self.err.read().decode(errors="replace")[-2000:]

    def wait_runs(self, count, timeout):
        deadline = time.monotonic() + timeout
        with self.changed:
            while self.runs < count:
                left = deadline - time.monotonic()
                if left <= 0 or self.proc.poll() is not None:
                    raise AssertionError(f"{self.marker!r}: {self.runs} runs of {count}, exit "
                                         f"{self.proc.poll()}; stdout {self.lines[:6]}; "
                                         f"stderr {self.errors()}")
                self.changed.wait(min(left, 1.0))

    def sleeping(self):
        """True while the process is in the sleep between two runs."""
        try:
            number = (pathlib.Path(f"/proc/{self.proc.pid}/syscall").read_text().split() or ["-"])[0]
        except OSError:
            return None
        return number.isdigit() and int(number) in SLEEP_CALLS

    def sample(self, timeout=10):
        """(runs, open descriptors, VmRSS in KiB), read while the process sleeps between runs."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            before = self.runs
            asleep = self.sleeping()
            if asleep is None or not SLEEP_CALLS:
                time.sleep(0.5)  # no syscall view: the runs take milliseconds, the sleep a second
            elif not asleep:
                time.sleep(0.02)
                continue
            fds = len(os.listdir(f"/proc/{self.proc.pid}/fd"))
            status = pathlib.Path(f"/proc/{self.proc.pid}/status").read_text()
            rss = int(next(l for l in status.splitlines() if l.startswith("VmRSS:")).split()[1])
            if self.runs == before and self.sleeping() in (True, None):
                return before, fds, rss
        raise AssertionError(f"{self.marker!r}: never caught sleeping between runs")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass
        self.reader.join(timeout=5)
        self.stderr_text = self.errors()
        self.proc.stdout.close()
        self.err.close()


class LongRunTest(unittest.TestCase):
    def setUp(self):
        self.tmp = env.temp_dir(self, "qarvel-long-")
        self.tag = uuid.uuid4().hex[:12]

    def tearDown(self):
        # The Postfix inbox is shared with the other scripts, which scan it: leave it as it was.
        for path in env.inbox_with(self.tag, timeout=0):
            path.unlink(missing_ok=True)

    def test_repeated_send_and_read_do_not_leak(self):
        attachment = self.tmp / "report.bin"
        attachment.write_bytes(os.urandom(3000))
        pieces = {"a.bin": os.urandom(20000), "b.bin": os.urandom(700)}
        env.fill_maildir(READER_USER, [message("First", attachment=("a.bin", pieces["a.bin"])),
                                       message("Second", body="second\n",
                                               attachment=("b.bin", pieces["b.bin"])),
                                       message("Third", body="third\n")])
        out = self.tmp / "extracted"
        out.mkdir()
        sender = reader = None
        try:
            sender = Repeater("send", ["-host:127.0.0.1:" + env.port("SMTP_PORT"), "-from:soak@example.org",
                               "-to:soak@example.test", "-s:long run " + self.tag,
                               "-msg:one more\r\nline", "-a:" + str(attachment)],
                              "Sent ", self.tmp)
            reader = Repeater("read", ["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"),
                               "-user:" + READER_USER, "-pass:secret", "-extract:" + str(out)],
                              "1. First", self.tmp)
            procs = {"send": sender, "read": reader}
            samples = {name: [] for name in procs}
            for count, limit in ((WARM_UP, 60), (RUNS, RUNS * 3 + 60)):
                for name, proc in procs.items():
                    proc.wait_runs(count, timeout=limit)
                    samples[name].append(proc.sample())
            for name, proc in procs.items():
                (runs0, fds0, rss0), (runs1, fds1, rss1) = samples[name]
                print(f"{name}: runs {runs0} -> {runs1}, fds {fds0} -> {fds1}, "
                      f"VmRSS {rss0} -> {rss1} KiB", file=sys.stderr)
                self.assertEqual(fds1, fds0, f"{name}: descriptors grew over {runs1 - runs0} runs")
                self.assertLessEqual(rss1 - rss0, RSS_BOUND_KIB,
                                     f"{name}: resident memory grew over {runs1 - runs0} runs")
                self.assertIsNone(proc.proc.poll(), proc.errors())
            sent_runs = sender.runs
        finally:
            for proc in (sender, reader):
                if proc:
                    proc.stop()
        self.assertEqual((sender.stderr_text, reader.stderr_text), ("", ""))
        # Every run did its whole work: the parts came out intact, each send arrived.
        self.assertEqual({p.name: p.read_bytes() for p in out.iterdir()}, pieces)
        self.assertEqual(len(env.maildir_files(env.user_maildir(READER_USER))), 3)
        delivered = env.inbox_with(self.tag, sent_runs, timeout=30)
        self.assertGreaterEqual(len(delivered), sent_runs)
        [part] = list(env.parsed(delivered[-1]).iter_attachments())
        self.assertEqual(part.get_filename(), "report.bin")
        self.assertEqual(part.get_content(), attachment.read_bytes())


if __name__ == "__main__":
    unittest.main()
