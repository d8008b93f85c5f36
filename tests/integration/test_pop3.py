"""build/qarvel reading the private Dovecot over POP3: messages composed by Python's email
package are retrieved and their parts extracted; every part must come back byte for byte, in
bounded memory; the login is APOP. The traces of the POP3 and IMAP logins hide the password
(those of SMTP: test_send.py, of NNTP: test_news.py). STLS, POP3S, a wrong password and broken
servers are in test_tls.py, test_receive.py and tests/receive/receive_faults_test.cpp."""
import email
import email.policy
import hashlib
import os
import unittest
from email.message import EmailMessage
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.header import Header

import qarvel_env as env

def retrieve(user, outdir, *extra):
    """Reads the user's whole mailbox, extracting into outdir: (CompletedProcess, peak KiB)."""
    return env.peak_run(["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), "-user:" + user,
                         "-pass:secret", "-extract:" + str(outdir), *extra], timeout=120)


def nested_message():
    outer = MIMEMultipart("mixed")
    outer["From"] = "Sender <sender@example.test>"
    outer["To"] = "a@example.test"
    outer["Subject"] = Header("Grüße aus Köln ✓", "utf-8").encode()
    alt = MIMEMultipart("alternative")
    alt.attach(MIMEText("plain text körper\n", "plain", "utf-8"))
    alt.attach(MIMEText("<p>html</p>\n", "html", "utf-8"))
    related = MIMEMultipart("related")
    related.attach(alt)
    image = MIMEApplication(bytes(range(256)) * 40, "octet-stream")
    image.add_header("Content-ID", "<img1@example.test>")
    related.attach(image)
    outer.attach(related)
    doc = MIMEApplication(os.urandom(70000), "pdf")
    doc.add_header("Content-Disposition", "attachment", filename=("utf-8", "", "Bericht März.pdf"))
    outer.attach(doc)
    named = MIMEApplication(b"..dots\r\n.\r\nend\r\n", "octet-stream")
    named.add_header("Content-Disposition", "attachment", filename="../../etc/evil.txt")
    outer.attach(named)
    return outer.as_bytes()


def latin1_message():
    m = EmailMessage(policy=email.policy.SMTP)
    m["From"] = "x@example.test"
    m["To"] = "y@example.test"
    m["Subject"] = "placeholder"
    m.set_content("caf\xe9\n", charset="iso-8859-1", cte="quoted-printable")
    m.add_attachment(b"\x00\x01binary\xff" * 1000, maintype="application", subtype="x-test",
                     filename="données.bin")
    # The header policy would re-encode the subject in UTF-8; keep the ISO-8859-1 word.
    return m.as_bytes().replace(b"Subject: placeholder",
                                b"Subject: " + Header("Café crème", "iso-8859-1").encode().encode())


def uuencoded_message():
    import binascii
    data = os.urandom(1000)
    lines = ["begin 644 table.dat"]
    for i in range(0, len(data), 45):
        lines.append(binascii.b2a_uu(data[i:i + 45]).decode().rstrip("\n"))
    lines += ["`", "end"]
    text = "Here is the file:\n" + "\n".join(lines) + "\nBye\n"
    m = EmailMessage(policy=email.policy.SMTP)
    m["From"] = "u@example.test"
    m["To"] = "v@example.test"
    m["Subject"] = "uuencoded"
    m.set_content(text)
    return m.as_bytes(), data


def big_message(size):
    m = EmailMessage(policy=email.policy.SMTP)
    m["From"] = "big@example.test"
    m["To"] = "v@example.test"
    m["Subject"] = "big"
    m.set_content("see attachment\n")
    payload = os.urandom(size)
    m.add_attachment(payload, maintype="application", subtype="octet-stream", filename="big.bin")
    return m.as_bytes(), payload


def expected_parts(raw):
    """(file name, bytes) of every attachment as Python's email package reads it."""
    m = email.message_from_bytes(raw, policy=email.policy.default)
    parts = []
    for part in m.walk():
        if part.is_multipart():
            continue
        name = part.get_filename()
        if part.get_content_maintype() == "text" and not name:
            continue
        parts.append((name, part.get_payload(decode=True)))
    return parts


