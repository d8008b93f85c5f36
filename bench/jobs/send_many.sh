#!/usr/bin/env bash
# Sending volume: COUNT small messages into Postfix's smtp-sink (started here on 127.0.0.1 high
# ports). Like for like: qarvel in one run (-cnt:COUNT, one session) next to Postfix's own
# smtp-source in one session; then qarvel once per message in a shell loop next to msmtp, swaks
# and curl smtp:// in the same loop, the way scripts use them. Run 1 of every tool
# goes to a sink that keeps the messages: it must hold COUNT messages, each with the text.
#   send_many.sh [BUILD_DIR]   (env BENCH_MESSAGES, default 1000; BENCH_SINK_PORT + 2, + 3)
. "$(dirname "$0")/../lib.sh"
count=${BENCH_MESSAGES:-1000}
port=$((${BENCH_SINK_PORT:-12626} + 2))
dump_port=$((port + 1))
sink_pair "$BENCH_OUT/many-sink" "$port" || exit 1
msg=$BENCH_DATA/small.eml
printf 'From: alice@example.org\r\nTo: bob@example.test\r\nSubject: bench\r\n\r\npayload\r\n' > "$msg"
work="$count messages"

P="\$([ \$RUN = 1 ] && echo $dump_port || echo $port)"
# all_sent: the keeping sink holds COUNT messages with the text; it is emptied. The sink writes
# its files when each message ends, so a short wait covers the last ones.
all_sent="sleep 0.5; n=\$(ls $dumps | grep -c '^[0-9]'); t=\$(grep -l '^payload' $dumps/[0-9]* | wc -l); rm -f $dumps/[0-9]*; echo \"\$n messages, \$t with the text\"; [ \$n = $count ] && [ \$t = $count ]"
loop() { echo "\$T bash -c \"for i in \\\$(seq $count); do $1 || exit 1; done\""; }

qarvel="\$T '$QARVEL' -esmtp -host:127.0.0.1 -port:$P -from:alice@example.org -to:bob@example.test -s:bench -msg:payload -cnt:$count -q"
qarvel_one="'$QARVEL' -host:127.0.0.1 -port:$P -from:alice@example.org -to:bob@example.test -s:bench -msg:payload -q"
[ "$count" = 1000 ] || note "send_many: $count messages instead of 1000, to keep the whole run short (the loop peers cost about 50 ms a message)."
# smtp-source writes its own text, so only the count of its messages is checked.
counted="sleep 0.5; n=\$(ls $dumps | grep -c '^[0-9]'); rm -f $dumps/[0-9]*; echo \"\$n messages\"; [ \$n = $count ]"

# One process, one SMTP session, COUNT transactions.
tool qarvel "qarvel -esmtp -cnt:$count" "$qarvel" "$all_sent" "EHLO like smtp-source; PIPELINING: each envelope one group, sent with the last message's final \".\""
tool smtp-source "smtp-source -d -s 1 -m $count" "\$T smtp-source -d -s 1 -m $count -f alice@example.org -t bob@example.test -S bench 127.0.0.1:$P" "$counted"
compare send_many "$count in one session" "$work" "$count" msg

# A -t batch: COUNT ready-made messages in one text, one session, each with its own envelope.
batch=$BENCH_DATA/batch-$count.txt
awk -v n="$count" 'BEGIN { for (i = 1; i <= n; i++) printf "%sFrom: alice@example.org\nTo: bob@example.test\nSubject: bench %d\n\npayload\n", (i > 1 ? ".\n" : ""), i }' > "$batch"
tool qarvel-batch "qarvel -esmtp -t (batch)" "\$T '$QARVEL' -esmtp -host:127.0.0.1 -port:$P -t -q < '$batch'" "$all_sent" "the next envelope goes in the write of the final \".\""
tool smtp-source "smtp-source -d -s 1 -m $count" "\$T smtp-source -d -s 1 -m $count -f alice@example.org -t bob@example.test -S bench 127.0.0.1:$P" "$counted"
compare send_many "$count as a -t batch in one session" "$work" "$count" msg

# One process and one session per message, the way scripts call a sender in a loop.
tool qarvel-loop "qarvel (loop)" "$(loop "$qarvel_one")" "$all_sent"
tool msmtp "msmtp (loop)" "$(loop "msmtp --host=127.0.0.1 --port=$P --auth=off --tls=off --from=alice@example.org bob@example.test < '$msg'")" "$all_sent"
tool swaks "swaks (loop)" "$(loop "swaks --server 127.0.0.1 --port $P --from alice@example.org --to bob@example.test --header 'Subject: bench' --body payload >/dev/null")" "$all_sent"
tool curl "curl smtp:// (loop)" "$(loop "curl -sS smtp://127.0.0.1:$P --mail-from alice@example.org --mail-rcpt bob@example.test -T '$msg'")" "$all_sent"
compare send_many "$count as $count processes" "$work" "$count" msg
