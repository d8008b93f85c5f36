#!/usr/bin/env bash
# IMAP retrieval: COUNT messages (MEAN_KIB on average, each with one base64 attachment) from
# the INBOX of a private Dovecot (started here on 127.0.0.1 high ports) into files: qarvel -imap
# extracting the attachments, next to fetchmail (IMAP, each message through an mda into a file),
# getmail6 (IMAP into a Maildir) and curl imap:// (one process, one connection, one file per
# UID). Run 1 of every tool is checked: qarvel's attachments are the ones put in, the peers
# wrote COUNT message files.
# Then like for like: every message as it is to standard output, qarvel -raw beside curl's URL
# range; both outputs must hold the end of each of the COUNT messages. BENCH_RETRIEVE_CASES
# ("extract raw maildir") picks the cases;
# "maildir" (not among the default ones: it takes most of an hour) fetches into files on the disk
# with and without syncs, keeping the mail on the server (maildir_case in lib.sh).
#   imap_fetch.sh [BUILD_DIR]   (env BENCH_IMAP_MESSAGES, default 10000; BENCH_IMAP_KIB, 100;
#                                BENCH_IMAP_PORT, default 12210)
. "$(dirname "$0")/../lib.sh"
count=${BENCH_IMAP_MESSAGES:-10000}
kib=${BENCH_IMAP_KIB:-100}
export IMAP_PORT=${BENCH_IMAP_PORT:-12210}
export POP3_PORT=$((IMAP_PORT + 1)) POP3S_PORT=$((IMAP_PORT + 2)) IMAPS_PORT=$((IMAP_PORT + 3))
state=$BENCH_DATA/imap-$count-$kib
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
curl -sS -u test:secret "imap://127.0.0.1:$IMAP_PORT/INBOX" -X "EXAMINE INBOX" >/dev/null || exit 1

out=$BENCH_OUT/imap-out
files_ok="n=\$(find $out -type f -size +1k | wc -l); echo \"\$n message files\"; [ \$n = $count ]"

cases=${BENCH_RETRIEVE_CASES:-extract raw}
if [[ " $cases " == *" extract "* ]]; then
qarvel="rm -rf $out; mkdir -p $out; \$T '$QARVEL' -imap -host:127.0.0.1 -port:$IMAP_PORT -user:test -pass:secret -extract:$out -q > $BENCH_OUT/imap-qarvel.txt"
[ "$count" = 10000 ] || note "imap_fetch: $count messages of $kib KiB mean instead of 10 000, to keep the whole run short."

tool qarvel "qarvel -extract:" "$qarvel" "same_set '$manifest' $out 'm*.bin'" "decodes and writes each attachment; the peers write each raw message"

rc=$BENCH_DATA/fetchmailrc
cat > "$rc" <<RC
set no syslog
poll 127.0.0.1 service $IMAP_PORT protocol imap auth password timeout 60
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
type = SimpleIMAPRetriever
server = 127.0.0.1
port = $IMAP_PORT
mailboxes = ("INBOX",)
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
tool curl "curl imap:// (one process)" "rm -rf $out; mkdir -p $out; \$T curl -sS -u test:secret 'imap://127.0.0.1:$IMAP_PORT/INBOX;UID=[1-$count]' -o '$out/#1'" "$files_ok"
compare imap_fetch "$count × $kib KiB" "$work" "$mib" MiB
fi

[[ " $cases " == *" maildir "* ]] && maildir_case imap_fetch $IMAP_PORT imap SimpleIMAPRetriever 'mailboxes = ("INBOX",)\n'
[[ " $cases " == *" raw "* ]] && raw_case imap_fetch "-imap -host:127.0.0.1 -port:$IMAP_PORT" "imap://127.0.0.1:$IMAP_PORT/INBOX;UID=[1-$count]"
rm -rf "$out"
