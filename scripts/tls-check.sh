#!/usr/bin/env bash
# TLS: the collector served over HTTPS with a certificate from a CA of our own (made here with
# openssl). The library must refuse it without RIVLO_CA_FILE, accept it with the CA file, and
# refuse it for a certificate naming another host and for an expired one; plain http to an
# address outside 127.0.0.0/8 must be refused before any connection is tried. Everything runs
# on the loopback interface; the plain http case runs in a network namespace of its own with only
# the loopback interface (when unshare works), so no packet can leave the machine whatever the
# library did. (The TLS cases cannot run there: without a network the library does not try.)
#
#   scripts/tls-check.sh [build dir]
set -uo pipefail

BUILD=$(realpath -- "${1:-build/release}")
COLLECTOR="$BUILD/tools/collector/rivlo-collector"
HOST="$BUILD/examples/host/rivlo-host-example"
for p in "$COLLECTOR" "$HOST"; do
  [ -x "$p" ] || { echo "tls-check: $p not found; build it first" >&2; exit 2; }
done
work=$(mktemp -d /tmp/rivlo-tls-XXXXXX)
cd "$work" || exit 2

# The CA, and three server certificates signed by it.
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=Rivlo test CA" 2>/dev/null
cat > ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
copy_extensions = copy
[any]
commonName = supplied
CNF
: > index.txt; echo 01 > serial
issue() {  # name, subjectAltName, start, end
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$1" \
    -addext "subjectAltName=$2" 2>/dev/null
  openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in "$1.csr" -out "$1.pem" \
    -startdate "$3" -enddate "$4" -notext 2>/dev/null
}
now=$(date -u +%Y%m%d%H%M%SZ); later=$(date -u -d '+1 day' +%Y%m%d%H%M%SZ)
issue good "IP:127.0.0.1" "$now" "$later"
issue wronghost "DNS:wrong.example" "$now" "$later"
issue expired "IP:127.0.0.1" 20200101000000Z 20200102000000Z
[ -s good.pem ] && [ -s wronghost.pem ] && [ -s expired.pem ] ||
  { echo "tls-check: openssl could not make the certificates" >&2; exit 2; }

fail=0
run() {  # name, certificate, expectation (yes/no), ca file or ""
  rm -f url collector.log host.log
  "$COLLECTOR" serve --data "data-$1" --port 0 --app-key tls-key --url-file url \
    --cert "$2.pem" --key "$2.key" > collector.log 2>&1 &
  local collector=$!
  for _ in $(seq 100); do [ -s url ] && break; sleep 0.1; done
  # env, not a plain prefix: an assignment produced by an expansion is not an assignment.
  env RIVLO_SERVICE_URL="$(cat url)/" ${4:+RIVLO_CA_FILE="$4"} timeout 60 "$HOST" tls-key 2 \
    > /dev/null 2> host.log
  kill $collector; wait $collector 2>/dev/null
  # The host records from its start whatever the answer; what the TLS check decides is
  # whether the application key's verification got through.
  local verified=no
  grep -q 'Application key is verified' host.log && verified=yes
  if [ "$verified" = "$3" ]; then
    printf 'tls-check: %-40s %s\n' "$1" "$([ "$3" = yes ] && echo accepted || echo refused), as it must be"
  else
    printf 'tls-check: %-40s PROBLEM\n' "$1"; grep 'Rivlo' host.log | head -3; fail=1
  fi
  [ "$3" = no ] && ! grep -q 'Verification Failed' host.log &&
    { echo "tls-check: $1: no verification failure was logged"; fail=1; }
}
run "trusted CA, right host" good yes "$work/ca.pem"
run "no RIVLO_CA_FILE" good no ""
run "certificate for another host name" wronghost no "$work/ca.pem"
run "expired certificate" expired no "$work/ca.pem"

# Plain http to an address outside the loopback network: refused before connecting (the library
# then falls back to its fixed service address, which the namespace cannot reach either).
if ! unshare -n true 2>/dev/null; then
  echo "tls-check: no network namespace (needs root); the plain http case is skipped"
else
unshare -n sh -c 'ip link set lo up; exec "$@"' sh env RIVLO_SERVICE_URL=http://192.0.2.10:8089/ \
  timeout 60 strace -f -e trace=connect -o connects.txt "$HOST" tls-key 1 > /dev/null 2> host.log
if grep -q 'RIVLO_SERVICE_URL "http://192.0.2.10:8089/" cannot be used (plain http is only allowed towards the loopback interface)' host.log \
   && ! grep -q '192.0.2.10' connects.txt; then
  printf 'tls-check: %-40s refused before connecting, as it must be\n' "http to 192.0.2.10"
else
  printf 'tls-check: %-40s PROBLEM\n' "http to 192.0.2.10"; grep Rivlo host.log | head -3; fail=1
fi
fi
[ $fail -eq 0 ] && { echo "tls-check: ok"; rm -rf "$work"; }
exit $fail
