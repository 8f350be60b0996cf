#!/usr/bin/env bash
# scripts/sign-windows as a release runs it, with everything made for the
# test: a CA and a code-signing certificate whose key sits on a SoftHSM2
# token, a time-stamping authority on loopback (openssl ts behind Python's
# http.server) and an OpenPGP key. Every PE file of the signed zip and MSI and
# both installers verify against the CA, each with its time stamp; the signed
# set's bills of materials name the signed files' SHA-512; SHA256SUMS.asc
# verifies; the build's own packages stay unsigned. OUT keeps the signed set
# and the CA for the Wine installer check, which verifies the uninstaller.
#   signing.sh SOURCE_DIR WINDOWS_BUILD_DIR SCHEMA OUT
set -euo pipefail
source=$1 build=$2 schema=$3 out=$4
work=$(mktemp -d)
tsa=
trap '[ -z "$tsa" ] || kill "$tsa"; gpgconf --homedir "$work/gnupg" --kill gpg-agent 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"

# certificate NAME CN ISSUER EXTENDED-USE: a key and certificate (ISSUER "-": self-signed, a CA).
certificate() {
    if [ "$3" = - ]; then
        openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 -subj "/CN=$2" \
            -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
        return
    fi
    openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -subj "/CN=$2" 2>/dev/null |
        openssl x509 -req -CA "$3.pem" -CAkey "$3.key" -set_serial "0x$(openssl rand -hex 8)" -days 2 \
            -extfile <(printf 'basicConstraints=critical,CA:FALSE\nextendedKeyUsage=critical,%s\n' "$4") -out "$1.pem" 2>/dev/null
}
certificate ca "Ambulon test CA" -
certificate signer "Ambulon test signer" ca codeSigning
certificate tsa "Ambulon test time stamps" ca timeStamping

# The signer's key on a token of the test's own.
mkdir token
printf 'directories.tokendir = %s/token\nobjectstore.backend = file\nlog.level = ERROR\n' "$work" >softhsm2.conf
export SOFTHSM2_CONF=$work/softhsm2.conf
od -An -N4 -tu4 /dev/urandom | tr -d ' ' >pin
softhsm2-util --init-token --free --label ambulon --pin "$(cat pin)" --so-pin "$(cat pin)0" >/dev/null
softhsm2-util --import signer.key --token ambulon --label signer --id 01 --pin "$(cat pin)" >/dev/null

# The time-stamping authority, on a port the system picks.
printf '%s\n' "[tsa]" "default_tsa = this" "[this]" "serial = $work/serial" "signer_cert = $work/tsa.pem" \
    "signer_key = $work/tsa.key" "certs = $work/ca.pem" "signer_digest = sha256" "default_policy = 1.2.3.4.1" \
    "digests = sha256" "accuracy = secs:1" "ess_cert_id_chain = no" >tsa.cnf
echo 01 >serial
/usr/bin/python3 -c '
import http.server, subprocess, sys
class TimeStamps(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1], "-queryfile", "/dev/stdin",
                                "-out", "/dev/stdout"], input=query, capture_output=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamps)
open(sys.argv[2], "w").write(str(server.server_address[1]))
server.serve_forever()' tsa.cnf port &
tsa=$!
# shellcheck source=scripts/display.sh
. "$source/scripts/display.sh"
wait_until 10 "$tsa" test -s port

export GNUPGHOME=$work/gnupg
mkdir -m 700 "$GNUPGHOME"
gpg --batch --passphrase '' --pinentry-mode loopback --quick-gen-key "Ambulon test release <test@example.org>" \
    ed25519 sign 1d 2>/dev/null

AMBULON_SIGN_TIMESTAMP_URL=http://127.0.0.1:$(cat port)
export no_proxy=127.0.0.1 AMBULON_SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so \
    AMBULON_SIGN_KEY='pkcs11:token=ambulon;object=signer;type=private' AMBULON_SIGN_CERT=$work/signer.pem \
    AMBULON_SIGN_PASSWORD_FILE=$work/pin AMBULON_SIGN_TIMESTAMP_URL AMBULON_SIGN_GPG_KEY=test@example.org
start=$(date +%s%N)
"$source/scripts/sign-windows" "$build" signed >/dev/null
echo "signed and packed again in $((($(date +%s%N) - start) / 1000000)) ms ($(osslsigncode --version | head -1))"
(cd signed && sha256sum --quiet -c SHA256SUMS && gpg --verify SHA256SUMS.asc SHA256SUMS 2>/dev/null)

# Every PE file, with its signature's time stamp.
name=$(basename "$build"/ambulon-*-win64.zip .zip)
unzip -q "signed/$name.zip" -d zip
msiextract -C msi "signed/$name.msi" >/dev/null
status=0
while read -r file; do
    verified=$(osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem -in "$file" 2>&1) &&
        grep -q '^Timestamp Server Signature verification: ok' <<<"$verified" ||
        { echo "${file#"$work"/}: not signed, or not time-stamped, as it should be"; status=1; continue; }
    echo "signed, time-stamped, verified: ${file#"$work"/}"
done < <(find "$work/zip" "$work/msi" "$work/signed" -type f -iregex '.*\.\(exe\|dll\|msi\)' | LC_ALL=C sort)
unzip -q "$build/$name.zip" -d unsigned
if osslsigncode verify -CAfile ca.pem -in unsigned/*/ambulon.exe >/dev/null 2>&1; then
    echo "the build's own zip was signed"
    status=1
fi
# The signed set's bills of materials name the signed files.
sbom() { /usr/bin/python3 "$source/scripts/sbom" check "signed/$1.cdx.json" --schema "$schema" --tree "$2" \
    --manifest "$build/manifest.txt" || status=1; }
sbom "$name.zip" "zip/$name"
sbom "$name.msi" "$(echo msi/*)"
rm -rf "$out"
mkdir -p "$out"
cp -r signed/. ca.pem "$out/"
exit "$status"
