"""The mailing-list server and batch files against the real servers. Requests reach the list's
own mailbox (Dovecot user "dave", address list@lists.test) through Postfix; the list run reads
it over POP3 and answers through Postfix, which delivers into each subscriber's own Maildir
(USER@subscribers.test) and bounces what goes to USER@bounces.test with a real delivery report.
What every subscriber received is parsed with Python's email package."""
import time
import unittest
import uuid

import qarvel_env as env

LIST = "list@lists.test"
SUBSCRIBERS = ["ann", "ben", "cat", "dan", "eve"]
SMTP = ["-host:127.0.0.1", "-port:" + env.port("SMTP_PORT")]


def address(user):
    return user + "@subscribers.test"


def subscriber_dir(user):
    return env.STATE / "mail" / "subscribers" / user


def received(user, count, timeout=20):
    """The messages in the subscriber's Maildir (parsed), once there are count of them."""
    return [env.parsed(f) for f in env.inbox_with(None, count, timeout, subscriber_dir(user))]


def list_mailbox(count, timeout=20):
    return env.inbox_with(None, count, timeout, env.user_maildir("dave"))


def send(sender, subject, body="hello\n", attachment=None, to=LIST, extra=()):
    """Mails a request or contribution to the list through Postfix with qarvel itself."""
    args = SMTP + ["-from:" + sender, "-to:" + to, "-s:" + subject, "-msg:" + body] + list(extra)
    if attachment:
        args.append("-a:" + str(attachment))
    r = env.run(args)
    assert r.returncode == 0, r.stderr


def attachments(message):
    """(file name, text) of every attachment."""
    out = []
    for p in message.iter_attachments():
        content = p.get_content()
        out.append((p.get_filename(), content.decode() if isinstance(content, bytes) else content))
    return out


def body_text(message):
    part = message.get_body(preferencelist=("plain",))
    return part.get_content().replace("\r\n", "\n").rstrip("\n") if part else ""


class ListServerTest(unittest.TestCase):
    """The list run as a cron job starts it: every server in the configuration file, one
    -host: nowhere, the subscriber file named by -tolist:."""

    def setUp(self):
        self.tmp = env.temp_dir(self, "qarvel-list-")
        self.subscribers = self.tmp / "subscribers.txt"
        self.fetch = self.tmp / "files"
        self.fetch.mkdir()
        (self.fetch / "readme.txt").write_text("Read me first.\n")
        self.config = self.tmp / "list.conf"
        self.config.write_text(f"POP3_HOST 127.0.0.1\nPOP3_PORT {env.port('POP3_PORT')}\n"
                               f"SMTP_HOST 127.0.0.1\nSMTP_PORT {env.port('SMTP_PORT')}\n")
        for box in ["dave"] + [subscriber_dir(user) for user in SUBSCRIBERS]:
            env.fill_maildir(box, [])

    def list_run(self, expected_messages):
        list_mailbox(expected_messages)
        r = env.run(["-config:" + str(self.config), "-user:dave", "-pass:secret", "-listserv:" + LIST,
                     "-tolist:" + str(self.subscribers), "-priv", "-owner:" + LIST,
                     "-fetch:" + str(self.fetch), "-rm", "-quiet"], timeout=120, cwd=self.tmp)
        return r.returncode, r.stdout.decode(), r.stderr.decode()

    def test_subscribe_contribute_bounce_unsubscribe_fetch_loop_cycle(self):
        # A subscriber whose mailbox has gone since, then subscriptions, one of them twice.
        self.subscribers.write_text("gone@bounces.test\n")
        for user in ("ann", "ben", "cat"):
            send(address(user), "subscribe")
        send(address("ann"), "Subscribe")
        code, out, err = self.list_run(4)
        self.assertEqual(code, 0, err)
        self.assertEqual(out.splitlines(), [
            "dave/subscribe: ann@subscribers.test", "dave/subscribe: ben@subscribers.test",
            "dave/subscribe: cat@subscribers.test", "dave/subscribe (ignored): ann@subscribers.test"])
        self.assertEqual(self.subscribers.read_text().split(),
                         ["gone@bounces.test", address("ann"), address("ben"), address("cat")])
        replies = received("ann", 2)
        self.assertEqual([m["Subject"] for m in replies], ["RE: subscribe", "RE: subscribe"])
        self.assertEqual(replies[0]["From"], LIST)
        self.assertEqual(replies[0]["Auto-Submitted"], "auto-replied")
        self.assertEqual(len(received("ben", 1)), 1)

        # A contribution with an attachment, and an unsubscription.
        attachment = self.tmp / "agenda.txt"
        attachment.write_text("1. Welcome\n2. Lunch\n")
        send(address("ben"), "Weekly news", "Hello list,\n\nsee the agenda.\n", attachment)
        send(address("cat"), "unsubscribe")
        code, out, err = self.list_run(2)
        self.assertEqual(code, 0, err)
        self.assertEqual(out.splitlines(), [
            "dave/distribution: ben@subscribers.test (Weekly news)",
            "dave/unsubscribe: cat@subscribers.test"])
        self.assertEqual(self.subscribers.read_text().split(),
                         ["gone@bounces.test", address("ann"), address("ben")])
        for user, before in (("ann", 2), ("ben", 1), ("cat", 1)):
            news = received(user, before + 1)[before]
            self.assertEqual(news["Subject"], "Weekly news")
            self.assertIn(address("ben"), news["From"])
            self.assertEqual(news["To"], LIST)  # the list's header lines: ListServer in tests/receive
            # List mail: the envelope sender is the list, so reports come back to it.
            self.assertEqual(news["Return-Path"], "<" + LIST + ">")
            self.assertIn("see the agenda.", body_text(news))
            self.assertEqual(attachments(news), [("agenda.txt", "1. Welcome\n2. Lunch\n")])
        self.assertEqual(received("cat", 3)[2]["Subject"], "RE: unsubscribe")

        # The copy to gone@bounces.test came back to the list's mailbox as a delivery report.
        # Then the file index, a file, a name that climbs out of the folder, and two copies
        # that looped back: one with the list's loop header, one from the list itself.
        list_mailbox(1)
        send(address("ann"), "index")
        send(address("ann"), "fetch readme.txt")
        send(address("ann"), "fetch ../list.conf")
        send(address("ben"), "Weekly news again", extra=["-hdr:X-Loop: " + LIST])
        send(LIST, "Weekly news once more")
        code, out, err = self.list_run(6)
        self.assertEqual(code, 0, err)
        self.assertEqual(out.splitlines(), [
            "dave/undelivered (unsubscribed): gone@bounces.test",
            "dave/index: ann@subscribers.test from list@lists.test",
            "dave/fetch: ann@subscribers.test who readme.txt",
            "dave/fetch: ann@subscribers.test who ../list.conf",
            "dave/circular: ben@subscribers.test",
            "dave/circular: list@lists.test"])
        self.assertEqual(self.subscribers.read_text().split(), [address("ann"), address("ben")])
        index, fetched, refused = received("ann", 6)[3:6]
        self.assertEqual(index["Subject"], "RE: index")
        self.assertRegex(body_text(index), r"^FILE INDEX:\n\nreadme\.txt \.{40}        0K   ")
        self.assertEqual(attachments(fetched), [("readme.txt", "Read me first.\n")])
        self.assertEqual(body_text(refused), "SORRY, can't do that: ../list.conf")
        # Nothing of the looped copies went out; every request left the mailbox.
        time.sleep(1)
        self.assertEqual(len(received("ann", 6, timeout=0)), 6)
        self.assertEqual(len(received("ben", 2, timeout=0)), 2)
        self.assertEqual(list_mailbox(0, timeout=0), [])


