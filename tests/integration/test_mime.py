"""MIME composition checked by an independent parser: every message composed with -mf is parsed
by Python's email package (default policy) and its decoded parts must equal the original
files; messages go through the real Postfix into its Maildir and are checked the same way.
(Content types, transfer encodings, the flags -8, -binary, -text, -uue, awkward names, vanished
files and voice: MimeBody in tests/send, byte for byte.)"""
import email
import email.policy
import random
import re
import unittest
import uuid

import qarvel_env as env


def crlf(text):
    """Text files of the tests carry canonical CR LF line ends."""
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode()


class Composed:
    """One parsed message: the tree, its leaf parts and the parts by file name."""

    def __init__(self, raw):
        self.raw = raw
        self.msg = email.message_from_bytes(raw, policy=email.policy.default)
        self.leaves = [p for p in self.msg.walk() if not p.is_multipart()]
        self.files = {p.get_filename(): p for p in self.leaves if p.get_filename()}

    def tree(self, part=None, depth=0):
        """The content types as an indented outline, for structure checks."""
        part = part or self.msg
        lines = ["  " * depth + part.get_content_type()]
        if part.is_multipart():
            for sub in part.get_payload():
                lines += self.tree(sub, depth + 1)
        return lines

    def defects(self):
        return [(p.get_content_type(), d) for p in self.msg.walk() for d in p.defects]


class MimeTestCase(unittest.TestCase):
    def setUp(self):
        self.dir = env.temp_dir(self, "qarvel-mime-test.")
        self.rng = random.Random(6)

    def file(self, name, data):
        path = self.dir / name
        path.write_bytes(data)
        return path

    def binary(self, name, size):
        return self.file(name, bytes(self.rng.getrandbits(8) for _ in range(size)))

    def compose(self, *args, config=None):
        """Runs qarvel -mf into a fresh file and returns the parsed message."""
        out = self.dir / ("out-%s.eml" % uuid.uuid4().hex)
        extra = []
        if config is not None:
            cfg = self.dir / "qarvel.txt"
            cfg.write_text(config)
            extra.append("-config:" + str(cfg))
        r = env.run(["-mf", "-host:" + str(out), "-from:alice@example.org", "-to:bob@example.test",
                     "-s:mime test"] + extra + list(args), cwd=str(self.dir))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        # The file holds the message as it goes over the wire: every line that begins with "."
        # carries a second one, which a server removes on receipt.
        return Composed(re.sub(rb"(^|\r\n)\.", rb"\1", out.read_bytes()))

    def assertFilesEqual(self, composed, paths):
        for path in paths:
            name = path.name
            self.assertIn(name, composed.files, "no part for %s in %s" % (name, composed.tree()))
            self.assertEqual(composed.files[name].get_payload(decode=True), path.read_bytes(), name)


class MixedMessages(MimeTestCase):
    def test_every_kind_of_file_decodes_to_its_bytes(self):
        files = [
            self.file("notes.txt", crlf("first line\n.leading dot\n\ttab and trailing blank \nlast")),
            self.file("page.html", crlf("<html><body><p>caf\u00e9 &amp; more</p></body></html>\n")),
            self.binary("data.bin", 57 * 300),          # whole base64 lines only
            self.binary("odd.bin", 57 * 300 + 1),
            self.binary("block.bin", 57 * 4096 + 5),    # across the reading block
            self.file("empty.dat", b""),
            self.binary("REPORT.PDF", 1000),
        ]
        m = self.compose("-msg:Hello there", *["-a:" + str(p) for p in files])
        self.assertEqual(m.defects(), [])
        self.assertEqual(m.tree()[0], "multipart/mixed")
        self.assertEqual(m.leaves[0].get_content_type(), "text/plain")
        self.assertIn("Hello there", m.leaves[0].get_content())
        self.assertFilesEqual(m, files)


class HtmlMessages(MimeTestCase):
    PAGE = "<html><body><h1>News</h1><p>a &gt; b</p><img src=\"cid:logo1\" alt=\"Logo\"></body></html>"

    def test_alternative_related_and_mixed(self):
        page = self.file("page.htm", self.PAGE.encode())
        logo = self.binary("logo.png", 2000)
        extra = self.binary("extra.zip", 3000)
        m = self.compose("-html", "-alt", "-file:" + str(page), "-a:" + str(extra),
                         config="P %s|cid:logo1\n" % logo)
        self.assertEqual(m.defects(), [])
        self.assertEqual(m.tree(), ["multipart/mixed", "  multipart/alternative", "    text/plain",
                                    "    multipart/related", "      text/html", "      image/png",
                                    "  application/x-zip-compressed"])
        self.assertEqual(m.files["logo.png"]["Content-ID"], "<logo1>")
        self.assertEqual(m.files["logo.png"]["Content-Disposition"].content_disposition, "inline")
        self.assertIn("a > b", m.leaves[0].get_content())
        self.assertFilesEqual(m, [logo, extra])


