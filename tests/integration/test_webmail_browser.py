"""The web-mail site in a real browser (headless Chromium through Selenium) in front of
lighttpd, Dovecot and Postfix: log in, list, open a message, download its attachment, compose
with an upload, reply, forward and delete. A message whose subject is a script shows as text
and runs nothing. Messages in Latin-1, UTF-8 and Windows-1252 show their own characters, and
a message composed in the browser with UTF-8 subject, text and file name reaches Postfix's
inbox as written. Screenshots go to STATE/webmail/screens."""
import base64
import os
import pathlib
import shutil
import sys
import time

try:
    import selenium  # noqa: F401
except ImportError:
    # Debian's Selenium package belongs to the system's Python.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    raise

import qarvel_env as q
from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

PORT = int(q.port("WEBMAIL_PORT"))
BASE = f"http://127.0.0.1:{PORT}"
SCREENS = q.STATE / "webmail" / "screens"
DOWNLOADS = q.STATE / "webmail" / "downloads"
ATTACHMENT = bytes(range(256)) * 64
TAG = "browser-" + os.urandom(4).hex()

HOSTILE = ("From: Mallory <mallory@example.com>\nTo: test@localhost\nSubject: <script>alert(1)</script> "
           + TAG + "\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n\nHi <img src=x onerror=alert(2)>\n")
WITH_FILE = ("From: Alice <alice@example.com>\nTo: test@localhost\nSubject: Quarterly report\n"
             "Date: Mon, 7 Dec 2026 11:30:00 +0000\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=XX\n\n"
             "--XX\nContent-Type: text/plain\n\nHello,\n\nthe figures are attached.\n\nAlice\n--XX\n"
             "Content-Type: application/octet-stream; name=\"figures.bin\"\n"
             "Content-Disposition: attachment; filename=\"figures.bin\"\nContent-Transfer-Encoding: base64\n\n"
             + base64.encodebytes(ATTACHMENT).decode() + "--XX--\n")

# The same greeting in three charsets, each with an encoded-word subject and sender and a body
# in its declared charset.
GREETING = "Gr\u00fc\u00dfe aus K\u00f6ln"


def charset_message(charset, subject, body, sender):
    def word(text):
        return "=?" + charset + "?Q?" + "".join(
            c if c.isalnum() and ord(c) < 128 else "=%02X" % b for c in text for b in c.encode(charset)) + "?="
    return ("From: " + word(sender) + " <sender@example.com>\nTo: test@localhost\nSubject: " + word(subject)
            + "\nDate: Tue, 8 Dec 2026 09:00:00 +0000\nMIME-Version: 1.0\nContent-Type: text/plain; charset="
            + charset + "\nContent-Transfer-Encoding: 8bit\n\n").encode() + body.encode(charset) + b"\n"


CHARSET_MESSAGES = [
    ("iso-8859-1", "Latin-1: " + GREETING, GREETING + " \u00e0 \u00e9 \u00ee \u00f5 \u00fc \u00a7 \u00bd",
     "J\u00fcrgen M\u00fcller"),
    ("utf-8", "UTF-8: " + GREETING + " \u20ac \u03a9 \u041f\u0440\u0438\u0432\u0435\u0442", GREETING + " \u20ac \u2014 \u65e5\u672c\u8a9e \u03a9",
     "Zo\u00eb \u00d8stergaard"),
    ("windows-1252", "Windows-1252: \u201c" + GREETING + "\u201d \u20ac",
     "\u201c" + GREETING + "\u201d \u2013 \u20ac 5 \u2026 \u0160\u017e", "Fran\u00e7ois"),
]

check = q.Checks()


def no_alert(d, where):
    try:
        d.switch_to.alert
        check(False, "a script ran on the " + where)
    except NoAlertPresentException:
        pass


def button(d, label, index=0):
    return d.find_elements(By.XPATH, f"//input[@type='submit' and @value='{label}']")[index]


def wait_text(d, text, timeout=20):
    WebDriverWait(d, timeout).until(lambda x: text in x.page_source)


def shot(d, name):
    d.save_screenshot(str(SCREENS / name))


def open_list(d, extra="&-br&-html"):
    d.get(BASE + "/cgi-bin/qarvel/?-cgi:-host:localhost&-config&-user:test&-pass:secret" + extra)


def compose(d, subject, text, upload, screen=None):
    """Fills the compose form to bob with an upload and sends it."""
    button(d, "Compose...").click()
    wait_text(d, "qarvel_subject")
    d.find_element(By.NAME, "qarvel_to").send_keys("bob@localhost")
    d.find_element(By.NAME, "qarvel_subject").send_keys(subject)
    d.find_element(By.NAME, "qarvel_data").send_keys(text)
    d.find_element(By.NAME, "filename").send_keys(str(upload))
    if screen:
        shot(d, screen)
    button(d, "Send").click()
    wait_text(d, "Sent ")


