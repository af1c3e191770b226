#!/usr/bin/env bash
# Signs the built program as a release does, with a throwaway CA and code-signing
# certificate, and checks the signed copy: osslsigncode verifies it, with the SHA-256
# digest and the version record's description; Wine's WinVerifyTrust accepts it and
# rejects a copy with one byte of its code changed; it still writes the entry. Signing
# under a trace shows the secret neither there nor to osslsigncode's environment; and a
# wrong password, a missing time stamp, or a chain to no root the system trusts leaves no
# signed copy.
#   signing.sh DESCRIPTION WINE PREFIX ARCH PROBE PROGRAM MARKER-DLL MARKER-EXE
set -euo pipefail
description=$1 wine=$2 prefix=$3 arch=$4 probe=$5 program=$6 marker_dll=$7 marker_exe=$8
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/yarrowtide-signing.XXXXXX)
trap 'grep -hs "^sign.sh: " "$work/traced.log" >&2; rm -rf "$work"' EXIT
cd "$work"

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Throwaway Root" \
  -addext basicConstraints=critical,CA:true 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout maker.key -out maker.csr -subj "/CN=Yarrowtide" 2>/dev/null
openssl x509 -req -in maker.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out maker.pem \
  -extfile <(echo extendedKeyUsage=codeSigning) 2>/dev/null
# Unlike any word of the script, so that a trace or an environment holding it is plain to see.
password=Pw-7f3a9c41
openssl pkcs12 -export -in maker.pem -inkey maker.key -certfile ca.pem -out maker.p12 -passout "pass:$password"
# Each run traced, with osslsigncode noting the environment it is given.
mkdir bin
printf '#!/bin/sh\nenv >>"%s/children.env"\nexec %s "$@"\n' "$work" "$(command -v osslsigncode)" >bin/osslsigncode
chmod +x bin/osslsigncode
sign() { YARROWTIDE_SIGN_PASSWORD=$password PATH=$work/bin:$PATH bash -x "$root/scripts/sign.sh" "$@" 2>>traced.log; }

sign --no-timestamp --ca ca.pem --pkcs12 maker.p12 "$program" signed.exe
osslsigncode verify -CAfile ca.pem -in signed.exe >verify.log
grep -q "Message digest algorithm: SHA256" verify.log
grep -qx "	Text description: $description" verify.log

# The linker puts the code first, right after the 0x400 bytes of headers.
cp signed.exe tampered.exe
printf '\xcc' | dd of=tampered.exe bs=1 seek=$((0x440)) conv=notrunc status=none
# TRUST_E_BAD_DIGEST for the changed copy.
printf 'trust\tsigned.exe\ntrust\ttampered.exe\n' | WINEPREFIX=$prefix WINEDEBUG=-all "$wine" "$probe" >trust.out
diff <(printf 'trust\tsigned.exe\t00000000\ntrust\ttampered.exe\t80096010\n') <(tr -d '\r' <trust.out)

/usr/bin/python3 "$root/tests/wine/e2e.py" --wine "$wine" --prefix "$prefix" --arch "$arch" --probe "$probe" \
  --program signed.exe --marker-dll "$marker_dll" --marker-exe "$marker_exe" case entry-absent >/dev/null

YARROWTIDE_SIGN_PASSWORD=wrong bash "$root/scripts/sign.sh" --no-timestamp --ca ca.pem --pkcs12 maker.p12 \
  "$program" refused.exe 2>/dev/null && exit 1
status=0
sign --ca ca.pem --pkcs12 maker.p12 "$program" unstamped.exe || status=$?
# The throwaway root is not among the system's.
sign --no-timestamp --pkcs12 maker.p12 "$program" untrusted.exe && exit 1
[[ $status = 2 && ! -e refused.exe && ! -e unstamped.exe && ! -e untrusted.exe && -s children.env ]]
grep -qF "$password" traced.log children.env && exit 1
echo "signing: the signed copy verifies, Wine trusts it and not a changed one, and it writes the entry; no secret shows"
