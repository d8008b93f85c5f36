#!/usr/bin/env bash
# Retrieval: COUNT messages (MEAN_KIB on average, each with one base64 attachment) from a
# private Dovecot POP3 (started here on 127.0.0.1 high ports) into files: qarvel extracting
# the attachments, next to fetchmail (each message through an mda into a file), getmail6 (into a Maildir)
# and curl pop3:// (one process, one connection, one file per message). Run 1 of every tool is checked:
# qarvel's attachments are the ones put in, the peers wrote COUNT message files.
# Then like for like: every message as it is to standard output, qarvel -raw beside curl's URL
# range; both outputs must hold the end of each of the COUNT messages. BENCH_RETRIEVE_CASES
# ("extract raw maildir") picks the cases;
# "maildir" (not among the default ones: it takes most of an hour) fetches into files on the disk
# with and without syncs, keeping the mail on the server (maildir_case in lib.sh).
#   pop3_retrieve.sh [BUILD_DIR]   (env BENCH_POP3_MESSAGES, default 10000; BENCH_POP3_KIB, 100;
#                                   BENCH_POP3_PORT, default 12110)
. "$(dirname "$0")/../lib.sh"
count=${BENCH_POP3_MESSAGES:-10000}
kib=${BENCH_POP3_KIB:-100}
export POP3_PORT=${BENCH_POP3_PORT:-12110}
export POP3S_PORT=$((POP3_PORT + 1)) IMAP_PORT=$((POP3_PORT + 2)) IMAPS_PORT=$((POP3_PORT + 3))
state=$BENCH_DATA/pop3-$count-$kib
maildir=$state/dovecot/mail/test
manifest=$state/attachments.md5
trap 'bash "$bench_root/scripts/servers/dovecot.sh" stop "$state" >/dev/null 2>&1' EXIT
if [ ! -f "$state/filled" ]; then
  rm -rf "$state"; mkdir -p "$state"
  python3 "$bench_root/bench/data/make_pop3.py" "$maildir" "$count" "$kib" "$manifest" || exit 1
  touch "$state/filled"
fi
for p in $POP3_PORT $POP3S_PORT $IMAP_PORT $IMAPS_PORT; do port_free $p || exit 1; done
bash "$bench_root/scripts/servers/dovecot.sh" start "$state" >/dev/null || exit 1
bytes=$(du -sb "$maildir/new" "$maildir/cur" | awk '{ s += $1 } END { print s }')
mib=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
work="$count msgs, $mib MiB"
# Dovecot builds its index at the first login; that is not what is measured.
curl -sS -u test:secret "pop3://127.0.0.1:$POP3_PORT/" >/dev/null || exit 1

out=$BENCH_OUT/pop3-out
files_ok="n=\$(find $out -type f -size +1k | wc -l); echo \"\$n message files\"; [ \$n = $count ]"

cases=${BENCH_RETRIEVE_CASES:-extract raw}
if [[ " $cases " == *" extract "* ]]; then
qarvel="rm -rf $out; mkdir -p $out; \$T '$QARVEL' -host:127.0.0.1 -port:$POP3_PORT -user:test -pass:secret -extract:$out -q > $BENCH_OUT/pop3-qarvel.txt"
[ "$count" = 10000 ] || note "pop3_retrieve: $count messages of $kib KiB mean instead of 10 000, to keep the whole run short (fetchmail costs about 15 ms a message)."

tool qarvel "qarvel -extract:" "$qarvel" "same_set '$manifest' $out 'm*.bin'" "decodes and writes each attachment; the peers write each raw message"

rc=$BENCH_DATA/fetchmailrc
cat > "$rc" <<RC
set no syslog
poll 127.0.0.1 service $POP3_PORT protocol pop3 auth password timeout 60
  user "test" password "secret" sslproto '' keep fetchall mda "$(fetchmail_mda "$out")"
RC
chmod 600 "$rc"
tool fetchmail "fetchmail (mda to file)" "rm -rf $out; mkdir -p $out; \$T fetchmail -f $rc --pidfile $BENCH_DATA/fetchmail.pid --idfile $BENCH_DATA/fetchids -s" "$files_ok" "one mda process per message"
# getmail6: one process, one connection, each message into a Maildir; it remembers what it
# fetched in its own folder, which every run starts without. It will not deliver as root, so
# the Maildir belongs to nobody and getmail delivers as that user.
gm=$BENCH_DATA/getmail
mkdir -p "$gm"
cat > "$gm/getmailrc" <<RC
[retriever]
type = SimplePOP3Retriever
server = 127.0.0.1
port = $POP3_PORT
username = test
password = secret
[destination]
type = Maildir
path = $out/
$([ "$(id -u)" = 0 ] && echo "user = nobody")
[options]
read_all = true
delete = false
verbose = 0
message_log_syslog = false
RC
tool getmail "getmail6 (Maildir)" "rm -rf $out $gm/oldmail-*; mkdir -p $out/new $out/cur $out/tmp; [ \$(id -u) = 0 ] && chown -R nobody $out; \$T getmail --getmaildir '$gm' --rcfile getmailrc" "$files_ok"
tool curl "curl pop3:// (one process)" "rm -rf $out; mkdir -p $out; \$T curl -sS -u test:secret 'pop3://127.0.0.1:$POP3_PORT/[1-$count]' -o '$out/#1'" "$files_ok"
compare pop3_retrieve "$count × $kib KiB" "$work" "$mib" MiB
fi

[[ " $cases " == *" maildir "* ]] && maildir_case pop3_retrieve $POP3_PORT pop3 SimplePOP3Retriever
[[ " $cases " == *" raw "* ]] && raw_case pop3_retrieve "-host:127.0.0.1 -port:$POP3_PORT" "pop3://127.0.0.1:$POP3_PORT/[1-$count]"
rm -rf "$out"
