"""Why a connection failed, in numbers and words, for every protocol: a name that does not
resolve (-11001), a server that accepts and says nothing (-10060, after -tmo:), and a port
where nothing listens (-10061). The driver's line keeps its form; the reason follows it, and
under -strict the exit status says it too (68 host not found, 75 temporary, 69 unavailable).
The sending session (SMTP, NNTP) and the receiving driver (POP3, IMAP) each print the line once:
SMTP and POP3 meet every fault, IMAP and NNTP the unknown name (their default port)."""
import socket
import threading
import time
import unittest

import qarvel_env as env

UNKNOWN = "nohost.invalid"
WORDS = {11001: "host not found", 10060: "timed out", 10061: "connection refused"}
STRICT = {11001: 68, 10060: 75, 10061: 69}

SENT = "Could not connect to server: {where}, error= -{code} ({words})"
READ = "Could not connect to: {where}, error= -{code} ({words})"
# Each protocol's options, its line for host H and port P ("{where}" is "H:P"), its default
# port and whether it meets every fault.
PROTOCOLS = {
    "SMTP": (["-from:a@example.org", "-to:b@example.test", "-msg:x"], SENT, 25, True),
    "POP3": (["-user:u", "-pass:p", "-br"], READ, 110, True),
    "IMAP": (["-imap", "-user:u", "-pass:p", "-br"], READ, 143, False),
    "NNTP": (["-news", "-from:a@example.org", "-to:open.group", "-msg:x"], SENT, 119, False),
}


def silent_server():
    """A listener that takes connections and never answers; (port, stop)."""
    listener = socket.create_server(("127.0.0.1", 0))
    listener.settimeout(0.2)
    done = threading.Event()
    def run():
        held = []
        while not done.is_set():
            try:
                held.append(listener.accept()[0])
            except socket.timeout:
                pass
        for c in held:
            c.close()
        listener.close()
    threading.Thread(target=run, daemon=True).start()
    return listener.getsockname()[1], done.set


def closed_port():
    with socket.create_server(("127.0.0.1", 0)) as s:
        return s.getsockname()[1]


class ConnectErrors(unittest.TestCase):
    def test_protocol_by_fault(self):
        silent, stop = silent_server()
        self.addCleanup(stop)
        refused = closed_port()
        faults = [(11001, UNKNOWN, 25), (10060, "127.0.0.1", silent), (10061, "127.0.0.1", refused)]
        for name, (options, line, default, every) in PROTOCOLS.items():
            for code, host, port in faults if every else faults[:1]:
                with self.subTest(protocol=name, code=code):
                    started = time.time()
                    args = ["-strict", "-host:" + host, "-tmo:2"] + options
                    if host != UNKNOWN:
                        args.insert(1, "-port:%d" % port)
                    r = env.run(args, timeout=30)
                    where = "%s:%d" % (host, port if host != UNKNOWN else default)
                    self.assertEqual(r.returncode, STRICT[code], r.stderr)
                    self.assertIn(line.format(where=where, code=code, words=WORDS[code]).encode(),
                                  r.stderr)
                    self.assertLess(time.time() - started, 15)
        # HTTP: the status text of the download names the reason; a silent server makes the
        # transfer cancelled by the time-out.
        for code, host, port in faults:
            with self.subTest(protocol="HTTP", code=code):
                where = "%s:%d" % (host, port if host != UNKNOWN else 80)
                url = "-url:http://%s/x" % (host if host == UNKNOWN else where)
                r = env.run([url, "-tmo:2", "-noop", "-strict"], timeout=30)
                self.assertEqual(r.returncode, STRICT[code], r.stderr)
                text = "CANCELLED" if code == 10060 else "CONNECTION FAILED"
                expected = "500 %s %s, error= -%d (%s))" % (where, text, code, WORDS[code])
                self.assertIn(expected.encode(), r.stderr)
        # DNS: the server is asked on port 53 unless its host names another; 127.0.0.199 has
        # nothing there, nor the closed port.
        for code, host in ((11001, UNKNOWN), (10061, "127.0.0.199"), (10061, "127.0.0.1:%d" % refused)):
            with self.subTest(protocol="DNS", code=code, host=host):
                r = env.run(["-strict", "-host:" + host, "-tmo:2", "-srv:_imap._tcp.example.org"], timeout=30)
                self.assertEqual(r.returncode, STRICT[code], r.stderr)
                self.assertIn(("Could not connect to Domain Name Server: %s, error= -%d (%s)"
                               % (host, code, WORDS[code])).encode(), r.stderr)


if __name__ == "__main__":
    unittest.main()
