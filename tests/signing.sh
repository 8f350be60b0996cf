#!/usr/bin/env bash
# scripts/sign-windows with a throwaway self-signed certificate: the signed
# zip's programs and library, and the signed installer, verify against that
# certificate; the build's own packages stay unsigned.
#   signing.sh SOURCE_DIR WINDOWS_BUILD_DIR
set -euo pipefail
source=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=Ambulon test signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
head -c 12 /dev/urandom | base64 >password
openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.p12 -passout file:password
AMBULON_SIGN_PKCS12=$work/cert.p12 AMBULON_SIGN_PASSWORD_FILE=$work/password \
    "$source/scripts/sign-windows" "$build" "$work/signed"
(cd signed && sha256sum --quiet -c SHA256SUMS)

verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1; }
unzip -q signed/*.zip -d signed/tree
unzip -q "$build"/ambulon-*-win64.zip -d unsigned
# The installer, and our own programs and library as the manifest lists them.
files=(signed/*.exe signed/*.msi)
tree=$(echo signed/tree/*)
while read -r file; do files+=("$tree/$file"); done < <(/usr/bin/python3 "$source/scripts/manifest.py" "$build/manifest.txt" ours)
for file in "${files[@]}"; do
    verify "$file" || { cat verify.log; echo "$file: not signed as it should be"; exit 1; }
    echo "signed and verified: ${file#signed/}"
done
if verify unsigned/*/ambulon.exe; then echo "the build's own zip was signed"; exit 1; fi
osslsigncode --version | head -1