class Pop3Test(unittest.TestCase):
    def setUp(self):
        self.out = env.temp_dir(self, "qarvel-pop3-")

    def file(self, name):
        return (self.out / name).read_bytes()

    def test_nested_multiparts_and_encoded_names_after_apop(self):
        raw1, raw2 = nested_message(), latin1_message()
        raw3, uudata = uuencoded_message()
        env.fill_maildir("alice", [raw1, raw2, raw3])
        # -v:2 echoes the dialogue: the login must be APOP, and no PASS may follow it.
        r, _ = retrieve("alice", self.out, "-apop", "-v:2")
        self.assertEqual(r.returncode, 0, r.stderr)
        stdout = r.stdout
        self.assertIn(b"APOP alice ***\r\n", stdout)
        self.assertNotIn(b"PASS ", stdout)

        self.assertIn("1. Grüße aus Köln ✓\n".encode(), stdout)
        self.assertIn("plain text körper".encode(), stdout)
        for name, data in expected_parts(raw1):
            self.assertIn(hashlib.sha256(data).hexdigest(),
                          {hashlib.sha256(p.read_bytes()).hexdigest() for p in self.out.iterdir()},
                          name)
        self.assertEqual(self.file("Bericht_März.pdf"), expected_parts(raw1)[1][1])
        self.assertEqual(self.file("evil.txt"), b"..dots\r\n.\r\nend\r\n")
        self.assertTrue((self.out / "img1@example.test").exists())  # named by its content id

        self.assertIn("2. Café crème\n".encode("latin-1"), stdout)
        self.assertIn(b"caf\xe9", stdout)
        self.assertEqual(self.file("donn\u00e9es.bin"), b"\x00\x01binary\xff" * 1000)

        self.assertIn(b"3. uuencoded\n", stdout)
        self.assertEqual(self.file("table.dat"), uudata)
        self.assertIn(b"Here is the file:", stdout)
        self.assertIn(b"Bye", stdout)

    def test_logins_traced_at_both_levels(self):
        # USER/PASS and APOP over POP3, LOGIN over IMAP: "***" where the password stood.
        env.fill_maildir("alice", ["Subject: one\n\nbody\n"])
        env.fill_maildir("carol", ["Subject: one\n\nbody\n"])
        pop3 = ["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), "-user:alice", "-pass:secret", "-br"]
        imap = ["-imap", "-host:127.0.0.1", "-port:" + env.port("IMAP_PORT"), "-user:carol", "-pass:secret", "-br"]
        for level in ("2", "3"):
            with self.subTest(level=level):
                env.assert_traced(self, env.run(pop3 + ["-v:" + level]), b"USER alice\r\n", b"PASS ***\r\n")
                env.assert_traced(self, env.run(pop3 + ["-apop", "-v:" + level]), b"APOP alice ***\r\n")
                env.assert_traced(self, env.run(imap + ["-v:" + level]), b"***\r\n", b"1. one")

    def test_20_mib_attachment(self):
        raw, payload = big_message(20 << 20)
        env.fill_maildir("bob", [raw])
        r, peak_kb = retrieve("bob", self.out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.file("big.bin"), payload)
        self.assertLess(peak_kb, 64 * 1024, "memory must not grow with the attachment")
        # -raw writes the text as it comes, over POP3 and IMAP alike, and holds none of it.
        text = b"1. " + raw[raw.index(b"\r\n\r\n") + 4:]
        for mode in ([], ["-imap", "-port:" + env.port("IMAP_PORT")]):
            with self.subTest(mode=mode):
                r, peak_kb = env.peak_run(["-host:127.0.0.1", "-port:" + env.port("POP3_PORT"), "-user:bob",
                                           "-pass:secret", "-raw", *mode], timeout=120)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertTrue(r.stdout == text, "the raw text differs from the message's")
                self.assertLess(peak_kb, 12 * 1024)


if __name__ == "__main__":
    unittest.main()
