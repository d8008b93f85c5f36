"""The DNS resolver against dnsmasq (scripts/servers/dns.sh): -srv: and -txt: print what
dig sees over TCP, -probe: asks the exchangers of a domain in preference order, and direct
delivery falls back from an exchanger that refuses connections to the next one."""
import pathlib
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import qarvel_env as env

DNS = env.port("DNS_ADDR")
MX_PORT = env.port("MX_PORT")
MX_DIR = env.STATE / "dns"


def dig(rtype, name):
    out = subprocess.run(["dig", "+tcp", "+short", "@" + DNS, "-p", env.port("DNS_PORT"), rtype, name],
                         capture_output=True, text=True, timeout=30, check=True).stdout
    return [line for line in out.splitlines() if line.strip()]


def txt_value(line):
    """dig prints the strings of a TXT record quoted and blank-separated; the resolver joins them."""
    return "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', line))


class DnsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if shutil.which("dig") is None:
            env.missing("dig is not installed (scripts/install-deps.sh installs dnsutils)")
        cls.tmp = tempfile.TemporaryDirectory()
        cls.resolv = pathlib.Path(cls.tmp.name) / "resolv.conf"
        cls.resolv.write_text(f"# test resolver\nnameserver {DNS}:{env.port('DNS_PORT')}\nsearch example.test\n")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def run_qarvel(self, args, **kw):
        kw.setdefault("env", {})["QARVEL_RESOLV_CONF"] = str(self.resolv)
        return env.run(args, **kw)

    def test_srv_matches_dig(self):
        for domain, service in (("example.test", "imaps"), ("example.test", "submission")):
            name = f"_{service}._tcp.{domain}"
            expected = set()
            for line in dig("SRV", name):
                priority, weight, port, target = line.split()
                expected.add(f"{name} ==> Target={target.rstrip('.')}, Port={port}, "
                             f"Priority={priority}, Weight={weight}")
            self.assertTrue(expected)
            r = self.run_qarvel([f"-host:{DNS}:{env.port('DNS_PORT')}", f"-srv:{domain}:{service}:tcp"])
            self.assertEqual(r.returncode, 0, r.stderr)
            lines = r.stdout.decode().splitlines()
            self.assertEqual(set(lines), expected)
            # Lowest priority first.
            prios = [int(re.search(r"Priority=(\d+)", l).group(1)) for l in lines]
            self.assertEqual(prios, sorted(prios))

    def test_txt_matches_dig(self):
        # A name without records prints nothing, as dig finds nothing.
        for name in ("example.test", "_dmarc.example.test", "long.example.test", "missing.example.test"):
            with self.subTest(name):
                expected = sorted(f"{name} ==> {txt_value(line)}" for line in dig("TXT", name))
                self.assertEqual(expected == [], name.startswith("missing."))
                # The name server may be written with its port.
                r = self.run_qarvel([f"-host:{DNS}:{env.port('DNS_PORT')}", f"-txt:{name}"])
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(sorted(r.stdout.decode().splitlines()), expected)

    def test_no_name_server(self):
        # 127.0.0.49 has no name server: the option reports it and the run still ends as a no-op.
        r = self.run_qarvel(["-host:127.0.0.49", "-txt:example.test"])
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"Could not connect to Domain Name Server: 127.0.0.49", r.stderr)

    def probe(self, address, *extra):
        return self.run_qarvel([f"-probe:{address}", f"-port:{MX_PORT}", "-v", *extra], timeout=120)

    def test_probe_falls_back_past_a_refusing_exchanger(self):
        before = sorted((MX_DIR / "mx42").glob("*"))
        r = self.probe("someone@deliver.test", "-retries:2")
        out, err = r.stdout.decode(), r.stderr.decode()
        self.assertEqual(r.returncode, 0, out + err)
        # Three attempts on the preference-10 exchanger, then one on the preference-20 one.
        refused = f"Could not connect to server: 127.0.0.41:{MX_PORT}, error= -10061"
        self.assertEqual(err.count(refused), 3, err)
        self.assertIn("MX/A server (20) = '127.0.0.42'", out)
        self.assertIn(f"Connected to '127.0.0.42:{MX_PORT}'", out)
        self.assertLess(out.index("MX/A server (10) = '127.0.0.41'"), out.index("MX/A server (20)"))
        # A probe sends no message. The sink opens a dump file at MAIL FROM and drops it when the
        # session ends without data, so a probe's (or another test's) file may stand for a moment.
        deadline = time.time() + 10
        while sorted((MX_DIR / "mx42").glob("*")) != before and time.time() < deadline:
            time.sleep(0.1)
        self.assertEqual(sorted((MX_DIR / "mx42").glob("*")), before)

    def test_probe_reports_refusal_of_first_reachable_exchanger(self):
        r = self.probe("nobody@probe.test")
        out, err = r.stdout.decode(), r.stderr.decode()
        self.assertEqual(r.returncode, 1, out + err)
        self.assertIn("MX/A server (10) = '127.0.0.43'", out)
        self.assertNotIn("127.0.0.42", out)
        self.assertIn("Status: 5", err)

    def test_probe_equal_preferences_and_address_fallback(self):
        r = self.probe("x@equal.test")
        out = r.stdout.decode()
        self.assertRegex(out, r"MX/A server \(10\) = '127\.0\.0\.4[23]'")
        # A domain without MX records is routed by its A record.
        r = self.probe("x@onlya.test")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("= '127.0.0.42'", r.stdout.decode())

    def test_unroutable_domain(self):
        r = self.probe("x@missing.example.test")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Could not route to domain: missing.example.test", r.stderr)


if __name__ == "__main__":
    unittest.main()
