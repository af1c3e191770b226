#!/usr/bin/env bash
# Signs the built program as a release does, with a throwaway CA and code-signing
# certificate, from a PKCS#12 file into a new folder and from a SoftHSM2 token, and checks
# the signed copy: osslsigncode verifies it, with the SHA-256 digest and the version
# record's description; Wine's WinVerifyTrust accepts it and rejects a copy with one byte
# of its code changed; it still writes the entry. Signing under a trace, for a caller that
# exports every variable, shows the secret neither there nor in osslsigncode's arguments, in
# its environment or in that of sign.sh, and osslsigncode may dump no core. An empty PIN,
# a wrong password, a missing time stamp, a bad --timeout or OUT, a chain to no root the
# system trusts, a time stamp that chains to another root than its anchor, a time-stamp
# server that never answers, a verify step that hangs and ignores SIGTERM, or Ctrl-C or
# another signal, also during the final rename, leaves no signed copy, nor any work folder
# or osslsigncode running, and an existing one as it was; a new one replaces the old whole.
#   signing.sh DESCRIPTION WINE PREFIX ARCH PROBE PROGRAM MARKER-DLL MARKER-EXE
set -euo pipefail
description=$1 wine=$2 prefix=$3 arch=$4 probe=$5 program=$6 marker_dll=$7 marker_exe=$8
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
# Every step runs, though one fails.
trap 'set +e; kill ${listener-} 2>/dev/null; grep -hs "^sign.sh: " "$work/traced.log" >&2; rm -rf "$work"' EXIT
cd "$work"

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Throwaway Root" \
  -addext basicConstraints=critical,CA:true 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout maker.key -out maker.csr -subj "/CN=Yarrowtide" 2>/dev/null
openssl x509 -req -in maker.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out maker.pem \
  -extfile <(echo extendedKeyUsage=codeSigning) 2>/dev/null
# A time-stamping certificate that is its own root, which no --tsa-ca below names.
openssl req -x509 -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.pem -days 2 -subj "/CN=Throwaway Time Stamps" \
  -addext extendedKeyUsage=critical,timeStamping 2>/dev/null
# Unlike any word of the script, so that a trace or an environment holding it is plain to see;
# its blank and backslash are read as they stand.
password=' Pw-7f3a\9c41'
openssl pkcs12 -export -in maker.pem -inkey maker.key -certfile ca.pem -out maker.p12 -passout "pass:$password"
# The maker's key on a throwaway token, whose PIN is the same password.
printf 'directories.tokendir = %s\n' "$work" >softhsm2.conf && export SOFTHSM2_CONF=$work/softhsm2.conf
softhsm2-util --init-token --free --label Yarrowtide --so-pin 0000 --pin "$password" >/dev/null
softhsm2-util --import maker.key --token Yarrowtide --label code-signing --id 01 --pin "$password" >/dev/null
cat maker.pem ca.pem >chain.pem
token=(--pkcs11-module /usr/lib/softhsm/libsofthsm2.so --key "pkcs11:token=Yarrowtide;object=code-signing" --cert chain.pem)
# Each run traced, core dumps allowed, and osslsigncode noting what it is given and can read:
# its arguments, core-dump limit and environment, and each ancestor's environment. Asked for
# a time stamp from stamps.invalid, it makes one itself with the certificate above. While
# the file stall exists, its verify step hangs, deaf to SIGTERM.
mkdir bin
cat >bin/osslsigncode <<END
#!/bin/bash
{ echo "\$* core limit \$(ulimit -c)"; env; pid=\$PPID
  while [ "\$pid" -gt 1 ]; do cat /proc/\$pid/environ; pid=\$(awk '/^PPid/{print \$2}' /proc/\$pid/status); done
} >>"$work/children.env"
[[ \$1 != verify || ! -e $work/stall ]] || { trap '' TERM; sleep 20; }
[[ " \$* " != *" -ts http://stamps.invalid "* ]] || set -- "\${@/#-ts/-TSA-certs}" -TSA-key "$work/tsa.key"
exec $(command -v osslsigncode) "\${@/#http:\/\/stamps.invalid/$work/tsa.pem}"
END
# Where the file slow-mv exists, the next rename removes it and takes 5 seconds.
printf '#!/bin/bash\n! rm %s/slow-mv 2>/dev/null || sleep 5\nexec /bin/mv "$@"\n' "$work" >bin/mv
chmod +x bin/osslsigncode bin/mv
# A start-up file notes each image of sign.sh that reads it, by the hand-over's marker.
echo "echo \${YARROWTIDE_SIGN_PASSWORD_ON:-none} >>$work/startup.log" >startup.sh
# The caller exports every variable, and one named as the script's own.
sign() (ulimit -S -c "$(ulimit -H -c)"
  YARROWTIDE_SIGN_PASSWORD=$password PATH=$work/bin:$PATH env password=decoy SHELLOPTS=allexport \
    BASH_ENV=$work/startup.sh bash -x "$root/scripts/sign.sh" "$@" 2>>traced.log)

