"""build/qarvel logging in with OAuth2 bearer tokens and with secrets from outside its command
line: Dovecot's oauth2 passdb checks the token at the test token endpoint
(scripts/servers/oauth2_introspect.py), over POP3 and IMAP and for Postfix's SMTP AUTH (SASL
through Dovecot), XOAUTH2 and OAUTHBEARER; a wrong
token ends the run with the server's verdict; a run that takes its secret from -passcmd:
shows no secret in its process arguments. (The refusals before any connection, a token
without TLS among them: tests/config/secret_sources_test.cpp.)"""
import os
import pathlib
import socket
import subprocess
import time
import unittest

import qarvel_env as env

GOOD = "qarvel-good-token"
CA = env.CA


class OAuth2(unittest.TestCase):
    def setUp(self):
        self.tmp = env.temp_dir(self, "qarvel-oauth2-")
        self.token_file = self.tmp / "token"
        self.token_file.write_text(GOOD + "\n")
        self.token_file.chmod(0o600)

    def login(self, protocol, mechanism, *secret):
        reader = ["-imap", "-port:" + env.port("IMAP_PORT")] if protocol == "imap" else \
                 ["-port:" + env.port("POP3_PORT")]
        return env.run([*reader, "-host:127.0.0.1", "-tls", "-cafile:" + CA, "-user:alice",
                        "-auth:" + mechanism, "-v:2", *secret])

    def test_good_and_bad_token_on_pop3_and_imap(self):
        for protocol in ("pop3", "imap"):
            for mechanism in ("xoauth2", "oauthbearer"):
                with self.subTest(protocol=protocol, mechanism=mechanism):
                    r = self.login(protocol, mechanism, "-passcmd:cat " + str(self.token_file))
                    self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                    self.assertIn(b"AUTHENTICATE " + mechanism.upper().encode() if protocol == "imap"
                                  else b"AUTH " + mechanism.upper().encode(), r.stdout)
                    r = self.login(protocol, mechanism, "-pass:wrong-token")
                    self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                    # The error challenge was answered and the server's verdict ends the run.
                    self.assertIn(b"Could not log in as 'alice'", r.stderr)
                    self.assertIn(b"NO [AUTHENTICATIONFAILED]" if protocol == "imap" else b"-ERR [AUTH]",
                                  r.stderr)

    def test_send_through_postfix_with_the_token(self):
        for mechanism in ("xoauth2", "oauthbearer"):
            tag = "oauth2-%s-%d" % (mechanism, os.getpid())
            args = ["-host:127.0.0.1", "-port:" + env.port("SMTP_OAUTH2_PORT"), "-tls", "-cafile:" + CA,
                    "-esmtp", "-user:alice", "-auth:" + mechanism, "-from:alice@example.test",
                    "-to:x@example.test", "-s:" + tag, "-msg:sent with a token", "-v:2"]
            with self.subTest(mechanism=mechanism):
                r = env.run(args + ["-passcmd:cat " + str(self.token_file)])
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                self.assertIn(b"235 ", r.stdout)
                self.assertEqual(len(env.inbox_with(tag)), 1)
                r = env.run(args + ["-passfile:" + str(self.tmp / "missing")])
                self.assertEqual(r.returncode, 1)
                r = env.run(args + ["-pass:wrong-token"])
                self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                self.assertIn(b"Login failed: 535 ", r.stderr)

    def test_process_arguments_hold_no_secret(self):
        # A peer that greets and then stays silent keeps the run waiting while its arguments
        # are read from /proc.
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        port = listener.getsockname()[1]
        run = subprocess.Popen([env.BINARY, "-host:127.0.0.1", "-port:%d" % port, "-user:alice",
                                "-passcmd:cat " + str(self.token_file), "-tmo:20"],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            listener.settimeout(20)
            peer, _ = listener.accept()
            peer.sendall(b"+OK ready\r\n")
            peer.settimeout(20)
            line = peer.recv(1000)
            arguments = pathlib.Path("/proc/%d/cmdline" % run.pid).read_bytes()
            self.assertIn(b"-passcmd:cat", arguments)
            self.assertNotIn(GOOD.encode(), arguments)
            self.assertTrue(line.startswith(b"USER alice"), line)
            peer.close()
        finally:
            run.kill()
            run.communicate(timeout=20)
            listener.close()


if __name__ == "__main__":
    unittest.main()
