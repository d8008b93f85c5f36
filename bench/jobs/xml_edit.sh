#!/usr/bin/env bash
# -xml on a large document: parse it, rename the one element found by its id attribute and
# save the whole document, next to xmlstarlet ed making the same edit on the same file. Each
# tool's result must be well-formed to xmllint, hold the renamed element once and every other
# record still. Then a document of a million empty elements (4 MB), where the cost per node
# shows: the first element renamed and the document saved, by both tools.
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

empty=$BENCH_DATA/empty-elements.xml
[ -s "$empty" ] || { printf '<r>'; head -c 1000000 /dev/zero | tr '\0' 'e' | sed 's/e/<e\/>/g'; printf '</r>\n'; } > "$empty"
check="xmllint --noout '$out' && [ \$(xmlstarlet sel -t -v 'count(//final)' '$out') = 1 ] && [ \$(xmlstarlet sel -t -v 'count(/r/e)' '$out') = 999999 ]"
tool xmlstarlet "xmlstarlet ed -r" "\$T xmlstarlet ed -r '/r/e[1]' -v final '$empty' > '$out'" "$check"
tool qarvel "qarvel -xml -set: -save:" "\$T '$QARVEL' -xml '$empty' -descendant:e -set:final -save:'$out'" "$check"
compare xml_edit "10^6 empty elements" "4 MB" 4 MB
rm -f "$out" "$out.BAK"
