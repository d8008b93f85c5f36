#!/usr/bin/env python3
"""Fills a Maildir for the retrieval benchmark: COUNT messages of MEAN_KIB on average (from half
to one and a half times that), each a text part and one base64 attachment of random bytes, and
writes the MD5 sums of the attachments to MANIFEST, one a line.

    make_pop3.py MAILDIR COUNT MEAN_KIB MANIFEST
"""
import base64
import hashlib
import os
import random
import sys

maildir, count, mean_kib, manifest = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
for sub in ("new", "cur", "tmp"):
    os.makedirs(os.path.join(maildir, sub), exist_ok=True)
rng = random.Random(11)
sums = []
for n in range(1, count + 1):
    # base64 grows the data by 4/3 (plus line ends): pick the raw size for the wanted total.
    size = int(rng.uniform(0.5, 1.5) * mean_kib * 1024 * 3 / 4 * 76 / 78)
    data = rng.randbytes(size)
    sums.append(hashlib.md5(data).hexdigest())
    body = base64.encodebytes(data).replace(b"\n", b"\r\n")
    head = (f"From: Bench <bench@example.test>\r\nTo: test@example.test\r\n"
            f"Subject: retrieval message {n}\r\nDate: Sun, 06 Dec 2026 12:00:00 +0000\r\n"
            f"Message-ID: <bench{n}@example.test>\r\nMIME-Version: 1.0\r\n"
            f"Content-Type: multipart/mixed; boundary=\"b{n}\"\r\n\r\n"
            f"--b{n}\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nmessage {n}\r\n"
            f"--b{n}\r\nContent-Type: application/octet-stream; name=\"m{n:06d}.bin\"\r\n"
            f"Content-Disposition: attachment; filename=\"m{n:06d}.bin\"\r\n"
            f"Content-Transfer-Encoding: base64\r\n\r\n").encode()
    with open(os.path.join(maildir, "new", f"{1796000000 + n}.Q{n:07d}.localhost"), "wb") as f:
        f.write(head + body + f"--b{n}--\r\n".encode())
with open(manifest, "w") as f:
    f.write("\n".join(sums) + "\n")