# An empty PIN, or one of line ends only, never reaches the token, nor osslsigncode.
for pin in '' $'\n'; do password=$pin sign --no-timestamp "${token[@]}" "$program" no-pin.exe && exit 1
  [[ $? = 1 && ! -e children.env ]]; done
sign --no-timestamp --ca ca.pem "${token[@]}" "$program" token-signed.exe

sign --no-timestamp --ca ca.pem --pkcs12 maker.p12 "$program" release/signed.exe
# OUT replaced, not written over, with IN's mode; IN itself, or a folder, is no OUT.
cp "$program" in.exe && chmod 751 in.exe && mkdir folder && echo old >release/new.exe && ln release/new.exe old.exe
sign --no-timestamp --ca ca.pem --pkcs12 maker.p12 in.exe release/new.exe
[[ $(<old.exe) = old && $(stat -c %a release/new.exe) = 751 ]]
for out in in.exe folder; do sign --no-timestamp --ca ca.pem --pkcs12 maker.p12 in.exe $out && exit 1; done
cmp in.exe "$program" && [[ -z $(ls -A folder) ]]
# A marker of another process, with a descriptor 3, is no hand-over.
YARROWTIDE_SIGN_PASSWORD_ON=$$ bash "$root/scripts/sign.sh" --no-timestamp --ca ca.pem --pkcs12 maker.p12 \
  "$program" faked.exe 3< <(printf %s "$password") 2>/dev/null && exit 1
osslsigncode verify -CAfile ca.pem -in release/signed.exe >verify.log
grep -q "Message digest algorithm: SHA256" verify.log
grep -qx "	Text description: $description" verify.log

# The linker puts the code first, right after the 0x400 bytes of headers.
cp release/signed.exe signed.exe
cp signed.exe tampered.exe
printf '\xcc' | dd of=tampered.exe bs=1 seek=$((0x440)) conv=notrunc status=none
# TRUST_E_BAD_DIGEST for the changed copy.
printf 'trust\tsigned.exe\ntrust\ttampered.exe\n' | WINEPREFIX=$prefix WINEDEBUG=-all "$wine" "$probe" >trust.out
diff <(printf 'trust\tsigned.exe\t00000000\ntrust\ttampered.exe\t80096010\n') <(tr -d '\r' <trust.out)

/usr/bin/python3 "$root/tests/wine/e2e.py" --wine "$wine" --prefix "$prefix" --arch "$arch" --probe "$probe" \
  --program signed.exe --marker-dll "$marker_dll" --marker-exe "$marker_exe" case entry-absent >/dev/null

YARROWTIDE_SIGN_PASSWORD=wrong bash "$root/scripts/sign.sh" --no-timestamp --ca ca.pem --pkcs12 maker.p12 \
  "$program" refused.exe 2>/dev/null && exit 1
