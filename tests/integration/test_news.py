"""News posting end to end: build/qarvel -news on the command line and behind a web request post to the real INN of scripts/servers/inn.sh, with and without AUTHINFO, in clear, with
STARTTLS and over NNTPS; each article is read back with ARTICLE by a small socket client and its
groups, headers and body compared byte for byte. The exact dialogues, the refusals (441, 480, 481)
and the faults a real server will not produce on demand are in tests/send/nntp_session_test.cpp
and send_faults_test.cpp."""
import os
import socket
import tempfile
import unittest
import uuid

import qarvel_env as env

CA = env.CA
PLAIN = env.port("NNTP_PORT")
SECURE = env.port("NNTPS_PORT")
# Lines a careless writer gets wrong: a lone full stop (it would end the article), a doubled
# one, one that starts with a full stop, trailing blanks, an empty line and a long line.
BODY = (b"first line\r\n.\r\n..\r\n.leading dot\r\ntrailing blanks   \r\n\r\n"
        + b"x" * 900 + b"\r\nlast line\r\n")


class NewsReader:
    """Reads articles over plain NNTP: GROUP, then ARTICLE by number, the dot-stuffing undone."""

    def __init__(self, port=PLAIN):
        self.sock = socket.create_connection(("127.0.0.1", int(port)), timeout=10)
        self.file = self.sock.makefile("rb")
        self.line()

    def line(self):
        return self.file.readline().decode("utf-8", "replace").rstrip("\r\n")

    def command(self, text):
        # One command at a time, each reply read before the next goes out.
        self.sock.sendall(text.encode() + b"\r\n")
        return self.line()

    def article(self, number):
        reply = self.command("ARTICLE %d" % number)
        if not reply.startswith("220"):
            return None
        lines = []
        for _ in range(100000):
            raw = self.file.readline()
            if raw in (b".\r\n", b""):
                break
            lines.append(raw[1:] if raw.startswith(b"..") else raw)
        return b"".join(lines)

    def find(self, group, tag):
        """The article of the group whose Subject holds tag: (head lines, body) or None."""
        reply = self.command("GROUP " + group).split()
        if reply[0] != "211":
            return None
        low, high = int(reply[2]), int(reply[3])
        for number in range(high, max(low, high - 50) - 1, -1):
            text = self.article(number)
            if text is None:
                continue
            head, _, body = text.partition(b"\r\n\r\n")
            headers = head.decode().split("\r\n")
            if any(h.startswith("Subject: ") and tag in h for h in headers):
                return headers, body
        return None

    def close(self):
        self.command("QUIT")
        self.sock.close()


def post(tag, *extra, groups="open.group", body=BODY, port=PLAIN, environment=None):
    with tempfile.NamedTemporaryFile(suffix=".txt") as f:
        f.write(body)
        f.flush()
        args = ["-host:127.0.0.1", "-port:" + port, "-from:Poster <poster@example.test>",
                "-to:" + groups, "-s:news " + tag, "-file:" + f.name, *extra]
        return env.run(["-news"] + args, env=environment)


def header(headers, name):
    values = [h.split(": ", 1)[1] for h in headers if h.lower().startswith(name.lower() + ": ")]
    return values[0] if values else None


class NewsPosting(unittest.TestCase):
    def setUp(self):
        self.reader = NewsReader()

    def tearDown(self):
        self.reader.close()

    def posted(self, tag, group, *extra, **kw):
        r = post(tag, *extra, **kw)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertIn(b"Sent ", r.stdout)
        found = self.reader.find(group, tag)
        self.assertIsNotNone(found, "article %s not in %s" % (tag, group))
        self.trace = r.stdout.decode()
        return found

    def test_anonymous_and_logged_in_posts_arrive_whole(self):
        # Anonymous to one group with -noarchive; with AUTHINFO up front to two groups, the same
        # article filed in both.
        for groups, extra, archive in (("open.group", ["-noarchive"], "yes"),
                                       ("test.group,open.group", ["-user:test", "-pass:secret"], None)):
            with self.subTest(groups):
                tag = uuid.uuid4().hex
                headers, body = self.posted(tag, groups.split(",")[0], *extra, groups=groups)
                self.assertEqual(header(headers, "Newsgroups"), groups)
                self.assertEqual(header(headers, "From"), "Poster <poster@example.test>")
                self.assertEqual(header(headers, "Subject"), "news " + tag)
                self.assertEqual(header(headers, "X-no-archive"), archive)
                self.assertEqual(header(headers, "Content-Transfer-Encoding"), "7bit")
                self.assertIsNone(header(headers, "To"))
                # The writer ends the text with one empty line of its own.
                self.assertEqual(body, BODY + b"\r\n")
                self.assertIsNotNone(self.reader.find(groups.split(",")[-1], tag))

    def test_web_request_posts(self):
        # The road a web server takes: the query string names the news mode, the host with the
        # port, the groups and a body file of the files folder.
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "body.txt"), "wb") as f:
                f.write(BODY)
            tag = uuid.uuid4().hex
            query = ("-cgi&-news&-noarchive&-host=127.0.0.1:%s&-to=test.group&-from=poster@example.test"
                     "&-s=%s&-file=body.txt&-user=test&-pass=secret" % (PLAIN, tag))
            r = env.run([], env={"GATEWAY_INTERFACE": "CGI/1.1", "QUERY_STRING": query, "QARVEL_PATH": folder})
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertIn(b"Sent ", r.stdout)
            headers, body = self.reader.find("test.group", tag)
            self.assertEqual(header(headers, "Newsgroups"), "test.group")
            self.assertEqual(header(headers, "X-no-archive"), "yes")
            self.assertEqual(body, BODY + b"\r\n")

    def test_tls_both_ways(self):
        # -ssl moves the port to 563, so the test port rides on the host; -tls upgrades the
        # plain port with STARTTLS before the password is sent.
        for what, extra in (("NNTPS", ["-ssl", "-host:127.0.0.1:" + SECURE]),
                            ("STARTTLS", ["-tls"])):
            with self.subTest(what):
                tag = uuid.uuid4().hex
                headers, body = self.posted(tag, "test.group", *extra, "-cafile:" + CA, "-v:2",
                                            "-user:test", "-pass:secret", groups="test.group")
                self.assertEqual(body, BODY + b"\r\n")
                # Encrypted and verified before the first credential went out.
                self.assertLess(self.trace.index(", verified"), self.trace.index("AUTHINFO USER"))
                self.assertIn("AUTHINFO PASS ***\r\n", self.trace)
                self.assertNotIn("HELO ", self.trace)  # the news server's greeting, no mail one
                self.assertNotIn("secret", self.trace)
                self.assertEqual("STARTTLS\r\n" in self.trace, what == "STARTTLS")
                self.assertIn("\r\nNewsgroups: test.group\r\nFrom: ", self.trace)
        # A server whose CA is not trusted gets no credentials.
        r = post(uuid.uuid4().hex, "-tls", "-user:test", "-pass:secret", "-v:2",
                 environment={"SSL_CERT_FILE": "/nonexistent", "SSL_CERT_DIR": "/nonexistent"})
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"not accepted", r.stderr)
        self.assertNotIn(b"AUTHINFO", r.stdout)


if __name__ == "__main__":
    unittest.main()
