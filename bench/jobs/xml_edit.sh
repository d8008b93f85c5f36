#!/usr/bin/env bash
# -xml on a large document: parse it, rename the one element found by its id attribute and
# save the whole document, next to xmlstarlet ed making the same edit on the same file. Each
# tool's result must be well-formed to xmllint, hold the renamed element once and every other
# record still.
#   xml_edit.sh [BUILD_DIR]   (env BENCH_MIB, default 100)
. "$(dirname "$0")/../lib.sh"
mib=${BENCH_MIB:-100}
doc=$BENCH_DATA/records-$mib.xml
if [ ! -s "$doc" ]; then
  python3 - "$doc" "$mib" <<'PY'
import sys
path, target = sys.argv[1], int(sys.argv[2]) << 20
with open(path + ".tmp", "w") as out:
    out.write('<?xml version="1.0"?>\n<big xmlns:m="urn:m">\n')
    i = written = 0
    while written < target:
        rec = ('<rec id="%d" kind="k%d"><name>name %d &amp; co</name><m:val>%d</m:val>'
               '<![CDATA[x<%d>]]><!-- c%d --></rec>\n' % (i, i % 7, i, i * 3, i, i))
        out.write(rec)
        written += len(rec)
        i += 1
    out.write("</big>\n")
PY
  mv "$doc.tmp" "$doc"
fi
records=$(grep -c '^<rec ' "$doc")
last=$((records - 1))
out=$BENCH_OUT/xml-edit.xml
check="xmllint --noout '$out' && [ \$(xmlstarlet sel -t -v 'count(//final)' '$out') = 1 ] && [ \$(xmlstarlet sel -t -v 'count(//rec)' '$out') = $last ]"

tool xmlstarlet "xmlstarlet ed -r" "\$T xmlstarlet ed -r \"//*[@id='$last']\" -v final '$doc' > '$out'" "$check"
tool qarvel "qarvel -xml -set: -save:" "\$T '$QARVEL' -xml '$doc' -descendant::id:$last -set:final -save:'$out'" "$check" "saved through a temporary file and the .BAK rename"
compare xml_edit "rename + save" "$mib MiB" "$mib" MiB
rm -f "$out" "$out.BAK"
