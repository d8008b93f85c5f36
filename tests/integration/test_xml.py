"""-xml against two second opinions: documents with CDATA, processing instructions, entities,
namespaces, deep nesting and one of 20 MB (past the parser's 16 MiB bounds) are edited and saved
by qarvel; the saved file must be well-formed to xmllint and carry the element tree that
xmlstarlet sees after the same edit (made by xmlstarlet on the original with its entities
expanded by xmllint). External entities come from a file beside the document and, with -http,
from the test web server."""
import pathlib
import shutil
import subprocess
import tempfile

import qarvel_env

SIMPLE = """<?xml version="1.0" encoding="UTF-8"?>
<?app-config mode="fast"?>
<!-- catalogue of things -->
<shop open="yes">
  <item id="1" name="apple &amp; pear">Fruit &lt;fresh&gt;</item>
  <item id="2"><![CDATA[if (a < b && c > d) { x = "y"; }]]></item>
  <?render inline?>
  <item id="3">plain <b id="4">bold</b> tail</item>
  <item id="5" note='single "quoted"'>five</item>
</shop>
"""

ENTITIES = """<?xml version="1.0"?>
<!DOCTYPE book [
  <!ENTITY co "Acme &amp; Sons">
  <!ENTITY intro "<p id='9'>Welcome to &co;</p>">
  <!ENTITY legal SYSTEM "legal.txt">
]>
<book>
  <title id="1">&co; annual</title>
  &intro;
  <note id="2">&legal;</note>
  <c id="3">&#x41;&#66;&#x43;</c>
</book>
"""

NAMESPACES = """<?xml version="1.0"?>
<feed xmlns="http://www.w3.org/2005/Atom" xmlns:m="urn:example:media:">
  <entry id="1"><title>first</title><m:thumb id="2" url="a.png"/></entry>
  <entry id="3"><title>second</title><m:thumb id="4" url="b.png"/></entry>
</feed>
"""


def deep(levels):
    return ("<root>" + "".join('<n id="%d">' % i for i in range(levels)) + "core" +
            "</n>" * levels + "</root>\n")


def big(path, target_bytes):
    """About target_bytes of records with attributes, text, CDATA, a namespace and comments."""
    with open(path, "w") as out:
        out.write('<?xml version="1.0"?>\n<big xmlns:m="urn:m">\n')
        i, written = 0, 0
        while written < target_bytes:
            rec = ('<rec id="%d" kind="k%d"><name>name %d &amp; co</name><m:val>%d</m:val>'
                   '<![CDATA[x<%d>]]><!-- c%d --></rec>\n' % (i, i % 7, i, i * 3, i, i))
            out.write(rec)
            written += len(rec)
            i += 1
        out.write("</big>\n")
    return i


def tool(*args):
    """Runs xmlstarlet or xmllint: its standard output, or a failure with its message."""
    r = subprocess.run([str(a) for a in args], capture_output=True, timeout=300)
    assert r.returncode == 0, f"{args[0]}: " + r.stderr.decode(errors="replace")[:2000]
    return r.stdout


def tree(path):
    """The element tree as xmlstarlet sees it: every element's path with its attributes,
    then every non-blank text (text and CDATA) with its blanks normalised."""
    return (tool("xmlstarlet", "el", "-v", path),
            tool("xmlstarlet", "sel", "-T", "-t", "-m", "//text()[normalize-space()]", "-v", "normalize-space(.)", "-n", path))


def expanded(path, folder):
    """The document with its entities expanded, as xmllint reads it."""
    out = folder / ("expanded-" + path.name)
    tool("xmllint", "--noent", "-o", out, path)
    return out


def check(name, text_or_path, steps, peer_edit, folder):
    """Edits with qarvel and saves; edits the expanded original with xmlstarlet; compares."""
    path = folder / (name + ".xml")
    if isinstance(text_or_path, str):
        path.write_text(text_or_path)
    original = path.read_bytes()
    reference = folder / (name + "-peer.xml")
    reference.write_bytes(tool("xmlstarlet", "ed", *peer_edit, expanded(path, folder)))

    result = qarvel_env.run(["-xml", str(path)] + steps + ["-save"], timeout=600)
    assert result.returncode == 0, (name, result.stderr)
    assert (folder / (name + ".xml.BAK")).read_bytes() == original, name
    tool("xmllint", "--noout", path)
    mine, theirs = tree(path), tree(reference)
    assert mine[0] == theirs[0], (name, "elements differ", first_difference(mine[0], theirs[0]))
    assert mine[1] == theirs[1], (name, "texts differ", first_difference(mine[1], theirs[1]))
    print("ok", name, len(mine[0].splitlines()), "elements")


def first_difference(a, b):
    la, lb = a.splitlines(), b.splitlines()
    for i, (x, y) in enumerate(zip(la, lb)):
        if x != y:
            return i, x[:200], y[:200]
    return "lengths", len(la), len(lb)


def main():
    folder = pathlib.Path(tempfile.mkdtemp(prefix="qarvel-xml-"))
    try:
        (folder / "legal.txt").write_text("All rights reserved.")
        check("drop", SIMPLE, ["-descendant::id:3", "-drop"], ["-d", "//*[@id='3']"], folder)
        check("settext", SIMPLE, ["-descendant::id:1", "-child:#text", "-set:ripe-and-ready"],
              ["-u", "//*[@id='1']/text()", "-v", "ripe-and-ready"], folder)
        check("cdata", SIMPLE, ["-root", "-add:<item>added</item>"],
              ["-s", "/shop", "-t", "elem", "-n", "item", "-v", "added"], folder)
        check("entities", ENTITIES, ["-descendant::id:2", "-set:remark"],
              ["-r", "//*[@id='2']", "-v", "remark"], folder)
        check("namespaces", NAMESPACES, ["-descendant::id:3", "-drop"],
              ["-d", "//*[@id='3']"], folder)
        check("deep", deep(250), ["-descendant::id:249", "-child:#text", "-set:centre"],
              ["-u", "//*[@id='249']/text()", "-v", "centre"], folder)

        records = big(folder / "big.xml", 20 << 20)
        last = str(records - 1)
        check("big", folder / "big.xml", ["-descendant::id:" + last, "-set:final"],
              ["-r", "//*[@id='%s']" % last, "-v", "final"], folder)

        # Over the limits: nothing is written, the file stays as it was.
        (folder / "toodeep.xml").write_text(deep(600))
        r = qarvel_env.run(["-xml", str(folder / "toodeep.xml"), "-root", "-drop", "-save"])
        assert r.returncode == 1 and b"nested deeper" in r.stderr, r.stderr
        assert not (folder / "toodeep.xml.BAK").exists()

        # An http entity is fetched only when asked for.
        web = """<!DOCTYPE d [<!ENTITY hello SYSTEM "http://127.0.0.1:%s/hello.txt">]><d>&hello;</d>
""" % qarvel_env.port("HTTP_PORT")
        (folder / "web.xml").write_text(web)
        r = qarvel_env.run(["-xml", str(folder / "web.xml"), "-root", "-child:#text"])
        assert r.stdout == b"NOT FOUND\n" and b"need -http" in r.stderr, (r.stdout, r.stderr)
        r = qarvel_env.run(["-xml", str(folder / "web.xml"), "-http", "-root", "-child:#text"])
        assert r.stdout.startswith(b"hello, world"), (r.stdout, r.stderr)
        print("ok limits and http")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
