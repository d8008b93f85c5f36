"""The web-mail site behind lighttpd (scripts/servers/webmail.sh) over HTTP: the exact page
texts and headers of each page, and hostile requests against every rule that keeps request and
message text out of markup, headers and commands, and request-named files in their folder."""
import base64
import http.client
import os
import pathlib
import urllib.parse

import qarvel_env as q

PORT = int(q.port("WEBMAIL_PORT"))
FILES = q.STATE / "webmail" / "files"
SESSION = "/cgi-bin/qarvel/?-cgi:-host:localhost&-config&-user:test&-pass:secret"
ATTACHMENT = bytes(range(256)) * 40 + b"\r\n.\r\nend"

HOSTILE = ("From: \"Mallory <script>\" <mallory@example.com>\nTo: test@localhost\n"
           "Subject: <script>alert(1)</script>\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n\n"
           "<img src=x onerror=alert(2)> & </pre><script>alert(3)</script>\n")
WITH_FILE = ("From: Alice <alice@example.com>\nTo: test@localhost\nSubject: report attached\n"
             "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=XX\n\n--XX\n"
             "Content-Type: text/plain\n\nThe report.\n--XX\nContent-Type: application/octet-stream; "
             "name=\"report.bin\"\nContent-Disposition: attachment; filename=\"report.bin\"\n"
             "Content-Transfer-Encoding: base64\n\n" + base64.encodebytes(ATTACHMENT).decode() + "--XX--\n")
HTML_ONLY = ("From: news@example.com\nTo: test@localhost\nSubject: html only\nMIME-Version: 1.0\n"
             "Content-Type: text/html\n\n<p onclick=alert(4)>Big <b>news</b></p><script>alert(5)</script>\n")

check = q.Checks()


def request(path, method="GET", body=None, headers=None):
    c = http.client.HTTPConnection("127.0.0.1", PORT, timeout=60)
    c.request(method, path, body=body, headers=headers or {})
    r = c.getresponse()
    data = r.read()
    c.close()
    return r.status, {k.lower(): v for k, v in r.getheaders()}, data


def page(path, **kw):
    status, headers, data = request(path, **kw)
    return status, headers, data.decode("latin-1")


def form(path, body=b""):
    """The page of a url-encoded form posted to path."""
    return page(path, method="POST", body=body, headers={"Content-Type": "application/x-www-form-urlencoded"})


def multipart(fields, file_name=None, file_data=b""):
    boundary = "----qarvelTestBoundary7MA4YWxkTrZu0gW"
    out = b""
    for name, value in fields.items():
        out += (f"--{boundary}\r\nContent-Disposition: form-data; name=\"{name}\"\r\n\r\n").encode() + value.encode() + b"\r\n"
    if file_name is not None:
        out += (f"--{boundary}\r\nContent-Disposition: form-data; name=\"filename\"; filename=\"{file_name}\"\r\n"
                "Content-Type: application/octet-stream\r\n\r\n").encode() + file_data + b"\r\n"
    out += f"--{boundary}--\r\n".encode()
    return out, {"Content-Type": "multipart/form-data; boundary=" + boundary}


def uploads_left():
    return sorted(p.name for p in FILES.glob("qarvel-upload-*"))


def test_pages():
    q.fill_maildir("test", [HOSTILE, WITH_FILE, HTML_ONLY])
    status, headers, text = page(SESSION + "&-br&-html")
    check(status == 200, f"list status {status}")
    check(headers.get("content-type") == "text/html", f"list type {headers.get('content-type')}")
    # The exact markup of each piece is in tests/web/web_pages_test.cpp; here the whole path.
    check("&lt;script&gt;alert(1)&lt;/script&gt;" in text and "<script" not in text, "hostile row escaped")
    check(text.count('value="View..."') == 3 and text.endswith("</table></body></html>\n"), "three rows, whole page")

    # The message page: the body escaped, the attachment saved and linked.
    status, _, text = form(SESSION + "&-post&-msg:1&-html&-extract")
    check("<pre>&lt;img src=x onerror=alert(2)&gt; &amp; &lt;/pre&gt;&lt;script&gt;alert(3)&lt;/script&gt;\n</pre>"
          in text, "hostile body escaped")
    check("<script" not in text and "<img" not in text, "no markup from the message")
    _, _, text = page(SESSION + "&-msg:3&-html&-extract")
    check("<script" not in text and "<p onclick" not in text and "Big" in text, "HTML body shown as text")
    _, _, text = page(SESSION + "&-msg:2&-html&-extract")
    link = SESSION + "&-get:report.bin"
    check(f'<br><b><font color=teal>Attachment: </font></b><a href="{link}">report.bin ({len(ATTACHMENT)} bytes)</a>'
          in text, "attachment link")
    status, headers, data = request(link)
    check(status == 200 and data == ATTACHMENT, f"download bytes ({status}, {len(data)})")
    check(headers.get("content-disposition") == 'attachment; filename="report.bin"', "download disposition")
    check(headers.get("content-type") == 'application/octet-stream; name="report.bin"', "download type")

    # IMAP: the folder bar with the folder selector and the count; the folder travels URL-encoded.
    _, _, text = page("/cgi-bin/qarvel/?-cgi:-host:localhost&-config&-imap&-mbox:INBOX&-user:test&-pass:secret&-br&-html")
    check("<select name=qarvel_mbox><option selected>INBOX</option>" in text, "IMAP folder selector")
    check("<b><nowrap>There are 3 messages waiting (" in text, "IMAP message count")
    check("&-imap&-mbox:INBOX&-user:test&-pass:secret&-post&-imap&-br&-html" in text, "IMAP session link")
    check("&lt;script&gt;alert(1)" in text and "<script" not in text, "IMAP list escaped")

    # A reply form filled from the message.
    _, _, text = page(SESSION + "&-msg:2&-reply&-html&-extract")
    check('name=qarvel_subject value="RE: report attached"' in text, "reply subject")
    _, _, text = page(SESSION + "&-msg:1&-forward&-html&-extract")
    check("<script" not in text, "no script in the forward form")


