#!/usr/bin/env bash
# Mailing-list volume into Postfix's smtp-sink (started here on 127.0.0.1 high ports):
# 1. one contribution distributed by a list run (read from a message file, 100 subscribers per
#    transaction, one session), next to smtp-source sending the same number of transactions with
#    100 recipients each over one session: to SUBSCRIBERS subscribers through sinks that offer
#    PIPELINING (the envelope of a transaction goes as one group), to LOCKSTEP subscribers
#    through sinks that do not (every command waits for its reply);
# 2. a recipients-from-headers batch file of MESSAGES messages sent in one run (one session),
#    next to smtp-source sending the same count over one session.
# Run 1 of every tool goes to a sink that keeps the messages: it must hold every transaction,
# and (for qarvel) every subscriber's recipient line and the text.
#   list_distribute.sh [BUILD_DIR]
#   env BENCH_LIST_SUBSCRIBERS (100000), BENCH_LOCKSTEP_SUBSCRIBERS (10000),
#   BENCH_BATCH_MESSAGES (1000), BENCH_SINK_PORT + 4 .. + 7
. "$(dirname "$0")/../lib.sh"
messages=${BENCH_BATCH_MESSAGES:-1000}
per=100
port=$((${BENCH_SINK_PORT:-12626} + 4))
dump_port=$((port + 1))
lockstep_port=$((port + 2))
SINK_OPTIONS=-p sink_pair "$BENCH_OUT/list-sink-lockstep" "$lockstep_port" || exit 1
lockstep_dumps=$dumps
sink_pair "$BENCH_OUT/list-sink" "$port" || exit 1
P="\$([ \$RUN = 1 ] && echo $dump_port || echo $port)"

# kept: the keeping sink holds N transactions (and R recipient lines, T with the text); emptied.
kept() {
  echo "sleep 0.5; n=\$(ls $dumps | grep -c '^[0-9]'); r=\$(cat $dumps/[0-9]* | grep -c '^X-Rcpt-Args:'); t=\$(grep -l '^payload' $dumps/[0-9]* | wc -l); rm -f $dumps/[0-9]*; echo \"\$n transactions, \$r recipients, \$t with the text\"; [ \$n = $1 ] && [ \$r = $2 ] && { [ $3 = any ] || [ \$t = $3 ]; }"
}

# list_case SUBSCRIBERS LABEL PORT-TEXT DUMPS: the list run and smtp-source against one pair of
# sinks. The list: its subscriber file and its mailbox of one contribution (kept: no -rm).
list_case() {
  local subscribers=$1; shift
  local transactions=$(((subscribers + per - 1) / per)) list=$BENCH_DATA/list-$subscribers
  mkdir -p "$list/box"
  [ -s "$list/subscribers.txt" ] || seq -f "member%g@example.test" "$subscribers" > "$list/subscribers.txt"
  printf 'From: alice@example.org\r\nTo: list@example.org\r\nSubject: bench news\r\nMessage-ID: <bench@example.org>\r\n\r\npayload\r\n' > "$list/box/1.eml"
  local qarvel_list="\$T '$QARVEL' -tolist:'$list/subscribers.txt' -mail -file:'$list/box' -listserv:list@example.org -host:127.0.0.1 -port:$2 -limit:$per -esmtp -quiet"
  local saved=$dumps; dumps=$3
  tool qarvel "qarvel list run -limit:$per" "$qarvel_list; [ ! -e '$list/subscribers.txt.progress' ]" \
    "$(kept "$transactions" "$subscribers" "$transactions")"
  tool smtp-source "smtp-source -s 1 -m $transactions -r $per" \
    "\$T smtp-source -d -s 1 -m $transactions -r $per -f alice@example.org -t member@example.test -S bench 127.0.0.1:$2" \
    "$(kept "$transactions" "$((transactions * per))" any)"
  dumps=$saved
  compare list_distribute "1 contribution to $subscribers$1" "$subscribers recipients" "$subscribers" recipients
}
list_case "${BENCH_LIST_SUBSCRIBERS:-100000}" " (pipelined)" "$P" "$dumps"
list_case "${BENCH_LOCKSTEP_SUBSCRIBERS:-10000}" " (lockstep)" "\$([ \$RUN = 1 ] && echo $((lockstep_port + 1)) || echo $lockstep_port)" "$lockstep_dumps"

# The batch: MESSAGES ready-made messages separated by "." lines.
batch=$BENCH_DATA/batch-$messages.txt
if [ ! -s "$batch" ]; then
  for i in $(seq "$messages"); do
    printf 'From: alice@example.org\nTo: bob%d@example.test\nSubject: batch %d\n\npayload\n.\n' "$i" "$i"
  done > "$batch"
fi
qarvel_batch="\$T '$QARVEL' -t -file:'$batch' -host:127.0.0.1 -port:$P -esmtp -quiet"
tool qarvel "qarvel -t (batch file)" "$qarvel_batch" "$(kept "$messages" "$messages" "$messages")"
tool smtp-source "smtp-source -s 1 -m $messages" \
  "\$T smtp-source -d -s 1 -m $messages -f alice@example.org -t bob@example.test -S bench 127.0.0.1:$P" \
  "$(kept "$messages" "$messages" any)"
compare list_distribute "$messages-message batch" "$messages messages" "$messages" msg
