#!/bin/sh
# Fails when a source folder includes a header of a floor it may not use (DEVELOPERS.md, "Floors").
set -u
src="${1:-$(dirname "$0")/../src}"
status=0

# floor: the floors its files may include, besides its own
allowed() {
    case "$1" in
    base) echo "" ;;
    net) echo "base" ;;
    send) echo "base net" ;;
    receive) echo "base net send" ;;
    tools) echo "base net" ;;
    config) echo "base net send receive" ;;
    web) echo "base net send receive config" ;;
    run) echo "base net send receive config web tools" ;;
    *) echo "?" ;;
    esac
}

for dir in "$src"/*/; do
    floor=$(basename "$dir")
    ok="$floor $(allowed "$floor")"
    case "$ok" in *\?*) echo "unknown floor: src/$floor"; status=1; continue ;; esac
    for file in "$dir"*.h "$dir"*.cpp; do
        [ -f "$file" ] || continue
        for used in $(sed -n 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)/.*|\1|p' "$file" | sort -u); do
            case " $ok " in
            *" $used "*) ;;
            *) echo "src/$floor/$(basename "$file") includes from $used/"; status=1 ;;
            esac
        done
    done
done
exit $status
