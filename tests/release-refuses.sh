#!/usr/bin/env bash
# scripts/release refuses a tree with uncommitted changes, before it builds
# anything (passes where the source is no git checkout).
#   release-refuses.sh SOURCE_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone -q "$1" "$work/clone" 2>/dev/null || { echo "no git checkout"; exit 0; }
echo change >>"$work/clone/README.md"
if out=$("$work/clone/scripts/release" 2>&1); then
    echo "released anyway"
    exit 1
fi
grep -q "uncommitted changes" <<<"$out" && ! grep -q "==" <<<"$out"
