"""-url: against real peers: lighttpd (static files, Basic, Digest, a 302, a redirect loop, a
large file, https with the test CA), tinyproxy as forward proxy (plain and CONNECT), curl as the
second opinion on the bytes, and a fetched page sent through Postfix as an attachment.
(Exact request bytes and hostile responses are in tests/net/http_client_test.cpp.)"""
import pathlib
import subprocess
import tempfile
import time
import unittest
import uuid

import qarvel_env as env

HTTP = "http://127.0.0.1:" + env.port("HTTP_PORT")
HTTPS = "https://localhost:" + env.port("HTTPS_PORT")
DOCS = env.STATE / "www" / "htdocs"
CA = env.CA
PROXY = ["-host:127.0.0.1", "-port:" + env.port("PROXY_PORT_TEST")]


def curl(url, *args):
    """The body as curl sees it (the second opinion)."""
    r = subprocess.run(["curl", "-sS", "--max-time", "60", *args, url], capture_output=True,
                       timeout=90)
    assert r.returncode == 0, r.stderr
    return r.stdout


class UrlDownloads(unittest.TestCase):
    def setUp(self):
        self.dir = env.temp_dir(self)

    def fetch(self, *args):
        # -noop: the download happens while the options are read; nothing is sent.
        return env.run(list(args) + ["-noop"], cwd=self.dir, timeout=120)

    def test_same_bytes_as_curl(self):
        cases = [
            ("hello.txt", [], []),
            ("large.bin", [], []),
            ("index.html", [], []),
            ("basic/secret.txt", ["-user:test", "-pass:secret"], ["-u", "test:secret"]),
            ("digest/secret.txt", ["-user:test", "-pass:secret"],
             ["--digest", "-u", "test:secret"]),
            ("digest-md5/secret.txt", ["-user:test", "-pass:secret"],
             ["--digest", "-u", "test:secret"]),
            ("old/target.txt", [], ["-L"]),
        ]
        for path, options, curl_options in cases:
            with self.subTest(path=path):
                name = path.rsplit("/", 1)[-1]
                (self.dir / name).unlink(missing_ok=True)
                r = self.fetch(*options, "-url:" + HTTP + "/" + path)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertNotIn(b"WARNING", r.stderr)
                got = (self.dir / name).read_bytes()
                self.assertEqual(got, curl(HTTP + "/" + path, *curl_options))
                if path != "old/target.txt":
                    self.assertEqual(got, (DOCS / path).read_bytes())

    def client_ports(self, paths):
        """The client port of each path's request in lighttpd's access log (it writes the log
        about once a second)."""
        log = env.STATE / "www" / "log" / "access.log"
        for _ in range(50):
            lines = log.read_text(errors="replace").splitlines()
            ports = {p: l.rsplit(" ", 1)[-1] for l in lines for p in paths if f"GET /{p} " in l}
            if len(ports) == len(paths):
                return [ports[p] for p in paths]
            time.sleep(0.2)
        self.fail(f"not all of {paths} in the access log")

    def test_http11_downloads_share_one_connection(self):
        for option, connections in (("-http11", 1), ("-nohttp11", 3)):
            with self.subTest(option=option):
                tag = uuid.uuid4().hex
                paths = [f"hello.txt?{tag}-{i}" for i in range(3)]
                r = self.fetch(option, *[f"-url:{HTTP}/{p}|{i}.txt" for i, p in enumerate(paths)])
                self.assertEqual(r.returncode, 0, r.stderr)
                for i in range(3):
                    self.assertEqual((self.dir / f"{i}.txt").read_bytes(),
                                     (DOCS / "hello.txt").read_bytes())
                self.assertEqual(len(set(self.client_ports(paths))), connections)

    def test_https_verifies_with_the_test_ca(self):
        r = self.fetch("-cafile:" + CA, "-url:" + HTTPS + "/hello.txt|secure.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual((self.dir / "secure.txt").read_bytes(),
                         curl(HTTPS + "/hello.txt", "--cacert", CA))
        # Without the CA the certificate is refused, unless verification is switched off.
        r = self.fetch("-url:" + HTTPS + "/hello.txt|refused.txt")
        self.assertIn(b"WARNING: URL '" + HTTPS.encode() + b"/hello.txt' does not exist! "
                      b"(500 localhost:" + env.port("HTTPS_PORT").encode() + b" ENABLE SSL FAILED)",
                      r.stderr)
        self.assertFalse((self.dir / "refused.txt").exists())
        r = self.fetch("-insecure", "-url:" + HTTPS + "/hello.txt|insecure.txt")
        self.assertTrue((self.dir / "insecure.txt").exists(), r.stderr)
        # Digest over TLS.
        r = self.fetch("-cafile:" + CA, "-user:test", "-pass:secret",
                       "-url:" + HTTPS + "/digest/secret.txt")
        self.assertEqual((self.dir / "secret.txt").read_bytes(), b"digest secret\n", r.stderr)

    def test_through_the_proxy(self):
        log = env.STATE / "tinyproxy" / "tinyproxy.log"
        before = log.read_bytes() if log.exists() else b""
        r = self.fetch(*PROXY, "-url:" + HTTP + "/hello.txt|proxied.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual((self.dir / "proxied.txt").read_bytes(), (DOCS / "hello.txt").read_bytes())
        r = self.fetch(*PROXY, "-cafile:" + CA, "-url:" + HTTPS + "/large.bin|tunnel.bin")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual((self.dir / "tunnel.bin").read_bytes(), (DOCS / "large.bin").read_bytes())
        after = log.read_bytes()[len(before):]
        self.assertIn(b"GET http://127.0.0.1:" + env.port("HTTP_PORT").encode() + b"/hello.txt",
                      after)
        self.assertIn(b"CONNECT localhost:" + env.port("HTTPS_PORT").encode(), after)

    def test_failures_are_warned_and_leave_no_file(self):
        # A 404 and a 401 against a scripted peer: tests/config/url_download_test.cpp,
        # tests/net/http_client_test.cpp; lighttpd's redirect loop only here.
        r = self.fetch("-url:" + HTTP + "/loop/x")
        self.assertIn(("WARNING: URL '%s/loop/x' does not exist! (500 %s/loop/x TOO MANY REDIRECTS)"
                       % (HTTP, HTTP)).encode(), r.stderr)
        self.assertEqual(list(self.dir.iterdir()), [])

    def test_extract_folder_local_name_and_verbose_lines(self):
        out = self.dir / "downloads"
        out.mkdir()
        r = self.fetch("-v", "-extract:" + str(out), "-url:" + HTTP + "/hello.txt?x=1")
        self.assertEqual((out / "hello.txt").read_bytes(), (DOCS / "hello.txt").read_bytes())
        self.assertIn(("Scheme = 'http', host = '127.0.0.1, port = '%s', file = 'hello.txt?x=1', "
                       "localname = '%s/hello.txt'" % (env.port("HTTP_PORT"), out)).encode(),
                      r.stdout)
        self.assertIn(b"Got: 27 bytes", r.stderr)
        # A local name after "|" never leaves the folder.
        r = self.fetch("-extract:" + str(out), "-url:" + HTTP + "/hello.txt|../../escape.txt")
        self.assertTrue((out / "escape.txt").exists(), r.stderr)
        self.assertFalse((self.dir / "escape.txt").exists())


class FetchedPageSentByMail(unittest.TestCase):
    def test_page_becomes_an_attachment_at_postfix(self):
        tag = uuid.uuid4().hex
        with tempfile.TemporaryDirectory() as folder:
            config = pathlib.Path(folder) / "qarvel.txt"
            config.write_text("SMTP_HOST 127.0.0.1\nSMTP_PORT %s\n" % env.port("SMTP_PORT"))
            r = env.run(["-config:" + str(config), "-from:a@example.org", "-to:x@example.test",
                         "-s:page " + tag, "-msg:the page is attached",
                         "-url:" + HTTP + "/index.html"], cwd=folder, timeout=60)
            self.assertEqual(r.returncode, 0, r.stderr + r.stdout)
            self.assertIn(b"with 1 attachments", r.stdout)
            # A failed download counts as a missing attachment: nothing is sent.
            r = env.run(["-config:" + str(config), "-from:a@example.org", "-to:x@example.test",
                         "-s:missing " + tag, "-msg:x", "-url:" + HTTP + "/none.html"],
                        cwd=folder, timeout=60)
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"does not exist! (404 NOT FOUND)", r.stderr)
        [path] = env.inbox_with(tag, 1)
        msg = env.parsed(path)
        parts = [p for p in msg.iter_attachments()]
        self.assertEqual([p.get_filename() for p in parts], ["index.html"])
        self.assertEqual(parts[0].get_payload(decode=True), (DOCS / "index.html").read_bytes())


if __name__ == "__main__":
    unittest.main()
