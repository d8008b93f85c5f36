#!/usr/bin/env python3
"""Writes the message folder of the extraction benchmark: COUNT mixed MIME messages of about
TOTAL_MIB in all, one file each (text only, quoted-printable text, text and HTML alternatives,
one to four base64 attachments, and one in fifty with a part five to ten times larger),
and the MD5 sums of all attachments in MANIFEST, one a line. Attachment names are unique across
the folder, so every tool writes the same set of files.

    make_folder.py FOLDER COUNT TOTAL_MIB MANIFEST
"""
import base64
import hashlib
import os
import random
import sys

folder, count, total_mib, manifest = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
rng = random.Random(11)
os.makedirs(folder, exist_ok=True)
sums = []
# The plan first: each message's kind and attachment sizes, then one scale so that the
# attachments (base64 grows them by a third) fill the total.
plan = []
for i in range(count):
    kind = rng.random()
    sizes = []
    if kind >= 0.3:
        sizes = [rng.randint(1 << 10, 512 << 10) for _ in range(rng.randint(1, 4))]
        if rng.random() < 0.02:
            sizes.append(rng.randint(1 << 20, 5 << 20))
    plan.append((kind, sizes))
scale = (total_mib << 20) * 3 / 4 / max(1, sum(sum(sizes) for _, sizes in plan))


def head(i, content_type):
    return (f"From: Sender {i} <s{i}@example.test>\r\nTo: reader@example.test\r\n"
            f"Subject: message {i}\r\nDate: Sun, 06 Dec 2026 12:00:00 +0000\r\n"
            f"Message-ID: <{i}@bench.example.test>\r\nMIME-Version: 1.0\r\n"
            f"Content-Type: {content_type}\r\n")


for i, (kind, sizes) in enumerate(plan):
    path = os.path.join(folder, f"msg{i:05d}.eml")
    with open(path, "wb") as f:
        if kind < 0.2:
            f.write((head(i, "text/plain; charset=us-ascii") + "\r\n" + "plain text line\r\n" * 40).encode())
            continue
        if kind < 0.3:
            f.write((head(i, "text/plain; charset=iso-8859-1")
                     + "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                     + "caf=E9 cr=E8me br=FBl=E9e =3D soft=\r\nbreak\r\n" * 40).encode())
            continue
        b = f"=_b{i}"
        f.write((head(i, f"multipart/mixed; boundary=\"{b}\"") + "\r\n"
                 f"--{b}\r\nContent-Type: multipart/alternative; boundary=\"alt{i}\"\r\n\r\n"
                 f"--alt{i}\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + "text " * 100
                 + f"\r\n--alt{i}\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n"
                 + "<p>html</p>" * 50 + f"\r\n--alt{i}--\r\n").encode())
        for k, size in enumerate(sizes):
            data = rng.randbytes(max(1, int(size * scale)))
            sums.append(hashlib.md5(data).hexdigest())
            name = f"m{i:05d}_{k}.bin"
            f.write((f"--{b}\r\nContent-Type: application/octet-stream; name=\"{name}\"\r\n"
                     f"Content-Disposition: attachment; filename=\"{name}\"\r\n"
                     f"Content-Transfer-Encoding: base64\r\n\r\n").encode())
            f.write(base64.encodebytes(data).replace(b"\n", b"\r\n"))
        f.write(f"--{b}--\r\n".encode())
with open(manifest, "w") as f:
    f.write("\n".join(sums) + "\n")
total = sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder))
print(f"{count} messages, {len(sums)} attachments, {total >> 20} MiB in {folder}")
