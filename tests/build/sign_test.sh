#!/bin/sh
# Signs a copy of Update.exe as a release does (scripts/sign.sh), with a
# throwaway self-signed certificate, and checks the signature with
# osslsigncode: valid, SHA-256, and over the file's bytes (one changed byte
# breaks it). Leaves the signed copy in OUT_DIR for signed_run_test.
#   sign_test.sh SIGN_SCRIPT EXE OUT_DIR
set -eu
sign=$1 exe=$2 out=$3

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
keys=$(mktemp -d /tmp/update-sign.XXXXXX)
trap 'rm -rf "$keys"' EXIT
rm -rf "$out"
mkdir -p "$out"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Update test signing (throwaway)" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$keys/key.pem" -out "$keys/cert.pem" \
    >"$keys/openssl.log" 2>&1 || { cat "$keys/openssl.log"; fail "openssl req"; }
openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -out "$keys/cert.p12" \
    -passout pass:throwaway || fail "openssl pkcs12"

signed="$out/Update.exe"
cp "$exe" "$signed"
SIGN_PKCS12="$keys/cert.p12" SIGN_PASSWORD=throwaway sh "$sign" "$signed"
cmp -s "$exe" "$signed" && fail "the signed file is the unsigned one"

# verify: the digest it reads from the signature against the one it
# calculates over the file, then the signature and its certificate.
osslsigncode verify -in "$signed" -CAfile "$keys/cert.pem" >"$keys/verify.log" 2>&1 ||
    { cat "$keys/verify.log"; fail "osslsigncode verify"; }
grep -q '^Message digest algorithm  *: SHA256' "$keys/verify.log" || fail "not SHA-256"
current=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' "$keys/verify.log")
calculated=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$keys/verify.log")
[ -n "$current" ] && [ "$current" = "$calculated" ] || fail "digest $current, file $calculated"
grep -q '^Signature verification: ok' "$keys/verify.log" || fail "signature not verified"
echo "signature ok: SHA-256 digest $current"

# One byte of the code changed (its bits inverted, so that it differs
# whatever it was): the signature no longer covers the file.
cp "$signed" "$keys/changed.exe"
byte=$(od -A n -t u1 -j 4096 -N 1 "$signed" | tr -d ' ')
printf "\\$(printf '%03o' $((255 - byte)))" |
    dd of="$keys/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
if osslsigncode verify -in "$keys/changed.exe" -CAfile "$keys/cert.pem" >"$keys/changed.log" 2>&1; then
    fail "a changed file still verifies"
fi
echo "a changed byte breaks the signature"
