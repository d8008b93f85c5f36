#!/usr/bin/env bash
# Compose and send one message with a 256 MiB binary attachment into Postfix's smtp-sink
# (started here on 127.0.0.1 high ports): qarvel -a: next to mpack + msmtp and swaks --attach,
# and the sink's own ceiling (the message qarvel wrote, handed over unchanged by sendfile); and
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

# The message qarvel composes, kept for the sink's ceiling: the same bytes handed over by
# sendfile() with nothing composed (a C program, faster than any composer).
ready=$BENCH_DATA/mime-ready-$mib.eml
[ -s "$ready" ] || "$QARVEL" -mf -host:"$ready" "${envelope[@]}" -a:"$data" || exit 1

tool qarvel "qarvel -a:" "$qarvel_smtp" "$sent_ok"
tool mpack-msmtp "mpack -o + msmtp" "rm -f '$out'; \$T bash -c \"mpack -s bench -o '$out' '$data' && msmtp --host=127.0.0.1 --port=$P --auth=off --tls=off --from=alice@example.org bob@example.test < '$out'\"" "$sent_ok" "two processes: compose into a file then send it"
tool swaks "swaks --attach" "\$T swaks --server 127.0.0.1 --port $P --from alice@example.org --to bob@example.test --header 'Subject: bench' --body payload --attach-type application/octet-stream --attach @'$data' --suppress-data" "$sent_ok"
tool sink-ceiling "sink ceiling (sendfile)" "\$T '$BENCH_BUILD/bench/sink_ceiling_bench' $P '$ready'" "$sent_ok" "a ready message with nothing composed: the bound and not a peer"
compare mime_send "compose+send" "$work" "$mib" MiB

tool qarvel-mf "qarvel -mf" "$qarvel_file" "attachment_is '$out' '$data'" "also writes the header and text part of the message"
tool mpack "mpack -o" "rm -f '$out'; \$T mpack -s bench -o '$out' '$data'" "attachment_is '$out' '$data'"
compare mime_send "compose to file" "$work" "$mib" MiB
rm -f "$out"