def main():
    for folder in (SCREENS, DOWNLOADS):
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
    q.fill_maildir("test", [HOSTILE, WITH_FILE])
    options = webdriver.ChromeOptions()
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=1100,900"):
        options.add_argument(a)
    options.add_experimental_option("prefs", {"download.default_directory": str(DOWNLOADS),
                                              "download.prompt_for_download": False})
    d = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=options)
    d.set_page_load_timeout(60)
    try:
        d.get(BASE + "/")
        d.find_element(By.ID, "user").send_keys("test")
        d.find_element(By.ID, "pass").send_keys("secret")
        d.find_element(By.ID, "go").click()
        wait_text(d, "Quarterly report")
        no_alert(d, "list page")
        body = d.find_element(By.TAG_NAME, "body").text
        check("<script>alert(1)</script> " + TAG in body, "the hostile subject shows as text")
        check(len(d.find_elements(By.TAG_NAME, "script")) == 0, "no script element on the list page")
        shot(d, "mailbox.png")

        button(d, "View...", 1).click()
        wait_text(d, "figures.bin")
        no_alert(d, "message page")
        shot(d, "message.png")
        d.find_element(By.PARTIAL_LINK_TEXT, "figures.bin").click()
        target = DOWNLOADS / "figures.bin"
        deadline = time.time() + 20
        while time.time() < deadline and not (target.exists() and target.stat().st_size == len(ATTACHMENT)):
            time.sleep(0.2)
        check(target.exists() and target.read_bytes() == ATTACHMENT, "downloaded attachment bytes")

        # Compose with an upload.
        upload = DOWNLOADS / "plan.bin"
        upload.write_bytes(os.urandom(30000))
        compose(d, "compose " + TAG, "Hello Bob,\nthe plan is attached.\n", upload, "compose.png")
        found = q.inbox_with("compose " + TAG)
        check(len(found) == 1, "composed message in Postfix's inbox")
        if found:
            parts = [p for p in q.parsed(found[0]).walk() if p.get_filename()]
            check(len(parts) == 1 and parts[0].get_filename() == "plan.bin"
                  and parts[0].get_payload(decode=True) == upload.read_bytes(), "uploaded file attached")

        # Reply to the hostile message, forward the report.
        open_list(d)
        button(d, "Reply...", 0).click()
        wait_text(d, "qarvel_subject")
        no_alert(d, "reply form")
        subject = d.find_element(By.NAME, "qarvel_subject").get_attribute("value")
        check(subject == "RE: <script>alert(1)</script> " + TAG, f"reply subject {subject!r}")
        check(d.find_element(By.NAME, "qarvel_to").get_attribute("value") == "mallory@example.com", "reply recipient")
        button(d, "Send").click()
        wait_text(d, "Sent ")
        check(len(q.inbox_with("RE: <script>alert(1)</script> " + TAG)) == 1, "reply in Postfix's inbox")

        open_list(d)
        button(d, "Forward...", 1).click()
        wait_text(d, "qarvel_subject")
        d.find_element(By.NAME, "qarvel_to").send_keys("carol@localhost")
        subject = d.find_element(By.NAME, "qarvel_subject")
        subject.send_keys(" " + TAG)
        button(d, "Send").click()
        wait_text(d, "Sent ")
        forwarded = q.inbox_with("Fwd: Quarterly report " + TAG)
        check(len(forwarded) == 1 and "the figures are attached" in forwarded[0].read_text(errors="replace"),
              "forwarded message in Postfix's inbox")

        # Delete the first message: the page goes back to the list by itself.
        open_list(d)
        button(d, "Delete", 0).click()
        wait_text(d, "Deleted message #1")
        WebDriverWait(d, 20).until(lambda x: len(x.find_elements(By.XPATH, "//input[@value='View...']")) == 1)
        check(TAG not in d.find_element(By.TAG_NAME, "body").text, "deleted message gone from the list")
        shot(d, "after-delete.png")
        charsets(d)
    finally:
        d.quit()


def charsets(d):
    q.fill_maildir("test", [charset_message(*m) for m in CHARSET_MESSAGES])
    open_list(d)
    wait_text(d, "Windows-1252")
    body = d.find_element(By.TAG_NAME, "body").text
    for charset, subject, text, sender in CHARSET_MESSAGES:
        check(subject in body, f"{charset} subject shown as {subject!r}")
        check(sender in body, f"{charset} sender shown as {sender!r}")
    shot(d, "charsets.png")
    for n, (charset, subject, text, sender) in enumerate(CHARSET_MESSAGES, 1):
        open_list(d, f"&-msg:{n}&-html&-extract")
        shown = d.find_element(By.TAG_NAME, "pre").text
        check(shown.strip() == text, f"{charset} body shown as {shown!r}")

    # Composed in the browser: UTF-8 subject, text and file name, read back by Python.
    tag = "charsets-" + os.urandom(4).hex()
    subject = "Report M\u00e4rz \u20ac " + tag
    text = GREETING + ", \u201cquoted\u201d \u2014 \u65e5\u672c"
    upload = DOWNLOADS / "Bericht M\u00e4rz \u65e5\u672c.pdf"
    upload.write_bytes(b"%PDF-1.4 " + os.urandom(2000))
    open_list(d)
    compose(d, subject, text, upload)
    found = q.inbox_with(tag)
    check(len(found) == 1, "UTF-8 message in Postfix's inbox")
    if found:
        m = q.parsed(found[0])
        check(m["Subject"] == subject, f"subject read back as {m['Subject']!r}")
        part = m.get_body(("plain",))
        check(part.get_content_charset() == "utf-8" and part.get_content().strip() == text,
              f"text read back as {part.get_content()!r}")
        files = [p for p in m.walk() if p.get_filename()]
        # The upload is stored under its safe name: blanks become "_", letters beyond ASCII stay.
        check(len(files) == 1 and files[0].get_filename() == upload.name.replace(" ", "_")
              and files[0].get_payload(decode=True) == upload.read_bytes(),
              f"file read back as {[p.get_filename() for p in files]}")


main()
check.finish()
