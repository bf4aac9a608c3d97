#!/usr/bin/env bash
# Makes the certificates of a TLS test run in DIR, with EC keys so that it takes little time:
#   ca.pem            the authority the tests trust (ca.key signs)
#   server.pem/.key   for localhost and 127.0.0.1
#   elsewhere.pem     the same key, for another host name
#   expired.pem       the same key and names, valid only in 2020
#   client.pem/.key   a client the authority vouches for
#   unvouched.pem     the client's key, in a certificate no authority signed
#   stranger-ca.pem   an authority nobody here trusts
set -euo pipefail
dir=$1
cd "$dir"

key() { openssl ecparam -genkey -name prime256v1 -noout -out "$1"; }
authority() {
  key "$1.key"
  openssl req -x509 -new -key "$1.key" -subj "/CN=$2" -days 2 -out "$1.pem" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
}
# The authority signs through `openssl ca`, which alone can date a certificate in the past.
signed() {
  local name=$1 subject=$2 names=$3 key=$4
  shift 4
  openssl req -new -key "$key" -subj "/CN=$subject" -out "$name.csr"
  printf 'basicConstraints=CA:FALSE\n%s\n' "$names" >"$name.ext"
  openssl ca -batch -notext -config ca.cnf -in "$name.csr" -out "$name.pem" \
    -extfile "$name.ext" "$@" 2>/dev/null
}

authority ca "quorin test authority"
authority stranger-ca "an authority nobody trusts"
mkdir -p issued
: >index.txt
echo 01 >serial
cat >ca.cnf <<CNF
[ca]
default_ca = test
[test]
dir = .
database = index.txt
serial = serial
new_certs_dir = issued
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
CNF

key server.key
key client.key
signed server localhost "subjectAltName=DNS:localhost,IP:127.0.0.1" server.key -days 2
signed elsewhere elsewhere.invalid "subjectAltName=DNS:elsewhere.invalid" server.key -days 2
signed expired localhost "subjectAltName=DNS:localhost,IP:127.0.0.1" server.key \
  -startdate 20200101000000Z -enddate 20200102000000Z
signed client "quorin test device" "extendedKeyUsage=clientAuth" client.key -days 2
openssl req -x509 -new -key client.key -subj "/CN=a device nobody vouches for" -days 2 \
  -addext extendedKeyUsage=clientAuth -out unvouched.pem
