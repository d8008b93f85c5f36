"""The progress line on a terminal: a slow -url: download from lighttpd (large.bin?slow, 4 MiB/s)
and a message sent to a scripted SMTP peer that reads its data slowly show the self-updating
line on a pseudo-terminal and clear it at the end; with -q, or standard error not a terminal,
nothing is drawn. The same message through Postfix arrives whole with the terminal attached."""
import os
import pty
import socket
import subprocess
import threading
import time
import unittest
import uuid

import qarvel_env as env

HTTP = "http://127.0.0.1:" + env.port("HTTP_PORT")
DOCS = env.STATE / "www" / "htdocs"


def on_terminal(args, cwd, timeout=60):
    """Runs qarvel with standard error on a pseudo-terminal: (exit code, what the terminal got)."""
    master, slave = pty.openpty()
    p = subprocess.Popen([env.BINARY] + args, stdout=subprocess.DEVNULL, stderr=slave,
                         stdin=subprocess.DEVNULL, cwd=cwd)
    os.close(slave)
    seen = b""
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            data = os.read(master, 65536)
        except OSError:  # the last writer closed the terminal
            break
        if not data:
            break
        seen += data
    os.close(master)
    return p.wait(timeout=10), seen.replace(b"\r\n", b"\n")


class SlowSmtpPeer(threading.Thread):
    """Answers one SMTP session and reads the message data at about 2 MiB/s through a small
    receive buffer, so the sender waits on it."""

    def __init__(self):
        super().__init__(daemon=True)
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.listener.settimeout(30)
        self.port = self.listener.getsockname()[1]
        self.data = bytearray()

    def run(self):
        with self.listener, self.listener.accept()[0] as conn:
            self.talk(conn)

    def talk(self, conn):
        conn.settimeout(30)
        f = conn.makefile("rb")
        conn.sendall(b"220 slow.test ESMTP\r\n")
        while True:
            line = f.readline()
            if not line:
                return
            word = line[:4].upper()
            if word == b"DATA":
                conn.sendall(b"354 go on\r\n")
                while not self.data.endswith(b"\r\n.\r\n"):
                    piece = f.read1(65536)
                    if not piece:
                        return
                    self.data += piece
                    time.sleep(0.03)
                conn.sendall(b"250 taken\r\n")
            elif word == b"QUIT":
                conn.sendall(b"221 bye\r\n")
                return
            else:
                conn.sendall(b"250 ok\r\n")


class ProgressLine(unittest.TestCase):
    def setUp(self):
        self.dir = env.temp_dir(self)
        self.attachment = self.dir / "data.bin"
        self.attachment.write_bytes(os.urandom(6 * 1024 * 1024))

    def check_line(self, seen, what):
        lines = [part for part in seen.split(b"\r") if part.startswith(what + b": ")]
        self.assertTrue(lines, seen)
        for line in lines:
            self.assertRegex(line, rb"^" + what + rb": [0-9.]+ [KMG]?i?B.*, [0-9.]+ [KMG]?i?B/s\x1b\[K$")
        self.assertTrue(seen.endswith(b"\r\x1b[K"), seen[-80:])
        return lines

    def test_slow_download(self):
        url = "-url:" + HTTP + "/large.bin?slow|large.bin"
        code, seen = on_terminal([url, "-noop"], self.dir)
        self.assertEqual(code, 0, seen)
        lines = self.check_line(seen, b"Downloading")
        self.assertIn(b" of 16.0 MiB (", lines[-1])
        self.assertEqual((self.dir / "large.bin").read_bytes(), (DOCS / "large.bin").read_bytes())
        # -q, and standard error not a terminal: not one byte of it.
        code, seen = on_terminal([url, "-noop", "-q"], self.dir)
        self.assertEqual((code, seen), (0, b""))
        r = env.run([url, "-noop"], cwd=self.dir, timeout=60)
        self.assertEqual((r.returncode, r.stderr), (0, b""))

    def test_message_to_a_slow_reader_and_through_postfix(self):
        peer = SlowSmtpPeer()
        peer.start()
        message = ["-from:a@example.org", "-to:b@example.test", "-msg:see the attachment",
                   "-a:" + str(self.attachment)]
        code, seen = on_terminal(["-host:127.0.0.1", "-port:%d" % peer.port, "-s:slow"] + message,
                                 self.dir)
        peer.join(30)
        self.assertEqual(code, 0, seen)
        self.check_line(seen, b"Sending")
        self.assertIn(b"see the attachment", peer.data)

        tag = uuid.uuid4().hex
        code, seen = on_terminal(["-host:127.0.0.1:" + env.port("SMTP_PORT"), "-s:progress " + tag]
                                 + message, self.dir)
        self.assertEqual(code, 0, seen)
        [path] = env.inbox_with(tag)
        [part] = [p for p in env.parsed(path).iter_attachments()]
        self.assertEqual(part.get_content(), self.attachment.read_bytes())


if __name__ == "__main__":
    unittest.main()