class BatchFileTest(unittest.TestCase):
    def setUp(self):
        self.tmp = env.temp_dir(self, "qarvel-batch-")
        for user in SUBSCRIBERS:
            env.fill_maildir(subscriber_dir(user), [])

    def test_recipients_from_headers_each_message_on_its_own(self):
        tag = uuid.uuid4().hex[:8]
        text = (f"From: Dan <dan@subscribers.test>\nTo: ann@subscribers.test,\n\tben@subscribers.test\n"
                f"Bcc: cat@subscribers.test\nSubject: one {tag}\nMessage-ID: <one-{tag}@x>\n\nFirst text.\n..\n..x\n.\n"
                f"From: dan@subscribers.test\nTo: gone@bounces.test\nSubject: two {tag}\n\nSecond.\n.\n"
                f"From: dan@subscribers.test\nTo: eve@subscribers.test\nSubject: three {tag}\n\nThird.\n")
        r = env.run(SMTP + ["-t"], input=text)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode().count("Sent "), 3)
        for user in ("ann", "ben", "cat"):
            one = received(user, 1)
            self.assertEqual([m["Message-ID"] for m in one], [f"<one-{tag}@x>"], user)
            # The text is message data as it stands: its stuffed dots arrive single.
            self.assertEqual(body_text(one[0]), "First text.\n.\n.x")
        self.assertEqual([m["Subject"] for m in received("eve", 1)], [f"three {tag}"])
        # The bounce goes back to the sender; nothing else reached dan.
        report = received("dan", 1)
        self.assertEqual(len(report), 1)
        self.assertIn("gone@bounces.test", report[0].as_string())

    def test_each_message_routed_to_the_exchangers_on_its_own(self):
        # -probe: turns direct delivery on (and asks without sending); its address is the
        # command-line recipient, so it replaces every message's To.
        resolv = self.tmp / "resolv.conf"
        resolv.write_text(f"nameserver {env.port('DNS_ADDR')}:{env.port('DNS_PORT')}\n")
        batch = self.tmp / "batch.txt"
        batch.write_text("From: a@x.org\nTo: one@y.test\nSubject: s1\n\nbody\n.\nFrom: a@x.org\nTo: two@y.test\n\nbody\n")
        r = env.run(["-probe:someone@deliver.test", "-port:" + env.port("MX_PORT"), "-t", "-file:" + str(batch)],
                    env={"QARVEL_RESOLV_CONF": str(resolv)}, timeout=120)
        out, err = r.stdout.decode(), r.stderr.decode()
        self.assertEqual(r.returncode, 0, err)
        # Every message looks its exchangers up again and falls back past the refusing one.
        self.assertEqual(err.count("Trying " + env.port("DNS_ADDR")), 2, err)
        self.assertEqual(err.count(f"Could not connect to server: 127.0.0.41:{env.port('MX_PORT')}, error= -10061"), 2)
        self.assertEqual([l for l in out.splitlines() if l.startswith("MX server")],
                         ["MX server (10) = '127.0.0.41'", "MX server (20) = '127.0.0.42'"] * 2)
        self.assertEqual(out.count("to 'someone@deliver.test'"), 2)


if __name__ == "__main__":
    unittest.main()