def test_downloads_stay_in_the_folder():
    folder = FILES / "qarvel.tmp" / "~test"
    secret = FILES / "outside-secret.txt"
    secret.write_text("secret")
    link = folder / "link.txt"
    if link.is_symlink() or link.exists():
        link.unlink()
    os.symlink(secret, link)
    for name, expected in (("..%2F..%2Foutside-secret.txt", 403), ("%2Fetc%2Fpasswd", 403),
                           ("..%5C..%5Coutside-secret.txt", 403), ("link.txt", 404),
                           ("report.bin%00.txt", None)):
        status, _, data = request(SESSION + "&-get:" + name)
        if expected is not None:
            check(status == expected, f"-get:{name} gave {status}")
        check(b"secret" not in data and b"root:" not in data, f"-get:{name} leaked")
    status, _, text = page(SESSION + "&-get:..%2Fx")
    check(text == "<html><head><title>Forbidden</title></head><body>Attempted path indirection</body></html>\n",
          "indirection page")
    for option in ("-a:..%2F..%2Fetc%2Fpasswd", "-file:%2Fetc%2Fpasswd", "-tolist:..%2Fusers"):
        status, _, _ = request(SESSION + "&" + option + "&-to:a@b.c&-from:x@y.z&-s:x")
        check(status == 403, f"{option} gave {status}")


def test_send_with_upload_and_injection():
    tag = "webmail-" + os.urandom(4).hex()
    upload = os.urandom(50000) + b"\r\n.\r\n"
    body, headers = multipart({"qarvel_user": "test", "qarvel_pass": "secret", "qarvel_from": "test@localhost",
                               "qarvel_to": "bob@localhost", "qarvel_cc": "", "qarvel_bcc": "",
                               "qarvel_subject": tag + "\r\nBcc: victim@example.com\r\nX-Injected: yes",
                               "qarvel_data": "Hello Bob,\r\n.\r\nsee the file.\r\n"},
                              file_name="C:\\Users\\me\\plan <1>.bin", file_data=upload)
    status, rh, text = page(SESSION + "&-from:&-upload&-reply&-post&-rm", method="POST", body=body, headers=headers)
    check(status == 200, f"send status {status}")
    check(text.lstrip("\r\n").startswith('<html><head><meta charset="utf-8"><meta http-equiv="Refresh" content="3;url=' + SESSION + '&-html&-br">'
                          '<meta http-equiv="Pragma" content="no-cache"><title>QARVEL Web Mail</title>'), "result head")
    check("<pre><font color=green><plaintext>Sent " in text, "result status line")
    found = q.inbox_with(tag)
    check(len(found) == 1, "message in Postfix's inbox")
    if found:
        m = q.parsed(found[0])
        check(m["X-Injected"] is None and m["Bcc"] is None and m["Delivered-To"] == "bob@localhost",
              "no injected header or recipient")
        check(m["Subject"] == tag + "Bcc: victim@example.comX-Injected: yes", f"subject {m['Subject']}")
        parts = [p for p in m.walk() if p.get_filename()]
        check(len(parts) == 1 and parts[0].get_payload(decode=True) == upload, "uploaded bytes attached")
        check(parts and parts[0].get_filename() == "plan__1_.bin", f"attachment name {parts and parts[0].get_filename()}")
    check(uploads_left() == [], f"uploads left: {uploads_left()}")

    # Too large: refused with a page, nothing kept.
    big, headers = multipart({"qarvel_to": "bob@localhost", "qarvel_from": "test@localhost"}, file_name="big.bin",
                             file_data=b"z" * (32 * 1024 * 1024 + 10))
    status, _, text = page(SESSION + "&-from:&-upload&-post&-rm", method="POST", body=big, headers=headers)
    check(status == 413 and "Upload refused" in text, f"oversized upload gave {status}")
    check(uploads_left() == [], f"uploads left after refusal: {uploads_left()}")

    # A url-encoded form: line breaks in the fields never reach the message header or a command.
    tag2 = "webform-" + os.urandom(4).hex()
    fields = urllib.parse.urlencode({"qarvel_from": "test@localhost", "qarvel_to": "bob@localhost",
                                   "qarvel_subject": tag2 + "\nBcc: victim@example.com", "name": "Jo <b>",
                                   "qarvel_data": "text"})
    status, _, text = form("/cgi-bin/qarvel/?-cgi:-host:localhost&-config&-post", fields)
    check(text.startswith("<plaintext>") or "<plaintext>Sent " in text, "form result behind plaintext")
    found = q.inbox_with(tag2, timeout=10)
    check(len(found) == 1, "form message in Postfix's inbox")
    if found:
        m = q.parsed(found[0])
        check(m["Bcc"] is None and m["Delivered-To"] == "bob@localhost", "form injection")
        check("name=Jo <b>" in m.get_body().get_content(), "ordinary form fields mailed as lines")
    tag3 = "webrcpt-" + os.urandom(4).hex()
    fields = urllib.parse.urlencode({"qarvel_from": "test@localhost>\r\nRCPT TO:<victim@localhost",
                                   "qarvel_to": "bob@localhost", "qarvel_subject": tag3, "qarvel_data": "text"})
    form("/cgi-bin/qarvel/?-cgi:-host:localhost&-config&-post", fields)
    for path in q.inbox_with(tag3, timeout=3):
        check(q.parsed(path)["Delivered-To"] != "victim@localhost", "a recipient injected into the envelope")


