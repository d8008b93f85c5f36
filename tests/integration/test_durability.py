"""Mail is never lost: build/qarvel reading scripted POP3 and IMAP servers (mailbox_servers.py)
into a Maildir and an extraction folder with -rm and -seen:, under strace.

- Fault injection: the N-th write, fsync, rename, openat or close fails with ENOSPC or EIO.
  No message may leave the server unless its Maildir file and its attachment are complete and
  were synced, each under its temporary name before the rename, and each folder after it, all
  before the command that deletes it left the socket (and QUIT or CLOSE after that). A second
  run without faults then delivers exactly what the server still holds: nothing lost, at most
  one duplicate. A few N per call and error in make test; QARVEL_FAULT_SWEEP=1 tries every N.
- kill -9 at random points of a long -maildir: -rm run: new/ holds only whole messages, every
  message not in it is still on the server, and a run after it misses none.
"""
import os
import pathlib
import random
import re
import shutil
import signal
import subprocess
import time
import unittest

import mailbox_servers
import qarvel_env as env

SWEEP = os.environ.get("QARVEL_FAULT_SWEEP") == "1"
CALLS = ["write", "fsync", "renameat2", "openat", "close"]
ROUND_MESSAGES = 32  # kRoundMessages of src/receive/delivery_round.h


def test_messages(count=4, size=20000):
    rng = random.Random(52)
    return [env.message(f"Message {i}", body=f"text of {i}\n.leading dot\nFrom the start\n",
                        attachment=(f"part{i}.bin", rng.randbytes(size + 997 * i)),
                        headers={"Message-ID": f"<m{i}@example.test>"}) for i in range(count)]


def as_stored(message):
    """A message as the Maildir holds it: LF line ends."""
    return message.replace(b"\r\n", b"\n")


def attachment_of(message):
    return env.email.message_from_bytes(message, policy=env.email.policy.default).get_payload()[1].get_content()


def delivered(maildir):
    return [p.read_bytes() for p in env.maildir_files(maildir)]


# ---------------------------------------------------------------- the trace

LINE = re.compile(r"^(\d+) +(?:<\.\.\. (\w+) resumed>(.*)|(\w+)\((.*))$")
RESULT = re.compile(r"\)\s+= (-?\d+)")


def events(trace):
    """(name, arguments, result) of every call in an strace -f -yy output, in the order the
    calls ended; a call split over two lines counts where it ended."""
    pending, out = {}, []
    for line in trace.splitlines():
        m = LINE.match(line)
        if not m:
            continue
        pid = m.group(1)
        if m.group(2):
            name, args = pending.pop(pid, (m.group(2), ""))
            args += m.group(3)
        else:
            name, args = m.group(4), m.group(5)
            if args.endswith("<unfinished ...>"):
                pending[pid] = (name, args[:-len("<unfinished ...>")])
                continue
        ends = list(RESULT.finditer(args))
        if ends:
            out.append((name, args[:ends[-1].start()], int(ends[-1].group(1))))
    return out


def path_of(args):
    m = re.match(r"\d+<([^>]*)>", args)
    return m.group(1) if m else None


def check_order(test, trace, gone, maildir, extract, deletion_of, final_command):
    """Every output of a message that left the server was synced under its temporary name
    before its rename, and its folder after it, before the command that deleted it; the
    session's final command came after every deletion."""
    calls = events(trace)
    synced = {}  # path -> index of each successful fsync
    for i, (name, args, result) in enumerate(calls):
        if name == "fsync" and result == 0:
            synced.setdefault(path_of(args), []).append(i)
    sent = [(i, args) for i, (name, args, result) in enumerate(calls) if name == "sendto" and result > 0]
    finals = [i for i, args in sent if final_command in args]
    for message in gone:
        wanted = {str(maildir / "new"): as_stored(message), str(extract): attachment_of(message)}
        deletion = [i for i, args in sent if deletion_of(message) in args]
        test.assertTrue(deletion, "no deletion command for a message that went")
        for i, (name, args, result) in enumerate(calls):
            m = re.match(r'\d+<([^>]*)>, "([^"]+)", \d+<([^>]*)>, "([^"]+)"', args)
            if name != "renameat2" or result != 0 or not m or m.group(3) not in wanted:
                continue
            folder, final = m.group(3), pathlib.Path(m.group(3)) / m.group(4)
            if not final.exists() or final.read_bytes() != wanted[folder]:
                continue
            temporary = m.group(1) + "/" + m.group(2)
            test.assertTrue(any(s < i for s in synced.get(temporary, [])), f"{temporary} not synced before its rename")
            after = [s for s in synced.get(folder, []) if s > i]
            test.assertTrue(after and after[0] < deletion[0], f"{folder} not synced between rename and deletion")
            del wanted[folder]
        test.assertEqual(wanted, {}, "a message left the server without its outputs in place")
        test.assertTrue(finals and finals[-1] > deletion[-1], "the deletion was not made final last")


# ---------------------------------------------------------------- the runs

