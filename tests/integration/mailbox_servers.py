"""Small POP3 and IMAP servers over a list of messages, for the tests that must decide what a
server holds and see when it let go of a message: each serves one client at a time on a
loopback port in a thread of its own, and removes a message only where its protocol does
(POP3: QUIT after DELE; IMAP: CLOSE or EXPUNGE after \\Deleted, also a UID MOVE). Both take
commands sent ahead of their replies (the POP3 one says PIPELINING). A client
that goes away without that ending leaves every message where it was."""
import re
import socket
import threading


class _Server:
    def __init__(self, messages):
        self.held = [bytes(m) for m in messages]  # what the server holds, in order
        self.uids = list(range(1, len(self.held) + 1))
        self.next_uid = len(self.held) + 1
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        self.stopping = False
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def stop(self):
        self.stopping = True
        self.thread.join(5)
        self.listener.close()

    def _accept(self):
        while not self.stopping:
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            conn.settimeout(20)
            try:
                self.session(conn.makefile("rb"), conn)
            except (OSError, ValueError):
                pass
            finally:
                conn.close()


class Pop3Server(_Server):
    def session(self, rfile, conn):
        send = conn.sendall
        marked = set()
        send(b"+OK ready\r\n")
        while True:
            line = rfile.readline(1000)
            if not line:
                return  # no QUIT: nothing is deleted
            words = line.decode("latin-1").split()
            verb = words[0].upper() if words else ""
            n = int(words[1]) if len(words) > 1 and words[1].isdigit() else 0
            valid = 1 <= n <= len(self.held) and n - 1 not in marked
            if verb in ("USER", "PASS", "NOOP"):
                send(b"+OK\r\n")
            elif verb == "CAPA":
                send(b"+OK\r\nUIDL\r\nPIPELINING\r\n.\r\n")
            elif verb == "STAT":
                send(b"+OK %d %d\r\n" % (len(self.held), sum(map(len, self.held))))
            elif verb in ("LIST", "UIDL"):
                send(b"+OK\r\n" + b"".join(
                    b"%d %s\r\n" % (i + 1, (b"%d" % len(m)) if verb == "LIST" else b"uid-%d" % self.uids[i])
                    for i, m in enumerate(self.held) if i not in marked) + b".\r\n")
            elif verb == "RETR" and valid:
                data = re.sub(rb"(?m)^\.", b"..", self.held[n - 1])
                send(b"+OK\r\n" + data + (b"" if data.endswith(b"\r\n") else b"\r\n") + b".\r\n")
            elif verb == "DELE" and valid:
                marked.add(n - 1)
                send(b"+OK\r\n")
            elif verb == "RSET":
                marked.clear()
                send(b"+OK\r\n")
            elif verb == "QUIT":
                self.held = [m for i, m in enumerate(self.held) if i not in marked]
                self.uids = [u for i, u in enumerate(self.uids) if i not in marked]
                send(b"+OK bye\r\n")
                return
            else:
                send(b"-ERR\r\n")


class ImapServer(_Server):
    UIDVALIDITY = 7

    def session(self, rfile, conn):
        send = conn.sendall
        flagged = set()  # UIDs flagged \Deleted, kept only until the session ends
        send(b"* OK [CAPABILITY IMAP4rev1 UIDPLUS] ready\r\n")

        def number_of(uid):
            return self.uids.index(uid) + 1

        def expunge():
            keep = [i for i, u in enumerate(self.uids) if u not in flagged]
            self.held = [self.held[i] for i in keep]
            self.uids = [self.uids[i] for i in keep]
            flagged.clear()

        while True:
            line = rfile.readline(10000)
            if not line:
                return  # no CLOSE: the flags go with the session, nothing is expunged
            tag, _, rest = line.decode("latin-1").rstrip("\r\n").partition(" ")
            verb, _, args = rest.partition(" ")
            verb = verb.upper()
            if verb == "UID":
                verb, _, args = args.partition(" ")
                verb = "UID " + verb.upper()
            ok = tag.encode() + b" OK done\r\n"
            if verb in ("CAPABILITY",):
                send(b"* CAPABILITY IMAP4rev1 UIDPLUS\r\n" + ok)
            elif verb in ("LOGIN", "NOOP", "CHECK"):
                send(ok)
            elif verb in ("SELECT", "EXAMINE"):
                send(b"* %d EXISTS\r\n* OK [UIDVALIDITY %d] v\r\n* OK [UIDNEXT %d] n\r\n" %
                     (len(self.held), self.UIDVALIDITY, self.next_uid) + ok)
            elif verb == "FETCH":
                seq, _, items = args.partition(" ")
                first, _, last = seq.partition(":")
                last = len(self.held) if last in ("*", "") and ":" in seq else int(last or first)
                out = b""
                for n in range(int(first), min(last, len(self.held)) + 1):
                    uid, data = self.uids[n - 1], self.held[n - 1]
                    flags = b"\\Deleted" if uid in flagged else b""
                    if "BODY" in items.upper():
                        out += b"* %d FETCH (UID %d RFC822.SIZE %d FLAGS (%s) BODY[] {%d}\r\n%s)\r\n" % (
                            n, uid, len(data), flags, len(data), data)
                    else:
                        out += b"* %d FETCH (UID %d RFC822.SIZE %d)\r\n" % (n, uid, len(data))
                send(out + ok)
            elif verb == "UID STORE":
                uid, _, change = args.partition(" ")
                if int(uid) in self.uids:
                    if change.startswith("+"):
                        flagged.add(int(uid))
                    else:
                        flagged.discard(int(uid))
                send(ok)
            elif verb in ("UID COPY", "UID MOVE"):
                uid = int(args.split()[0])
                if verb == "UID MOVE" and uid in self.uids:
                    flagged.add(uid)
                    expunge()
                send(ok)
            elif verb in ("CLOSE", "EXPUNGE"):
                expunge()
                send(ok)
            elif verb == "LOGOUT":
                send(b"* BYE\r\n" + ok)
                return
            else:
                send(tag.encode() + b" BAD unknown\r\n")