def test_authentication_and_delete():
    empty = "<html><head><title>&nbsp;</title></head><body>&nbsp;</body></html>"
    auth = "/cgi-bin/qarvel/?-cgi:-host:localhost&-config&-auth&-br&-html"
    status, _, text = page(auth)
    check(status == 401 and text == empty, f"no credentials: {status}")
    good = {"Authorization": "Basic " + base64.b64encode(b"test:secret").decode()}
    status, _, text = page("/secure" + auth, headers=good)
    check(status == 200 and "test@localhost</th>" in text, f"authenticated list {status}")
    check("secret" not in text and "qarvel_pass" not in text and "-pass:" not in text, "password in an -auth page")

    q.fill_maildir("test", [HOSTILE, WITH_FILE])
    status, _, text = form(SESSION + "&-post&-rm&-msg:1&-br&-html")
    check('<meta http-equiv="refresh" content="1;url=' + SESSION + '&-html&-br">' in text, "refresh after delete")
    check("Deleted message #1<br>" in text, "delete announced")
    _, _, text = page(SESSION + "&-br&-html")
    check(text.count('value="View..."') == 1 and "report attached" in text, "one message left")

    # A refused login shows the driver's message in the page, escaped, and writes it to standard
    # error as it happens.
    log = q.STATE / "webmail" / "log" / "stdout.log"  # where lighttpd leaves its programs' standard error
    logged = log.stat().st_size
    _, _, text = page("/cgi-bin/qarvel/?-cgi:-host:localhost&-config&-user:%3Cb%3Ex&-pass:wrong&-br&-html")
    check("Could not log in as '&lt;b&gt;x' to: localhost:" in text and "<b>x" not in text, "login failure page")
    # A download whose login fails still gets one whole header: a failure status.
    status, headers, data = request("/cgi-bin/qarvel/?-cgi:-host:localhost&-config&-user:test&-pass:wrong"
                                    "&-get:report.bin")
    check(status == 502 and b"Could not log in as 'test'" in data, f"failed download {status} {data[:80]!r}")
    # A web send that cannot reach its server (nothing listens on port 25 here): the send
    # driver's failure on standard error.
    form("/cgi-bin/qarvel/?-cgi:-host:127.0.0.1&-to:a@b.c&-from:x@y.z&-s:x&-post", b"qarvel_data=hi")
    errors = log.read_bytes()[logged:].decode("latin-1")
    for what in ("Could not log in as '<b>x' to: localhost:", "Could not log in as 'test' to: localhost:",
                 "*** connect(IPv4) to '127.0.0.1'"):
        check(what in errors, f"standard error lacks {what!r}: {errors[-300:]!r}")


for t in (test_pages, test_downloads_stay_in_the_folder, test_send_with_upload_and_injection,
          test_authentication_and_delete):
    t()
check.finish()