class ThroughPostfix(MimeTestCase):
    def delivered(self, tag, *args, count=1):
        """Sends with the arguments to Postfix; the Maildir files of the messages tagged so."""
        r = env.run(["-host:127.0.0.1:" + env.port("SMTP_PORT"), "-to:bob@example.test", *args], timeout=60)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        found = env.inbox_with(tag, count=count, timeout=20)
        self.assertEqual(len(found), count, "the message did not arrive in the Maildir")
        return found

    def test_attachments_survive_the_mta(self):
        tag = uuid.uuid4().hex
        files = [self.file("notes.txt", crlf("one\n.two\nthree\n")),
                 self.binary("data.bin", 57 * 100), self.binary("odd.bin", 57 * 100 + 13),
                 self.file("empty.dat", b"")]
        [found] = self.delivered(tag, "-from:alice@example.org", "-s:mime " + tag, "-msg:through postfix",
                                 *["-a:" + str(p) for p in files])
        m = Composed(found.read_bytes())
        self.assertEqual(m.defects(), [])
        for path in files:
            data = m.files[path.name].get_payload(decode=True)
            if path.suffix == ".txt":
                data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")  # Maildir keeps LF
            self.assertEqual(data, path.read_bytes(), path.name)

    def test_leading_dots_survive_the_mta(self):
        # -8 sends the body and text files as they are: every line that begins with "." must
        # reach the mailbox with that dot, in the body and in the attached text file alike.
        tag = uuid.uuid4().hex
        body = self.file("body.txt", crlf(".x body\n..two\nplain\n.\nend\n"))
        notes = self.file("notes.txt", crlf(".x attach\n..y\n.\nlast\n"))
        [found] = self.delivered(tag, "-from:alice@example.org", "-s:dots " + tag, "-8", "-file:" + str(body),
                                 "-a:" + str(notes))
        delivered = found.read_bytes()  # Maildir keeps LF line ends
        self.assertIn(b"\n\n.x body\n..two\nplain\n.\nend\n", delivered)
        self.assertIn(b"\n\n.x attach\n..y\n.\nlast\n", delivered)

    def test_text_beyond_ascii_reads_back_as_written(self):
        # UTF-8 subject, display name, body and file names (one long enough for RFC 2231
        # sections), and a Latin-1 message beside them: Python reads back the same texts.
        tag = uuid.uuid4().hex
        subject = "Report M\u00e4rz \u20ac " + tag
        body = "Gr\u00fc\u00dfe aus K\u00f6ln, \u201cquoted\u201d \u2014 \u65e5\u672c\n"
        names = ["Bericht M\u00e4rz.pdf", "\u00dcbersicht der sehr langen Dateinamen mit \u00e4\u00f6\u00fc "
                 "und \u65e5\u672c\u8a9e dahinter.txt"]
        files = [self.file(names[0], b"%PDF-1.4 x"), self.file(names[1], crlf("eins\nzwei\n"))]
        r = env.run(["-host:127.0.0.1:" + env.port("SMTP_PORT"), "-from:J\u00fcrgen M\u00fcller <alice@example.org>",
                     "-to:bob@example.test", "-s:" + subject, "-msg:" + body] + ["-a:" + str(p) for p in files],
                    timeout=60)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        # Latin-1 bytes are not UTF-8: they keep the default charset.
        found = self.delivered(tag, b"-from:alice@example.org", b"-s:Caf\xe9 " + tag.encode(), b"-msg:Gr\xfc\xdfe\n",
                               count=2)
        m = Composed(next(p for p in found if b"Bericht" in p.read_bytes()).read_bytes())
        self.assertEqual(m.defects(), [])
        self.assertEqual(m.msg["Subject"], subject)
        # The encoded word holds the blank before "<" too.
        self.assertEqual(m.msg["From"].addresses[0].display_name.strip(), "J\u00fcrgen M\u00fcller")
        text = m.leaves[0]
        self.assertEqual(text.get_content_charset(), "utf-8")
        self.assertEqual(text.get_content().replace("\r\n", "\n").rstrip("\n"), body.rstrip("\n"))
        self.assertEqual(sorted(m.files), sorted(names))
        self.assertEqual(m.files[names[0]].get_payload(decode=True), b"%PDF-1.4 x")
        latin = Composed(next(p for p in found if b"Bericht" not in p.read_bytes()).read_bytes())
        self.assertEqual(latin.msg["Subject"], "Caf\u00e9 " + tag)
        self.assertEqual(latin.msg.get_content_charset(), "iso-8859-1")
        self.assertEqual(latin.msg.get_content().replace("\r\n", "\n").rstrip("\n"), "Gr\u00fc\u00dfe")


if __name__ == "__main__":
    unittest.main()
