#!/usr/bin/env python3
"""Writes a folder of MIME messages for the extraction benchmark: mostly small text and
multipart messages, some with 100 KiB to 5 MiB attachments, and one attachment of a quarter of
the total, so that memory is measured against one large part.

    make_mailbox.py FOLDER TOTAL_MIB
"""
import os
import random
import sys
from email.message import EmailMessage
from email import policy

folder, total_mib = sys.argv[1], int(sys.argv[2])
os.makedirs(folder, exist_ok=True)
rng = random.Random(7)
total = total_mib << 20
written = 0
n = 0


def message(attachments, text):
    m = EmailMessage(policy=policy.SMTP)
    m["From"] = "Bench <bench@example.test>"
    m["To"] = "reader@example.test"
    m["Subject"] = f"benchmark message {n}"
    m.set_content(text)
    m.add_alternative(f"<p>{text}</p>", subtype="html")
    for i, size in enumerate(attachments):
        m.add_attachment(rng.randbytes(size), maintype="application", subtype="octet-stream",
                         filename=f"part{n}_{i}.bin")
    return m.as_bytes()


def emit(data):
    global written, n
    with open(os.path.join(folder, f"msg{n:06d}.eml"), "wb") as f:
        f.write(data)
    written += len(data)
    n += 1


big = total // 4 * 3 // 4  # base64 grows by a third
emit(message([big], "one large attachment"))
while written < total:
    kind = rng.random()
    if kind < 0.6:
        emit(message([], "short text " * rng.randint(5, 200)))
    elif kind < 0.95:
        emit(message([rng.randint(100 << 10, 1 << 20)], "one attachment"))
    else:
        emit(message([rng.randint(1 << 20, 5 << 20), rng.randint(10 << 10, 200 << 10)], "two"))
print(f"{n} messages, {written >> 20} MiB in {folder}")
