#!/usr/bin/env bash
# Signs a built executable with Authenticode (SHA-256) and verifies it, as a maker does at
# release. docs/releasing.md says what it promises, and how to call it by hand and in CI.
#   sign.sh [--ca FILE] [--tsa-ca FILE] [--timeout SECONDS] (--timestamp URL | --no-timestamp)
#           --pkcs12 FILE IN.exe OUT.exe
#   sign.sh [--ca FILE] [--tsa-ca FILE] [--timeout SECONDS] (--timestamp URL | --no-timestamp)
#           --pkcs11-module MODULE --key URI --cert FILE IN.exe OUT.exe
# The PKCS#12 file's password, or the token's PIN, comes from YARROWTIDE_SIGN_PASSWORD.
# Exit status: 0 exactly when OUT is the new, verified file; 2 for a wrong command line;
# 1 for anything else, or the signal that stopped it; every failure prints one line.
# The secret must not reach a trace (bash -x), a command line, an environment, a file or a
# core dump: tracing and exporting every variable (set -a, which a caller's SHELLOPTS or
# BASH_ENV may turn on) are off from here on, and no process of the script dumps core.
set +xa
ulimit -c 0
# The environment a process started with stays readable in /proc/<pid>/environ for its whole
# life, whatever bash unsets, and in that of every subshell it forks. So this process starts
# the script again, as itself and without start-up file, with an environment without the
# secret, which it hands over on a pipe, descriptor 3: never a here-string, which older bash
# keeps in a temporary file. The marker names this process: it holds only in the process
# that set it, with its PID and descriptor 3 open.
# Tests of the secret expand ${VAR+x} and ${VAR:+x} alone, never the secret itself.
if [ -n "${YARROWTIDE_SIGN_PASSWORD+x}" ]; then
  declare +x YARROWTIDE_SIGN_PASSWORD
  exec 3< <(printf '%s' "$YARROWTIDE_SIGN_PASSWORD")
  unset BASH_ENV
  YARROWTIDE_SIGN_PASSWORD_ON=$$ exec "$BASH" "${BASH_SOURCE[0]}" "$@"
fi
declare +x password=
password_given=
if [ "${YARROWTIDE_SIGN_PASSWORD_ON-}" = $$ ] && [ -r /dev/fd/3 ]; then
  password_given=1
  IFS= read -r -d '' password <&3 || true
  exec 3<&-
  # osslsigncode drops trailing line ends from what it reads: the checks below see the secret
  # as the token or the PKCS#12 file will.
  while [[ $password == *[$'\r\n'] ]]; do
    password=${password%?}
  done
fi
unset YARROWTIDE_SIGN_PASSWORD_ON
set -euo pipefail
# These signals, whose default action ends a process. Stopped by one, the script first ends
# what it started, which runs in a process group of its own where a terminal's signals
# don't reach it, and removes its work folder; then it ends by the same signal, so that a
# calling script stops too (bash runs no EXIT trap then). A stop can't fail, and a second
# signal during it changes nothing. Once the final rename has made OUT the new file, though,
# the release is done, and a signal changes nothing.
signals=(HUP INT QUIT PIPE ALRM TERM USR1 USR2 XCPU XFSZ VTALRM PROF)
work= renaming=
remove_work() { [ -z "$work" ] || rm -rf "$work"; }
trap remove_work EXIT
stop() {
  set +e
  trap '' "${signals[@]}"
  [ -z "$renaming" ] || [ -e "$work/signed.exe" ] || done_signing
  # Only what still runs: a foreground command that has ended may still be listed, by a PID
  # that is free for reuse.
  local running
  running=$(jobs -rp)
  [ -z "$running" ] || { kill -TERM $running; wait $running; } 2>/dev/null
  remove_work
  trap - "$1" EXIT
  kill -s "$1" $$
  # Bash ignores SIGQUIT without a trap, so that one ends the script by its status alone.
  exit $((128 + $(kill -l "$1")))
}
for signal in "${signals[@]}"; do
  trap "stop $signal" "$signal"
done

fail() {
  echo "sign.sh: $2" >&2
  exit "$1"
}

