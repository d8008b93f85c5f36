#!/usr/bin/env python3
"""Sends a ready message file unchanged as the DATA of one SMTP transaction, in 1 MiB writes:
the ceiling of the sink for the MIME send benchmark.   raw_smtp.py PORT MESSAGE-FILE"""
import socket
import sys

s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
f = s.makefile("rb")


def reply():
    while True:
        line = f.readline()
        if line[3:4] != b"-":
            if not line.startswith((b"2", b"3")):
                sys.exit("sink refused: %r" % line)
            return


reply()
for command in (b"HELO bench\r\n", b"MAIL FROM:<alice@example.org>\r\n", b"RCPT TO:<bob@example.test>\r\n", b"DATA\r\n"):
    s.sendall(command)
    reply()
with open(sys.argv[2], "rb") as data:
    for block in iter(lambda: data.read(1 << 20), b""):
        s.sendall(block)
s.sendall(b".\r\n")
reply()
s.sendall(b"QUIT\r\n")
