#!/usr/bin/env bash
# HTTP downloads from a private lighttpd (started here on 127.0.0.1 high ports): one large file
# (LARGE_MIB of random bytes) and FILES small ones (8 KiB each), fetched by qarvel -url: and by
# curl. The large file and the small files one process per file for both tools; then all small
# files in one process: curl with a URL range, qarvel with one -url: option per file, with
# -http11 over one kept-alive connection and with HTTP/1.0 a connection per file. Run 1 of
# every tool is checked byte for byte against the served files.
#   http_fetch.sh [BUILD_DIR]   (env BENCH_HTTP_LARGE_MIB, default 256; BENCH_HTTP_FILES,
#                                default 1000; BENCH_HTTP_PORT, default 12080, https on +1)
. "$(dirname "$0")/../lib.sh"
large_mib=${BENCH_HTTP_LARGE_MIB:-256}
files=${BENCH_HTTP_FILES:-1000}
export HTTP_PORT=${BENCH_HTTP_PORT:-12080}
export HTTPS_PORT=$((HTTP_PORT + 1))
state=$BENCH_DATA/http-$large_mib-$files
docs=$state/www/htdocs
trap 'bash "$bench_root/scripts/servers/lighttpd.sh" stop "$state" >/dev/null 2>&1' EXIT
for p in $HTTP_PORT $HTTPS_PORT; do port_free $p || exit 1; done
mkdir -p "$state"
bash "$bench_root/scripts/servers/tls.sh" start "$state" >/dev/null || exit 1
bash "$bench_root/scripts/servers/lighttpd.sh" start "$state" >/dev/null || exit 1
if [ ! -f "$state/filled" ]; then
  random_file "$docs/big.bin" "$large_mib" || exit 1
  mkdir -p "$docs/small"
  for ((i = 1; i <= files; i++)); do head -c 8192 /dev/urandom > "$docs/small/f$i.bin"; done
  md5_set "$docs/small" > "$state/small.md5"
  touch "$state/filled"
fi
chmod -R a+rX "$docs"
base=http://127.0.0.1:$HTTP_PORT
out=$BENCH_OUT/http-out
[ "$large_mib" = 256 ] && [ "$files" = 1000 ] || note "http_fetch: $large_mib MiB and $files small files instead of 256 MiB and 1 000."

tool qarvel "qarvel -url:" "rm -rf $out; mkdir -p $out; cd $out && \$T '$QARVEL' -url:$base/big.bin -noop" "cmp $out/big.bin $docs/big.bin"
tool curl "curl" "rm -rf $out; mkdir -p $out; \$T curl -sS -o $out/big.bin $base/big.bin" "cmp $out/big.bin $docs/big.bin"
compare http_fetch "1 file of $large_mib MiB" "$large_mib MiB" "$large_mib" MiB

loop="for i in \$(seq 1 $files); do"
tool qarvel "qarvel -url: (process per file)" "rm -rf $out; mkdir -p $out; cd $out && \$T sh -c '$loop \"$QARVEL\" -url:$base/small/f\$i.bin -noop || exit 1; done'" "same_set $state/small.md5 $out"
tool curl "curl (process per file)" "rm -rf $out; mkdir -p $out; \$T sh -c '$loop curl -sS -o $out/f\$i.bin $base/small/f\$i.bin || exit 1; done'" "same_set $state/small.md5 $out"
compare http_fetch "$files × 8 KiB, process each" "$files files" "$files" files

urls=$(for ((i = 1; i <= files; i++)); do printf ' -url:%s/small/f%d.bin' "$base" "$i"; done)
tool qarvel "qarvel -http11 (all -url: in one run)" "rm -rf $out; mkdir -p $out; cd $out && \$T '$QARVEL' -http11$urls -noop" "same_set $state/small.md5 $out" "one kept-alive connection"
tool qarvel10 "qarvel (HTTP/1.0; all -url: in one run)" "rm -rf $out; mkdir -p $out; cd $out && \$T '$QARVEL'$urls -noop" "same_set $state/small.md5 $out" "a connection per file"
tool curl "curl (URL range, one process)" "rm -rf $out; mkdir -p $out; \$T curl -sS '$base/small/f[1-$files].bin' -o '$out/f#1.bin'" "same_set $state/small.md5 $out" "one kept-alive connection"
compare http_fetch "$files × 8 KiB, one process" "$files files" "$files" files
rm -rf "$out"
