"""Shared helpers for the integration tests: where the binary and the servers are, how to run
qarvel as a user would, and how to read what a server received."""
import base64
import email
import email.message
import email.policy
import os
import re
import shutil
import unittest
import pathlib
import subprocess
import sys
import tempfile
import time

SOURCE = pathlib.Path(os.environ.get("QARVEL_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BINARY = os.environ.get("QARVEL_BINARY", str(SOURCE / "build" / "qarvel"))
STATE = pathlib.Path(os.environ.get("QARVEL_STATE", SOURCE / "build" / "state"))
INBOX = STATE / "mail" / "inbox"  # Postfix delivers every test message here
CA = str(STATE / "tls" / "ca.crt")  # the test certificate authority (scripts/servers/tls.sh)


def _ports():
    """The ports of scripts/servers/ports.env, with the environment's overrides."""
    ports = {}
    for line in (SOURCE / "scripts" / "servers" / "ports.env").read_text().splitlines():
        line = line.strip()
        if not line or line.startswith("#") or "=" not in line:
            continue
        name, value = line.split("=", 1)
        default = value.split(":-", 1)[1][:-1] if ":-" in value else value
        # A default beside another port: "$((IMAP_PORT + 50))".
        beside = re.fullmatch(r"\$\(\((\w+) \+ (\d+)\)\)", default)
        if beside:
            default = str(int(ports[beside.group(1)]) + int(beside.group(2)))
        ports[name] = os.environ.get(name, default)
    return ports


PORTS = _ports()


def missing(why):
    """A tool or port the test needs is not there: a skip on a developer's machine, a failure
    under CI (CI=true), where install-deps.sh must have provided it."""
    if os.environ.get("CI") == "true":
        raise AssertionError("needed under CI: " + why)
    raise unittest.SkipTest(why)


class Checks:
    """The checks of a script that goes on past a failure: each failure is printed as it
    happens, and finish() ends the script with their count."""

    def __init__(self):
        self.failures = []

    def __call__(self, condition, what):
        if not condition:
            self.failures.append(what)
            print("FAIL:", what)

    def finish(self):
        print("failures:", len(self.failures))
        sys.exit(1 if self.failures else 0)


def port(name):
    return PORTS[name]


def environment(**extra):
    """The test's environment for a child, never in a web request's mode, with extra added."""
    full_env = dict(os.environ)
    full_env.pop("GATEWAY_INTERFACE", None)
    full_env.update(extra)
    return full_env


def run(args, input=None, timeout=60, env=None, cwd=None):
    """Runs build/qarvel with the given arguments; returns the CompletedProcess (bytes)."""
    if isinstance(input, str):
        input = input.encode()
    return subprocess.run([BINARY] + list(args), input=input, capture_output=True,
                          timeout=timeout, env=environment(**(env or {})), cwd=cwd)


def peak_run(args, timeout=300):
    """Runs build/qarvel with the arguments, no standard input; returns the CompletedProcess and
    the peak resident memory of the run in KiB, as GNU time reports it (it forks from a small
    process, so the figure is the program's own)."""
    if not os.access("/usr/bin/time", os.X_OK):
        missing("GNU time (package time)")
    with tempfile.NamedTemporaryFile() as peak:
        r = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak.name, BINARY] + list(args),
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        return r, int(pathlib.Path(peak.name).read_text().split()[-1])


def temp_dir(test, prefix="qarvel-"):
    """A fresh folder for the test, removed when it ends."""
    path = pathlib.Path(tempfile.mkdtemp(prefix=prefix))
    test.addCleanup(shutil.rmtree, path, True)
    return path


TRACED_SECRETS = [b"secret", base64.b64encode(b"\0test\0secret"), base64.b64encode(b"secret")]


def assert_traced(test, r, *shown):
    """A traced run that logged in with password "secret": it succeeded, its trace holds the
    lines shown, and neither the password nor a base64 form of it."""
    test.assertEqual(r.returncode, 0, r.stderr + r.stdout)
    for line in shown:
        test.assertIn(line, r.stdout)
    for secret in TRACED_SECRETS:
        test.assertNotIn(secret, r.stdout)


def maildir_files(path):
    """The message files of a Maildir's new/ and cur/, oldest first."""
    path = pathlib.Path(path)
    files = [p for sub in ("new", "cur") for p in (path / sub).glob("*") if p.is_file()]
    return sorted(files, key=lambda p: (p.stat().st_mtime, p.name))


def inbox_with(tag, count=1, timeout=15, inbox=INBOX):
    """The files of Postfix's inbox (or another Maildir) whose header holds tag (None: every
    file), once there are count of them or the time is up (timeout 0: look once)."""
    deadline = time.time() + timeout
    while True:
        found = []
        for path in maildir_files(inbox):
            try:
                if tag is None or tag.encode() in path.read_bytes().split(b"\n\n", 1)[0]:
                    found.append(path)
            except OSError:
                continue
        if len(found) >= count or time.time() >= deadline:
            return found
        time.sleep(0.1)


def delivered(tag, count=1):
    """(parsed message, raw bytes) of each copy Postfix delivered with tag in its header."""
    return [(parsed(p), p.read_bytes()) for p in inbox_with(tag, count)]


def message(subject, sender="Sender <sender@example.test>", body="hello\n", attachment=None,
            headers=None, date="Mon, 01 Jun 2026 10:00:00 +0000"):
    """A test message (bytes, CR LF) made by Python's email package; attachment is (name, data)."""
    m = email.message.EmailMessage(policy=email.policy.SMTP)
    m["From"] = sender
    m["To"] = "Reader <reader@example.test>"
    m["Subject"] = subject
    m["Date"] = date
    for name, value in (headers or {}).items():
        m[name] = value
    m.set_content(body)
    if attachment:
        name, data = attachment
        m.add_attachment(data, maintype="application", subtype="octet-stream", filename=name)
    return m.as_bytes()


def parsed(path):
    """The message in the file, parsed by Python's email package (default policy)."""
    return email.message_from_bytes(pathlib.Path(path).read_bytes(), policy=email.policy.default)


MAIL_UID = 65534  # the userdb uid of the Dovecot users (scripts/servers/dovecot.sh)


def user_maildir(user):
    """The Maildir of a Dovecot test user (test, alice, bob, carol, dave; password "secret")."""
    return STATE / "dovecot" / "mail" / user


def fill_maildir(user, messages):
    """Empties the user's Maildir (or the Maildir at a path) and stores the messages (bytes or
    str, in order) in new/. POP3 numbers them in file-name order, so message 1 is the first
    given. The files are owned by the userdb uid, as Dovecot requires."""
    root = user if isinstance(user, pathlib.Path) else user_maildir(user)
    for sub in ("new", "cur", "tmp"):
        (root / sub).mkdir(parents=True, exist_ok=True)
        for p in (root / sub).iterdir():
            if p.is_file():
                p.unlink()
    for name in ("dovecot-uidlist", "dovecot.index", "dovecot.index.cache", "dovecot.index.log",
                 "dovecot-uidvalidity"):
        for p in root.glob(name + "*"):
            p.unlink()
    stamp = int(time.time())
    for i, message in enumerate(messages, 1):
        data = message.encode() if isinstance(message, str) else bytes(message)
        # Maildir messages are stored with LF line ends; the POP3 server adds the CRs.
        data = data.replace(b"\r\n", b"\n")
        path = root / "new" / f"{stamp}.Q{i:07d}.localhost"
        path.write_bytes(data)
    for p in [root] + [q for q in root.rglob("*")]:
        try:
            os.chown(p, MAIL_UID, MAIL_UID)
        except PermissionError:
            pass
    return root
