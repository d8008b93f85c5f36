#!/usr/bin/env bash
# make demo: the main job once, offline. A message with a text and a small binary attachment
# is composed and written into a file by the file sender (-mf -host:FILE), then read back from
# that file (-mail -file:FILE -extract:DIR); the extracted attachment must equal the original.
#   scripts/demo.sh [path/to/qarvel]      exits non-zero when anything differs
set -euo pipefail
bin=$(cd "$(dirname "${1:-build/qarvel}")" && pwd)/$(basename "${1:-build/qarvel}")
work=$(mktemp -d /tmp/qarvel-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# A small binary file: every byte value once, then 1000 random bytes.
printf "$(printf '\\%03o' $(seq 0 255))" > picture.bin
head -c 1000 /dev/urandom >> picture.bin
mkdir extracted

echo "== 1. compose and write: qarvel -mf -host:message.eml -from: -to: -s: -msg: -a:picture.bin"
"$bin" -mf -host:"$work/message.eml" -from:"Demo Sender <demo@example.org>" \
  -to:reader@example.test -s:"qarvel demo" \
  -msg:"Hello from qarvel.\r\nThe attachment is a small binary file.\r\n" -a:picture.bin

echo
echo "== 2. head of the message file ($(wc -c < message.eml) bytes)"
head -n 20 message.eml | sed 's/\r$//'
echo "   ..."

echo
echo "== 3. read it back: qarvel -mail -file:message.eml -extract:extracted"
"$bin" -mail -file:"$work/message.eml" -extract:"$work/extracted"

echo
echo "== 4. compare (extracted: $(cd extracted && ls))"
if cmp picture.bin extracted/picture.bin; then
  echo "extracted/picture.bin is identical to the original ($(wc -c < picture.bin) bytes)"
else
  echo "demo: the extracted attachment differs from the original" >&2
  exit 1
fi
