#!/usr/bin/env bash
# Makes the loopback listeners' certificates of a build in OUTDIR (never committed):
#   self-signed.pem       a self-signed server certificate and its key
#   org-ca.pem / .key     an organisation certificate authority
#   org-server.pem        a server certificate issued by that authority, its key, then the authority
#   iv-block.bin          4064 random bytes; the first 16 are the IV of the embedded ciphertexts
# Both server certificates name HOSTNAME, "localhost" and 127.0.0.1 and start a few days in the past, so
# that a fresh build is valid on every machine clock.
# Usage: make-tls-material.sh OUTDIR HOSTNAME
set -euo pipefail

out=${1:?usage: make-tls-material.sh OUTDIR HOSTNAME}
host=${2:?usage: make-tls-material.sh OUTDIR HOSTNAME}
openssl=${OPENSSL:-openssl}
mkdir -p "$out"
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT
umask 077

start=$(date -u -d '-3 days' +%Y%m%d%H%M%SZ)
caEnd=$(date -u -d '+10 years' +%Y%m%d%H%M%SZ)
serverEnd=$(date -u -d '+3 years' +%Y%m%d%H%M%SZ)

touch "$work/index.txt"
echo 2000 >"$work/serial"
cat >"$work/ca.cnf" <<CNF
[ ca ]
default_ca = org
[ org ]
database = $work/index.txt
new_certs_dir = $work
serial = $work/serial
default_md = sha256
policy = anything
unique_subject = no
preserve = yes
copy_extensions = none
[ anything ]
organizationName = optional
commonName = supplied
[ v3_ca ]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ v3_server ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:$host, DNS:localhost, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ v3_self ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:$host, DNS:localhost, IP:127.0.0.1
subjectKeyIdentifier = hash
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = unused
CNF

sign() {  # sign CSR OUT EXTENSIONS END [issuer options...]
    local csr=$1 result=$2 extensions=$3 end=$4
    shift 4
    "$openssl" ca -batch -notext -config "$work/ca.cnf" "$@" -in "$csr" -startdate "$start" -enddate "$end" \
        -extensions "$extensions" -out "$result" 2>"$work/ca.log" || { cat "$work/ca.log" >&2; exit 1; }
}

"$openssl" genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/self.key"
"$openssl" req -new -config "$work/ca.cnf" -key "$work/self.key" \
    -subj "/O=oKavel Agent/CN=$host" -out "$work/self.csr"
sign "$work/self.csr" "$work/self.pem" v3_self "$serverEnd" -selfsign -keyfile "$work/self.key"

"$openssl" genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/org-ca.key"
"$openssl" req -new -config "$work/ca.cnf" -key "$work/org-ca.key" \
    -subj "/O=oKavel Organization/CN=oKavel Organization CA" -out "$work/org-ca.csr"
sign "$work/org-ca.csr" "$work/org-ca.pem" v3_ca "$caEnd" -selfsign -keyfile "$work/org-ca.key"

"$openssl" genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/org-server.key"
"$openssl" req -new -config "$work/ca.cnf" -key "$work/org-server.key" \
    -subj "/O=oKavel Organization/CN=$host" -out "$work/org-server.csr"
sign "$work/org-server.csr" "$work/org-server.crt" v3_server "$serverEnd" \
    -cert "$work/org-ca.pem" -keyfile "$work/org-ca.key"

"$openssl" verify -CAfile "$work/org-ca.pem" -purpose sslserver "$work/org-server.crt" >/dev/null

cat "$work/self.pem" "$work/self.key" >"$work/self-signed.pem"
cat "$work/org-server.crt" "$work/org-server.key" "$work/org-ca.pem" >"$work/org-server-chain.pem"
"$openssl" rand -out "$work/iv-block.bin" 4064

chmod 644 "$work/org-ca.pem"
mv "$work/self-signed.pem" "$out/self-signed.pem"
mv "$work/org-ca.pem" "$out/org-ca.pem"
mv "$work/org-ca.key" "$out/org-ca.key"
mv "$work/org-server-chain.pem" "$out/org-server.pem"
# The IV block goes last: it is the output the build waits for.
mv "$work/iv-block.bin" "$out/iv-block.bin"