sign --ca ca.pem --pkcs12 maker.p12 "$program" unstamped.exe && exit 1; [[ $? = 2 ]]
# The throwaway root is not among the system's.
sign --no-timestamp --pkcs12 maker.p12 "$program" untrusted.exe && exit 1
sign --timeout 0 --no-timestamp --pkcs12 maker.p12 "$program" zero.exe && exit 1; [[ $? = 2 ]]
sign --no-timestamp --pkcs12 maker.p12 "$program" release/ && exit 1; [[ $? = 2 ]]
grep -q "OUT ends in a slash" traced.log
touch stall && SECONDS=0
sign --timeout 2 --no-timestamp --ca ca.pem --pkcs12 maker.p12 "$program" release/signed.exe && exit 1
rm stall; ((SECONDS < 15))
grep -q "the verify step, which .* did not finish within 2 seconds" traced.log
# osslsigncode 2.5, Debian 12's own, can't make a time stamp by itself.
if [[ $(osslsigncode --help 2>&1) == *-TSA-certs* ]]; then
  sign --timestamp http://stamps.invalid --ca ca.pem --pkcs12 maker.p12 "$program" badly-stamped.exe && exit 1
  grep -q "time stamp from http://stamps.invalid does not verify against ca.pem" traced.log
else
  echo "skipped: a time stamp from another root, which $(osslsigncode --version | head -n 1) can't make by itself"
fi
# A time-stamp server that takes the connection, held here, and never answers, for at most 20 seconds.
exec 4< <(timeout 40 python3 -c 'import socket, time
server = socket.create_server(("127.0.0.1", 0)); print(server.getsockname()[1], flush=True)
held = server.accept(); time.sleep(40)' 2>/dev/null)
listener=$! && read -r port <&4
sign --timeout 2 --timestamp "http://127.0.0.1:$port" --pkcs12 maker.p12 "$program" release/signed.exe && exit 1
grep -q "time-stamp server http://127.0.0.1:$port did not answer within 2 seconds" traced.log
# Ctrl-C 1 s in: SIGINT to the run's own process group, as a terminal sends it.
set -m; sign --timeout 9 --timestamp "http://127.0.0.1:$port" --pkcs12 maker.p12 "$program" release/signed.exe & set +m
sleep 1 && kill -INT -- -$! && SECONDS=0; wait $! && exit 1; [[ $? = 130 ]] && ((SECONDS < 3))
pgrep -f "127.0.0.1:$port" && exit 1
# Other signals to sign.sh alone end the run too, each by its own signal.
for signal in TERM HUP USR1; do
  sign --timeout 9 --timestamp "http://127.0.0.1:$port" --pkcs12 maker.p12 "$program" release/signed.exe &
  sleep 1 && pkill -$signal -f "scripts/sign.sh .*127.0.0.1:$port"; wait $! && exit 1; (($? == 128 + $(kill -l $signal)))
  pgrep -f "127.0.0.1:$port" && exit 1; [[ -z $(ls -A release | grep '^\.sign\.') ]]
done
# Ctrl-C during the final rename, in a calling script: neither goes on, and OUT stays as it was.
touch slow-mv && set -m
PATH=$work/bin:$PATH bash -c 'IFS= read -r YARROWTIDE_SIGN_PASSWORD && export YARROWTIDE_SIGN_PASSWORD && bash "$@"
  echo went on' _ "$root/scripts/sign.sh" --no-timestamp --ca ca.pem --pkcs12 maker.p12 "$program" release/signed.exe \
  <<<"$password" >went.log & set +m
timeout 20 bash -c 'while [[ -e slow-mv ]]; do sleep 0.1; done'; kill -INT -- -$!; wait $! && exit 1
[[ $? = 130 && ! -s went.log ]]
cmp signed.exe release/signed.exe
[[ ! -e refused.exe && ! -e unstamped.exe && ! -e untrusted.exe && ! -e badly-stamped.exe ]]
[[ -s children.env && -z $(ls -A . release | grep '^\.sign\.') ]]
grep -qF "$password" traced.log children.env && exit 1
grep -q "core limit [^0]" children.env && exit 1
# Read by the first image of each run, never by the one the secret was handed to.
grep -qx none startup.log && grep -vqx none startup.log && exit 1
echo "signing: the signed copy verifies, Wine trusts it and not a changed one, and it writes the entry; no secret shows"
