"""A body read from -file: goes out exactly as the same text typed on standard input would, in
every body form, and is held in memory once, not once per copy made while composing it."""
import pathlib
import re
import tempfile
import unittest
import uuid

import qarvel_env as env

# Lines that differ from run to run: the clock and the build stamp.
VARYING = re.compile(rb"^(Date|X-Mailer): .*$", re.M)

BODY = (b"first line\n.leading dot\n..two dots\n.\n"
        b"tab\there =equals\n" + b"long " * 40 + b"\n"
        b"caf\xe9 8-bit\nlast line\n")


class FileBodyMatchesTypedBody(unittest.TestCase):
    def setUp(self):
        self.dir = env.temp_dir(self, "qarvel-filebody-")
        self.body = self.dir / "body.txt"
        self.body.write_bytes(BODY)
        self.attachment = self.dir / "notes.txt"
        self.attachment.write_bytes(b".x in an attachment\nsecond\n")

    def compose(self, name, args, input=None):
        out = self.dir / ("%s-%s" % (uuid.uuid4().hex, name))
        r = env.run(["-mf", "-host:" + str(out), "-from:alice@example.org", "-to:bob@example.test",
                     "-s:file body", "-q"] + args, input=input, cwd=str(self.dir))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        data = VARYING.sub(b"", out.read_bytes())
        # Multipart boundaries are made afresh each run.
        for boundary in set(re.findall(rb'boundary="([^"]+)"', data)):
            data = data.replace(boundary, b"BOUNDARY")
        return data

    def test_every_form_matches_standard_input(self):
        forms = [
            ("plain", []),
            ("quoted-printable off", ["-qp:0"]),
            ("8-bit", ["-8"]),
            ("raw", ["-raw"]),
            ("attachment", ["-a:" + str(self.attachment)]),
            ("8-bit attachment", ["-8", "-a:" + str(self.attachment)]),
            ("header lines", ["-hdr:X-Test: 1"]),
        ]
        for label, args in forms:
            with self.subTest(label):
                from_file = self.compose("f.eml", args + ["-file:" + str(self.body)])
                typed = self.compose("t.eml", args, input=BODY)
                self.assertEqual(from_file, typed)
                # Every line beginning with a dot went out stuffed; raw text is message data
                # already, and only its lone "." gets a second dot.
                if label == "raw":
                    self.assertIn(b"\r\n.leading dot\r\n..two dots\r\n..\r\n", from_file)
                else:
                    self.assertNotIn(b"\r\n.leading", from_file)
                self.assertNotIn(b"\r\n.\r\n", from_file)

    def test_line_ends_are_made_crlf(self):
        self.body.write_bytes(b"a\r\nb\nc\rd\r")
        data = self.compose("e.eml", ["-raw", "-file:" + str(self.body)])
        self.assertIn(b"a\r\nb\r\nc\r\nd\r\n", data)


class FileBodyMemory(unittest.TestCase):
    SIZE = 64 * 1024 * 1024

    def test_peak_is_about_the_body_not_twice(self):
        with tempfile.TemporaryDirectory(prefix="qarvel-filebody-") as d:
            body = pathlib.Path(d) / "big.txt"
            line = b"x" * 78 + b"\n"
            with open(body, "wb") as f:
                chunk = line * (1024 * 1024 // len(line))
                for _ in range(self.SIZE // len(chunk)):
                    f.write(chunk)
            out = pathlib.Path(d) / "big.eml"
            r, peak_kib = env.peak_run(["-mf", "-host:" + str(out), "-from:a@example.org", "-to:b@example.test",
                                        "-s:big", "-raw", "-q", "-file:" + str(body)])
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertGreater(out.stat().st_size, self.SIZE)
            # One copy of the CR LF body (about 65 MiB) plus the program; two copies would be
            # past 130 MiB.
            self.assertLess(peak_kib * 1024, self.SIZE * 3 // 2, "peak %d KiB" % peak_kib)


if __name__ == "__main__":
    unittest.main()
