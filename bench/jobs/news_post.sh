#!/usr/bin/env bash
# News posting: COUNT small articles posted to INN (scripts/servers/inn.sh, started here on
# 127.0.0.1 high ports with a state folder of its own), one process and one session per
# article for both tools, the way scripts post: qarvel -news next to
# INN's own inews. Each tool posts with a subject of its own; after its first run the group
# must hold COUNT articles with that subject, the last of them with the text.
#   news_post.sh [BUILD_DIR]   (env BENCH_MESSAGES, default 1000; BENCH_NNTP_PORT, default 12119,
#                               and BENCH_NNTP_PORT + 1 for the TLS port INN also opens)
. "$(dirname "$0")/../lib.sh"
count=${BENCH_MESSAGES:-1000}
port=${BENCH_NNTP_PORT:-12119}
state=$BENCH_DATA/news-state
[ -x "$QARVEL" ] || { echo "news_post: $QARVEL is missing (build it)" >&2; exit 1; }
[ -x /usr/lib/news/bin/inews ] || { echo "news_post: inews is missing (inn2)" >&2; exit 1; }
port_free "$port" && port_free "$((port + 1))" || exit 1
inn() { NNTP_PORT=$port NNTPS_PORT=$((port + 1)) bash "$bench_root/scripts/servers/inn.sh" "$1" "$state" >/dev/null; }
trap 'inn stop' EXIT
inn start || exit 1
export INNCONF=$state/inn/etc/inn.conf

article=$BENCH_DATA/news-article.txt
printf 'Newsgroups: open.group\nFrom: alice@example.org\nSubject: bench-inews\n\npayload\n' > "$article"
# inews adds the poster's .signature: an empty home has none.
mkdir -p "$BENCH_DATA/news-home"
work="$count articles"
[ "$count" = 1000 ] || note "news_post: $count articles instead of 1000."

# posted SUBJECT: the group holds COUNT articles with that subject (counted with XPAT), and the
# last of them has the text.
posted() {
  python3 - "$port" "$1" "$count" <<'PY'
import socket, sys
port, subject, count = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
s = socket.create_connection(("127.0.0.1", port), timeout=30)
f = s.makefile("rb")
def reply(command=None):
    if command:
        s.sendall(command.encode() + b"\r\n")
    return f.readline().decode().rstrip()
def lines():
    out = []
    while True:
        line = f.readline()
        if line in (b".\r\n", b""):
            return out
        out.append(line.decode("utf-8", "replace").rstrip("\r\n"))
reply()
reply("GROUP open.group")
assert reply("XPAT Subject 1- " + subject).startswith("221")
numbers = [int(l.split()[0]) for l in lines()]
assert reply("ARTICLE %d" % max(numbers)).startswith("220") if numbers else True
text = "\n".join(lines()) if numbers else ""
print("%d articles with subject %s, last with the text: %s" % (len(numbers), subject, "\npayload" in text))
sys.exit(0 if len(numbers) == count and "\npayload" in text else 1)
PY
}
loop() { echo "\$T bash -c \"for i in \\\$(seq $count); do $1 || exit 1; done\""; }

tool qarvel "qarvel news (loop)" \
  "$(loop "'$QARVEL' -news -host:127.0.0.1 -port:$port -from:alice@example.org -to:open.group -s:bench-qarvel -msg:payload -q")" \
  "posted bench-qarvel"
tool inews "inews -h (loop)" \
  "$(loop "HOME='$BENCH_DATA/news-home' /usr/lib/news/bin/inews -h -p $port < '$article'")" \
  "posted bench-inews"
compare news_post "$count as $count processes" "$work" "$count" article
