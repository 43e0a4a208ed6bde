#!/usr/bin/env bash
# Makes the loopback listeners' certificates of a build in OUTDIR (never committed):
#   self-signed.pem       a self-signed server certificate and its key
#   org-ca.pem / .key     an organisation certificate authority
#   org-server.pem        a server certificate issued by that authority, its key, then the authority
#   iv-block.bin          4064 random bytes; the first 16 are the IV of the embedded ciphertexts
# Both server certificates (RSA 2048) name HOSTNAME, "localhost" and 127.0.0.1 and start a few days in
# the past. Usage: make-tls-material.sh OUTDIR HOSTNAME
set -euo pipefail

out=${1:?usage: make-tls-material.sh OUTDIR HOSTNAME}
host=${2:?usage: make-tls-material.sh OUTDIR HOSTNAME}
source "$(dirname "$0")/openssl-ca.sh"
ca_setup "$out"

caEnd=$(date -u -d '+10 years' +%Y%m%d%H%M%SZ)
serverEnd=$(date -u -d '+3 years' +%Y%m%d%H%M%SZ)
cat >>"$work/ca.cnf" <<CNF
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
CNF

# request KEY CSR SUBJECT: a new RSA key and its signing request.
request() {
    "$openssl" genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1"
    "$openssl" req -new -config "$work/ca.cnf" -key "$1" -subj "$3" -out "$2"
}

request "$work/self.key" "$work/self.csr" "/O=oKavel Agent/CN=$host"
ca_sign "$work/self.csr" "$work/self.pem" v3_server "$serverEnd" -selfsign -keyfile "$work/self.key"

request "$work/org-ca.key" "$work/org-ca.csr" "/O=oKavel Organization/CN=oKavel Organization CA"
ca_sign "$work/org-ca.csr" "$work/org-ca.pem" v3_ca "$caEnd" -selfsign -keyfile "$work/org-ca.key"

request "$work/org-server.key" "$work/org-server.csr" "/O=oKavel Organization/CN=$host"
ca_sign "$work/org-server.csr" "$work/org-server.crt" v3_server "$serverEnd" \
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
