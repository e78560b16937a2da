#!/bin/sh
# Signs Windows programs in place with an Authenticode signature (SHA-256),
# using osslsigncode.
#
#   SIGN_PKCS12=cert.p12 SIGN_PASSWORD=... [SIGN_TIMESTAMP_URL=http://...] \
#       scripts/sign.sh FILE.exe...
#
# SIGN_PKCS12 names the PKCS#12 file with the code-signing certificate and
# its key; SIGN_PASSWORD is its password (given in the environment, never on
# a command line, where other users could read it). SIGN_TIMESTAMP_URL, when
# set, is an RFC 3161 time-stamping server: the signature then stays valid
# after the certificate expires. Without one, and with SOURCE_DATE_EPOCH set,
# the signing time is SOURCE_DATE_EPOCH, so that signing again gives the same
# bytes.
set -eu

: "${SIGN_PKCS12:?SIGN_PKCS12 names no certificate}"
if [ ! -r "$SIGN_PKCS12" ]; then
    echo "sign: cannot read the certificate $SIGN_PKCS12" >&2
    exit 1
fi
command -v osslsigncode >/dev/null || { echo "sign: osslsigncode is missing (make setup)" >&2; exit 1; }

# Neither a URL nor a number holds blanks.
when=""
if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then
    when="-ts $SIGN_TIMESTAMP_URL"
elif [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    when="-time $SOURCE_DATE_EPOCH"
fi
for file in "$@"; do
    signed="$file.signing"
    # The password goes in on standard input.
    if ! printf '%s' "${SIGN_PASSWORD:-}" |
        osslsigncode sign -pkcs12 "$SIGN_PKCS12" -readpass - -h sha256 \
            -n "TALMERO Option Updater" $when -in "$file" -out "$signed" >"$signed.log" 2>&1; then
        cat "$signed.log" >&2
        rm -f "$signed" "$signed.log"
        echo "sign: signing $file failed" >&2
        exit 1
    fi
    rm -f "$signed.log"
    mv "$signed" "$file"
    echo "signed: $file"
done
