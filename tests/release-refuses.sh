#!/usr/bin/env bash
# scripts/release refuses, before it builds anything, a tree with uncommitted
# changes, and a signing certificate without a time-stamping server (passes
# where the source is no git checkout).
#   release-refuses.sh SOURCE_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone -q "$1" "$work/clone" 2>/dev/null || { echo "no git checkout"; exit 0; }
# refuses EXPECTED COMMAND...: the release stops, saying EXPECTED, and builds nothing.
refuses() {
    local out
    if out=$("${@:2}" "$work/clone/scripts/release" 2>&1); then echo "released anyway: ${*:2}"; exit 1; fi
    if ! grep -q "$1" <<<"$out" || grep -q "==" <<<"$out"; then echo "$out"; exit 1; fi
}
echo change >>"$work/clone/README.md"
refuses "uncommitted changes" env
git -C "$work/clone" checkout -q README.md
refuses "AMBULON_SIGN_TIMESTAMP_URL" env AMBULON_SIGN_PKCS12=/dev/null AMBULON_SIGN_TIMESTAMP_URL=
