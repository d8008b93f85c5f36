#!/bin/sh
# Fails when a source folder includes a header of a floor it may not use (DEVELOPERS.md, "Floors").
set -u
src="${1:-$(dirname "$0")/../src}"

# Each floor with the floors its files may include besides its own; run may use them all.
grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/' "$src" --include='*.h' --include='*.cpp' |
awk -v src="$src/" '
BEGIN {
    allow["base"] = ""
    allow["net"] = "base"
    allow["send"] = "base net"
    allow["receive"] = "base net send"
    allow["tools"] = "base net"
    allow["config"] = "base net send receive"
    allow["web"] = "base net send receive config"
    allow["run"] = "base net send receive config web tools"
    bad = 0
}
{
    file = substr($0, 1, index($0, ":") - 1)
    rel = substr(file, length(src) + 1)
    n = split(rel, part, "/")
    if (n < 2) next  # src/main.cpp stands above every floor
    floor = part[1]
    line = substr($0, index($0, ":") + 1)
    sub(/^[^"]*"/, "", line)
    used = substr(line, 1, index(line, "/") - 1)
    if (!(floor in allow)) { print "unknown floor: src/" floor; bad = 1; next }
    if (used != floor && index(" " allow[floor] " ", " " used " ") == 0) {
        print "src/" rel " includes from " used "/"
        bad = 1
    }
}
END { exit bad }'