class Mailbox:
    """A scripted server with the test messages, and the folders of the runs against it."""

    def __init__(self, test, imap, messages, seen=True):
        self.test, self.imap, self.messages = test, imap, messages
        self.server = (mailbox_servers.ImapServer if imap else mailbox_servers.Pop3Server)(messages)
        test.addCleanup(self.server.stop)
        self.root = env.temp_dir(test)
        self.maildir, self.extract = self.root / "Maildir", self.root / "out"
        self.extract.mkdir()
        self.args = (["-imap"] if imap else []) + [
            "-host:127.0.0.1", f"-port:{self.server.port}", "-user:u", "-pass:p", f"-maildir:{self.maildir}",
            f"-extract:{self.extract}", "-rm", "-q"] + ([f"-seen:{self.root / 'seen'}"] if seen else [])

    def traced(self, *inject):
        trace = self.root / "trace"
        command = ["strace", "-f", "-qq", "-yy", "-o", str(trace), "-e",
                   "trace=write,fsync,renameat2,openat,close,sendto"] + list(inject) + [env.BINARY] + self.args
        r = subprocess.run(command, capture_output=True, timeout=120, stdin=subprocess.DEVNULL)
        return r, trace.read_text()

    def gone(self):
        return [m for m in self.messages if m not in self.server.held]

    def deletion_of(self, message):
        i = self.messages.index(message) + 1  # the message's number and its UID in the first session
        return f"UID STORE {i} +FLAGS" if self.imap else f'"DELE {i}\\r\\n"'

    def check_first(self, trace, what):
        with self.test.subTest(what):
            check_order(self.test, trace, self.gone(), self.maildir, self.extract, self.deletion_of,
                        "CLOSE" if self.imap else '"QUIT\\r\\n"')

    def check_second(self, what):
        """A run without faults leaves the server empty, with every message delivered, at most
        one of them twice."""
        r = env.run(self.args, timeout=60)
        with self.test.subTest(what):
            self.test.assertEqual(r.returncode, 0, r.stderr)
            self.test.assertEqual(self.server.held, [], "messages stayed on the server")
            got = delivered(self.maildir)
            for i, m in enumerate(self.messages):
                self.test.assertTrue(as_stored(m) in got, f"message {i} was lost")
                self.test.assertTrue((self.extract / f"part{i}.bin").read_bytes() == attachment_of(m),
                                     f"the attachment of message {i} is not whole")
            self.test.assertLessEqual(len(got), len(self.messages) + 1, "more than one message twice")
            left = [p.name for p in self.root.rglob(".qarvel-*")]
            self.test.assertEqual(left, [], "temporary files left")


class FaultInjectionTest(unittest.TestCase):
    def setUp(self):
        if not shutil.which("strace"):
            env.missing("strace")
        self.messages = test_messages()

    def counts(self, imap):
        """How often the run's main thread makes each call, from a run without faults."""
        box = Mailbox(self, imap, self.messages)
        r, trace = box.traced()
        self.assertEqual(r.returncode, 0, r.stderr)
        box.check_first(trace, "no faults")
        main = trace.split(None, 1)[0]
        return {c: len(re.findall(rf"^{main} +{c}\(", trace, re.M)) for c in CALLS}

    def sweep(self, imap):
        counts = self.counts(imap)
        for call in CALLS:
            n = counts[call]
            tries = range(1, n + 1) if SWEEP else sorted({1, max(1, n // 2), max(1, n - 2)})
            for error in ("ENOSPC", "EIO"):
                for when in tries:
                    what = f"{'imap' if imap else 'pop3'} {call} {error} when={when}"
                    box = Mailbox(self, imap, self.messages)
                    r, trace = box.traced("-e", f"inject={call}:error={error}:when={when}")
                    box.check_first(trace, what)
                    box.check_second(what)

    def test_pop3(self):
        self.sweep(imap=False)

    def test_imap(self):
        self.sweep(imap=True)

    def test_without_seen_file_nothing_goes_before_it_is_durable(self):
        # Without -seen: a fault that stops the run before QUIT repeats every message in the
        # next run; what the trace shows must still hold.
        for call in ("fsync", "renameat2"):
            box = Mailbox(self, False, self.messages, seen=False)
            r, trace = box.traced("-e", f"inject={call}:error=EIO:when=2")
            box.check_first(trace, call)
            self.assertNotEqual(r.returncode, 0, r.stderr)


class KillTest(unittest.TestCase):
    def test_kill_at_random_points_of_a_long_maildir_run(self):
        rng = random.Random(9)
        messages = [env.message(f"Long {i}", body="line\n" * rng.randrange(10, 400)) for i in range(300)]
        stored = {as_stored(m) for m in messages}
        # One run without a kill gives the length of a run.
        box = Mailbox(self, False, messages, seen=False)
        start = time.monotonic()
        self.assertEqual(env.run(box.args, timeout=120).returncode, 0)
        length = time.monotonic() - start
        for trial in range(4):
            for imap in (False, True):
                box = Mailbox(self, imap, messages)
                p = subprocess.Popen([env.BINARY] + box.args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(rng.uniform(0.1, 1.0) * length)
                p.send_signal(signal.SIGKILL)
                p.wait()
                got = delivered(box.maildir)
                with self.subTest(trial=trial, imap=imap):
                    self.assertTrue(all(m in stored for m in got), "a message in new/ is not whole")
                    held = set(box.server.held)
                    self.assertTrue(all(as_stored(m) in got for m in messages if m not in held),
                                    "a message left the server but is not in the Maildir")
                    # The run after it misses none, and repeats at most the round in flight.
                    self.assertEqual(env.run(box.args, timeout=120).returncode, 0)
                    got = delivered(box.maildir)
                    self.assertEqual({as_stored(m) for m in messages} - set(got), set())
                    self.assertLessEqual(len(got) - len(messages), ROUND_MESSAGES)


if __name__ == "__main__":
    unittest.main()
