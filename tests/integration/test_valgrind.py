"""Memcheck over the main paths: build/qarvel runs under valgrind (invalid reads and writes,
uses of uninitialised values, definite leaks all turn into exit code 99) while it composes a
message into a file, sends it to Postfix, reads the file back, reads Dovecot over POP3 (plain
and STLS), runs the base64 filters and fails to connect. Every run must end with its normal
exit code and do its normal work."""
import base64
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest
import uuid

import qarvel_env as env
from qarvel_env import message

VALGRIND = shutil.which("valgrind")
CA = env.CA
READER_USER = "carol"


def memcheck(args, input=None, extra_env=None, timeout=60):
    """Runs qarvel under memcheck; returns (CompletedProcess, valgrind's report)."""
    with tempfile.NamedTemporaryFile(prefix="qarvel-vg-", suffix=".log") as log:
        command = [VALGRIND, "-q", "--error-exitcode=99", "--leak-check=full",
                   "--errors-for-leak-kinds=definite", "--log-file=" + log.name, env.BINARY] + args
        result = subprocess.run(command, input=input, capture_output=True, timeout=timeout,
                                env=env.environment(**(extra_env or {})))
        return result, pathlib.Path(log.name).read_text(errors="replace")


class MemcheckTest(unittest.TestCase):
    def setUp(self):
        if not VALGRIND:
            env.missing("valgrind is not installed (scripts/install-deps.sh installs it)")
        self.tmp = env.temp_dir(self, "qarvel-vg-")

    def check(self, args, code, input=None, extra_env=None):
        result, report = memcheck(args, input=input, extra_env=extra_env)
        self.assertNotEqual(result.returncode, 99, report)
        self.assertEqual(result.returncode, code, result.stderr.decode(errors="replace") + report)
        return result

    def test_compose_send_and_read_back(self):
        binary = os.urandom(5000)
        (self.tmp / "data.bin").write_bytes(binary)
        (self.tmp / "notes.txt").write_text("line one\nline two\n")
        tag = uuid.uuid4().hex[:12]
        composed = ["-from:Vg Test <vg@example.org>", "-to:reader@example.test", "-s:memcheck " + tag,
                    "-msg:body text\r\nsecond line", "-a:" + str(self.tmp / "notes.txt"),
                    "-a:" + str(self.tmp / "data.bin")]
        stored = self.tmp / "out.eml"
        self.check(["-mf", "-host:" + str(stored)] + composed, 0)
        self.assertIn(b"memcheck " + tag.encode(), stored.read_bytes())

        r = self.check(["-host:127.0.0.1:" + env.port("SMTP_PORT")] + composed, 0)
        self.assertIn(b"Sent ", r.stdout)
        try:
            self.assertTrue(env.inbox_with(tag))
        finally:
            for path in env.inbox_with(tag, timeout=0):
                path.unlink(missing_ok=True)

        folder = self.tmp / "parts"
        folder.mkdir()
        r = self.check(["-mail", "-file:" + str(stored), "-extract:" + str(folder)], 0)
        self.assertIn(b"memcheck " + tag.encode(), r.stdout)
        self.assertEqual((folder / "data.bin").read_bytes(), binary)

    def test_pop3_plain_and_stls(self):
        piece = os.urandom(30000)
        env.fill_maildir(READER_USER, [message("Under memcheck", attachment=("piece.bin", piece)),
                                       message("Second", body="plain second\n")])
        pop3 = ["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), "-user:" + READER_USER,
                "-pass:secret"]
        for extra, folder in (([], "plain"), (["-tls", "-cafile:" + CA], "stls")):
            with self.subTest(folder):
                out = self.tmp / folder
                out.mkdir()
                r = self.check(pop3 + extra + ["-extract:" + str(out)], 0)
                self.assertIn(b"1. Under memcheck", r.stdout)
                self.assertIn(b"plain second", r.stdout)
                self.assertEqual((out / "piece.bin").read_bytes(), piece)

    def test_base64_filters(self):
        data = os.urandom(4000) + b"\r\n\x00end"
        r = self.check(["-encode:base64"], 0, input=data)
        self.assertEqual(base64.b64decode(r.stdout), data)
        r = self.check(["-decode:base64"], 0, input=r.stdout)
        self.assertEqual(r.stdout, data)

    def test_refused_connections(self):
        r = self.check(["-host:127.0.0.1:1", "-from:a@example.org", "-to:b@example.test",
                        "-s:x", "-msg:x", "-retries:1"], 1)
        self.assertIn(b"-10061", r.stdout + r.stderr)
        r = self.check(["-host:127.0.0.1", "-port:1", "-user:alice", "-pass:x", "-retries:1"], 1)
        self.assertIn(b"Could not connect to: 127.0.0.1:1, error= -10061", r.stderr)


if __name__ == "__main__":
    unittest.main()
