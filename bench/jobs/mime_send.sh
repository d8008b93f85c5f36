#!/usr/bin/env bash
# Compose and send one message with a 256 MiB binary attachment into Postfix's smtp-sink
# (started here on 127.0.0.1 high ports): qarvel -a: next to mpack + msmtp and swaks --attach,
# and the sink's own ceiling (the message qarvel wrote, sent unchanged in 1 MiB writes); and
# compose into a file: qarvel -mf next to mpack -o. Run 1 of every tool goes to a sink
# that keeps the message, and munpack must give back the input from it.
#   mime_send.sh [BUILD_DIR]   (env BENCH_MIB, default 256; BENCH_SINK_PORT, default 12626)
. "$(dirname "$0")/../lib.sh"
mib=${BENCH_MIB:-256}
port=${BENCH_SINK_PORT:-12626}
dump_port=$((port + 1))
data=$BENCH_DATA/random-$mib.bin
random_file "$data" "$mib"
sink_pair "$BENCH_OUT/mime-sink" "$port" || exit 1
out=$BENCH_OUT/mime-out.eml
work="$mib MiB attachment"

# The port of run RUN: the keeping sink for run 1, the plain one after.
P="\$([ \$RUN = 1 ] && echo $dump_port || echo $port)"
# sent_ok: the one message the keeping sink holds carries the input; the sink is emptied.
sent_ok="f=\$(ls $dumps/[0-9]* | head -1); attachment_is \"\$f\" '$data'; r=\$?; rm -f $dumps/[0-9]*; exit \$r"
envelope=(-from:alice@example.org -to:bob@example.test -s:bench -msg:payload -q)

qarvel_smtp="\$T '$QARVEL' -host:127.0.0.1 -port:$P ${envelope[*]} -a:'$data'"
qarvel_file="rm -f '$out'; \$T '$QARVEL' -mf -host:'$out' ${envelope[*]} -a:'$data'"

measure qarvel "$qarvel_smtp" "$sent_ok"
row mime_send "compose+send" "qarvel -a:" "$work" "$mib" MiB
measure mpack-msmtp "rm -f '$out'; \$T bash -c \"mpack -s bench -o '$out' '$data' && msmtp --host=127.0.0.1 --port=$P --auth=off --tls=off --from=alice@example.org bob@example.test < '$out'\"" "$sent_ok"
row mime_send "compose+send" "mpack -o + msmtp" "$work" "$mib" MiB
measure swaks "\$T swaks --server 127.0.0.1 --port $P --from alice@example.org --to bob@example.test --header 'Subject: bench' --body payload --attach-type application/octet-stream --attach @'$data' --suppress-data" "$sent_ok"
row mime_send "compose+send" "swaks --attach" "$work" "$mib" MiB

measure qarvel-mf "$qarvel_file" "attachment_is '$out' '$data'"
row mime_send "compose to file" "qarvel -mf" "$work" "$mib" MiB
if [ "$STATUS" = ok ]; then
  measure sink-raw "\$T python3 '$bench_root/bench/data/raw_smtp.py' $P '$out'" "$sent_ok"
  row mime_send "compose+send" "sink ceiling (raw DATA)" "$work" "$mib" MiB "qarvel's message sent unchanged in 1 MiB writes"
fi
measure mpack "rm -f '$out'; \$T mpack -s bench -o '$out' '$data'" "attachment_is '$out' '$data'"
row mime_send "compose to file" "mpack -o" "$work" "$mib" MiB
rm -f "$out"