ca= tsa_ca= timestamp= no_timestamp= pkcs12= module= key= cert= limit=300
files=()
while [ $# -gt 0 ]; do
  case $1 in
    --no-timestamp)
      no_timestamp=1
      shift ;;
    --ca | --tsa-ca | --timestamp | --timeout | --pkcs12 | --pkcs11-module | --key | --cert)
      [ $# -ge 2 ] || fail 2 "$1 needs a value"
      case $1 in
        --ca) ca=$2 ;;
        --tsa-ca) tsa_ca=$2 ;;
        --timestamp) timestamp=$2 ;;
        --timeout) limit=$2 ;;
        --pkcs12) pkcs12=$2 ;;
        --pkcs11-module) module=$2 ;;
        --key) key=$2 ;;
        --cert) cert=$2 ;;
      esac
      shift 2 ;;
    -*) fail 2 "unknown option: $1" ;;
    *) files+=("$1")
       shift ;;
  esac
done
[ ${#files[@]} -eq 2 ] || fail 2 "name IN.exe and OUT.exe, and nothing else (see the top of $0)"
in=${files[0]} out=${files[1]}
[[ $limit =~ ^[0-9]{1,6}$ ]] && ((10#$limit > 0)) ||
  fail 2 "--timeout takes a whole number of seconds from 1 to 999999, not \"$limit\""
limit=$((10#$limit))
[[ $out != */ ]] || fail 2 "OUT ends in a slash: name the file to write, not a folder ($out)"
if [ -n "$timestamp" ]; then
  [ -z "$no_timestamp" ] || fail 2 "--timestamp and --no-timestamp exclude each other"
elif [ -z "$no_timestamp" ]; then
  fail 2 "name the certificate authority's RFC 3161 time-stamp server with --timestamp URL, so that the signature outlives the certificate (--no-timestamp signs without one, for tests and in-house builds)"
fi
if [ -n "$pkcs12" ]; then
  [ -z "$module$key$cert" ] || fail 2 "--pkcs12 and --pkcs11-module exclude each other"
  signer=(-pkcs12 "$pkcs12")
elif [ -n "$module" ]; then
  [ -n "$key" ] && [ -n "$cert" ] || fail 2 "--pkcs11-module needs --key and --cert"
  signer=(-pkcs11module "$module" -key "$key" -certs "$cert")
else
  fail 2 "name the key: --pkcs12 FILE, or --pkcs11-module MODULE --key URI --cert FILE"
fi
for file in "$in" "$pkcs12" "$module" "$cert" "$ca" "$tsa_ca"; do
  [ -z "$file" ] || [ -f "$file" ] || fail 1 "no such file: $file"
done
[ -n "$password_given" ] ||
  fail 1 "set YARROWTIDE_SIGN_PASSWORD to the PKCS#12 file's password or the token's PIN"
# A secret that a CI run lacks, as for a pull request from a fork, arrives empty.
[ -z "$module" ] || [ -n "${password:+x}" ] ||
  fail 1 "YARROWTIDE_SIGN_PASSWORD is empty, or only line ends: no empty PIN is tried on the token, which would count it as a failed login"
# osslsigncode reads no more than this and would log in with the secret cut short.
(LC_ALL=C && ((${#password} <= 4095))) ||
  fail 1 "YARROWTIDE_SIGN_PASSWORD is longer than the 4095 bytes that osslsigncode reads"
[ ! "$out" -ef "$in" ] || fail 1 "OUT must be another file than IN, which is never changed"
[ ! -d "$out" ] || fail 1 "OUT is a folder: name the file to write"

description=$(/usr/bin/python3 - "$in" 2>/dev/null <<'EOF'
import sys
import pefile
pe = pefile.PE(sys.argv[1], fast_load=True)
pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
print(next(value.decode() for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
           for table in info.StringTable for name, value in table.entries.items() if name == b"FileDescription"))
EOF
) || fail 1 "$in is no executable with a FileDescription in its version record"

# Signed and checked beside OUT, so that the last step is a rename on one file system.
mkdir -p -- "$(dirname -- "$out")" 2>/dev/null || fail 1 "can't make the folder of $out"
work=$(mktemp -d "$(dirname -- "$out")/.sign.XXXXXX" 2>/dev/null) || fail 1 "can't write beside $out"
# The secret goes in on standard input; an empty one can't be read from there.
password_from=(-readpass /dev/stdin)
[ -n "${password:+x}" ] || password_from=(-pass "")
stamp=() verify_against=()
tsa_ca=${tsa_ca:-$ca}
system_bundle="the system's CA bundle"
trusted=${ca:-$system_bundle} tsa_trusted=${tsa_ca:-$system_bundle}
[ -z "$timestamp" ] || stamp=(-ts "$timestamp")
[ -z "$ca" ] || verify_against+=(-CAfile "$ca")
[ -z "$tsa_ca" ] || verify_against+=(-TSA-CAfile "$tsa_ca")

# Runs a command, ended once it has run for the time limit: then with status 124, or 137
# where it had to be killed. In the background, on the caller's standard input, so that a
# signal to the script reaches its trap at once, not once the command ends.
within_limit() {
  timeout --kill-after=5 "$limit" "$@" <&0 &
  wait $! 2>/dev/null
}
timed_out() { [ "$1" = 124 ] || [ "$1" = 137 ]; }

# Whether the token's key is the key of no certificate in --cert, told by its public half;
# false where the token doesn't give that without a PIN, which this asks for nowhere, lest
# a failed login count against the token. osslsigncode 2.6 and later say only "Failed" then.
key_of_no_certificate() {
  [ -n "$module" ] || return 1
  printf 'openssl_conf = init\n[init]\nengines = engines\n[engines]\npkcs11 = pkcs11\n[pkcs11]\nMODULE_PATH = %s\n' \
    "$module" >"$work/engine.cnf"
  local public certificate
  # Without a terminal, where the engine would ask for one.
  OPENSSL_CONF=$work/engine.cnf within_limit setsid openssl pkey -engine pkcs11 -inform ENGINE -pubin \
    -in "$key" -pubout >"$work/public.pem" 2>/dev/null </dev/null || return 1
  public=$(<"$work/public.pem")
  awk -v work="$work" '/BEGIN CERTIFICATE/ { n++ } { print > (work "/certificate" n ".pem") }' "$cert"
  for certificate in "$work"/certificate*.pem; do
    [ "$(openssl x509 -in "$certificate" -noout -pubkey 2>/dev/null)" != "$public" ] || return 1
  done
}

status=0
within_limit osslsigncode sign -h sha256 -n "$description" "${signer[@]}" "${password_from[@]}" "${stamp[@]}" \
  -in "$in" -out "$work/signed.exe" < <(printf '%s\n' "$password") >"$work/sign.log" 2>&1 || status=$?
if timed_out $status; then
  [ -z "$timestamp" ] || fail 1 "the time-stamp server $timestamp did not answer within $limit seconds"
  fail 1 "osslsigncode did not sign within $limit seconds"
elif [ $status != 0 ]; then
  log=$(cat "$work/sign.log")
  case $log in
    *"Wrong password"* | *"mac verify failure"*) fail 1 "wrong password for $pkcs12" ;;
    *"PIN incorrect"*) fail 1 "wrong PIN for the token of $key" ;;
    *"timestamping failed"*) fail 1 "no time stamp from $timestamp: the server can't be reached, or gave none" ;;
    *"Failed to load private key"* | *"key was not found"*) fail 1 "no private key at $key" ;;
    # osslsigncode 2.5 says so itself.
    *"consistency of a private key"*) ;;
    *) key_of_no_certificate ||
         fail 1 "osslsigncode could not sign $in: $(grep -v '^[0-9A-F]*:error:' "$work/sign.log" | tail -n 2 | head -n 1)" ;;
  esac
  fail 1 "no certificate in $cert matches the key at $key"
fi
within_limit osslsigncode verify "${verify_against[@]}" -in "$work/signed.exe" >"$work/verify.log" 2>&1 || status=$?
if timed_out $status; then
  fail 1 "the verify step, which fetches the certificates' revocation lists, did not finish within $limit seconds"
elif [ $status != 0 ]; then
  log=$(cat "$work/verify.log")
  case $log in
    *"certificate purpose"*) fail 1 "the certificate is not made for code signing" ;;
    *"certificate verify error"*) fail 1 "the signature doesn't chain to a CA in $trusted" ;;
    *) fail 1 "the new signature does not verify: $(grep -i -m 1 'error\|fail' "$work/verify.log")" ;;
  esac
fi
if [ -n "$timestamp" ] && ! grep -q "Timestamp Server Signature verification: ok" "$work/verify.log"; then
  fail 1 "the time stamp from $timestamp does not verify against $tsa_trusted"
fi
chmod --reference="$in" "$work/signed.exe"
# The exit status says whether OUT is new: 0 exactly when it is, even where the success line
# can't be written.
done_signing() {
  trap '' "${signals[@]}"
  echo "signed $out: SHA-256, \"$description\"${timestamp:+, time-stamped by $timestamp}, verified against $trusted${timestamp:+, the time stamp against $tsa_trusted}" 2>/dev/null || true
  exit 0
}
renaming=1
mv -f "$work/signed.exe" "$out" 2>/dev/null || fail 1 "can't write $out"
done_signing
