#!/usr/bin/env python3
"""Writes the message file of the extraction benchmark: one MIME message of about TOTAL_MIB,
a text and HTML alternative followed by base64 attachments of random bytes (many of 10 KiB to
1 MiB, some of 1 to 5 MiB and one of a quarter of the total, so that memory is measured against
one large part), and the MD5 sums of the attachments in MANIFEST, one a line.

    make_mailbox.py FILE TOTAL_MIB MANIFEST
"""
import base64
import hashlib
import random
import sys

path, total_mib, manifest = sys.argv[1], int(sys.argv[2]), sys.argv[3]
rng = random.Random(7)
total = total_mib << 20
boundary = "=_bench_boundary_7"
sums = []
with open(path, "wb") as f:
    f.write((f"From: Bench <bench@example.test>\r\nTo: reader@example.test\r\n"
             f"Subject: extraction benchmark\r\nDate: Sun, 06 Dec 2026 12:00:00 +0000\r\n"
             f"MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"{boundary}\"\r\n\r\n"
             f"--{boundary}\r\nContent-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
             f"--alt\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
             + "short text " * 200 + "\r\n--alt\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n"
             + "<p>short text</p>" * 100 + "\r\n--alt--\r\n").encode())
    written = f.tell()
    n = 0

    def attach(size):
        global written, n
        data = rng.randbytes(size)
        sums.append(hashlib.md5(data).hexdigest())
        name = f"a{n:04d}.bin"
        n += 1
        f.write((f"--{boundary}\r\nContent-Type: application/octet-stream; name=\"{name}\"\r\n"
                 f"Content-Disposition: attachment; filename=\"{name}\"\r\n"
                 f"Content-Transfer-Encoding: base64\r\n\r\n").encode())
        f.write(base64.encodebytes(data).replace(b"\n", b"\r\n"))
        written = f.tell()

    attach(total // 4 * 3 // 4)  # base64 grows the data by a third
    while written < total:
        kind = rng.random()
        left = (total - written) * 3 // 4
        if kind < 0.9:
            attach(min(left, rng.randint(10 << 10, 1 << 20)))
        else:
            attach(min(left, rng.randint(1 << 20, 5 << 20)))
    f.write(f"--{boundary}--\r\n".encode())
with open(manifest, "w") as f:
    f.write("\n".join(sums) + "\n")
print(f"{n} attachments, {written >> 20} MiB in {path}")
