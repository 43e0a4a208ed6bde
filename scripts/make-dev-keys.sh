#!/usr/bin/env bash
# Makes the development signing material of a build in OUTDIR (never committed):
#   dev-root-ca.pem / .key        a development root CA (the compiled-in trust anchor by default)
#   dev-codesign.pem / .key       "Talvern Technologies Ltd", code-signing usage, issued by that root
#   featurelist-private.pem       RSA 2048 key that signs plugins_feature.json
#   featurelist-public.pem        its public half (SubjectPublicKeyInfo), compiled into the agent
# Certificates start a few days in the past so that a fresh build is valid on every machine clock.
set -euo pipefail

out=${1:?usage: make-dev-keys.sh OUTDIR}
openssl=${OPENSSL:-openssl}
mkdir -p "$out"
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT
umask 077

start=$(date -u -d '-3 days' +%Y%m%d%H%M%SZ)
rootEnd=$(date -u -d '+10 years' +%Y%m%d%H%M%SZ)
leafEnd=$(date -u -d '+3 years' +%Y%m%d%H%M%SZ)

touch "$work/index.txt"
echo 1000 >"$work/serial"
cat >"$work/ca.cnf" <<CNF
[ ca ]
default_ca = dev
[ dev ]
database = $work/index.txt
new_certs_dir = $work
serial = $work/serial
default_md = sha256
policy = anything
unique_subject = no
preserve = yes
copy_extensions = none
[ anything ]
commonName = supplied
organizationName = optional
[ v3_root ]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ v3_codesign ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = unused
CNF

"$openssl" genpkey -quiet -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/root.key"
"$openssl" req -new -config "$work/ca.cnf" -key "$work/root.key" \
    -subj "/O=oKavel Development/CN=oKavel Development Root CA" -out "$work/root.csr"
"$openssl" ca -batch -notext -config "$work/ca.cnf" -selfsign -keyfile "$work/root.key" -in "$work/root.csr" \
    -startdate "$start" -enddate "$rootEnd" -extensions v3_root -out "$work/root.pem" 2>"$work/ca.log" ||
    { cat "$work/ca.log" >&2; exit 1; }

"$openssl" genpkey -quiet -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/codesign.key"
"$openssl" req -new -config "$work/ca.cnf" -key "$work/codesign.key" \
    -subj "/O=Talvern Technologies Ltd/CN=Talvern Technologies Ltd" -out "$work/codesign.csr"
"$openssl" ca -batch -notext -config "$work/ca.cnf" -cert "$work/root.pem" -keyfile "$work/root.key" \
    -in "$work/codesign.csr" -startdate "$start" -enddate "$leafEnd" -extensions v3_codesign \
    -out "$work/codesign.pem" 2>"$work/ca.log" || { cat "$work/ca.log" >&2; exit 1; }

"$openssl" genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/featurelist-private.pem"
"$openssl" pkey -in "$work/featurelist-private.pem" -pubout -out "$work/featurelist-public.pem"

"$openssl" verify -CAfile "$work/root.pem" -purpose any "$work/codesign.pem" >/dev/null

chmod 644 "$work/root.pem" "$work/codesign.pem" "$work/featurelist-public.pem"
mv "$work/root.key" "$out/dev-root-ca.key"
mv "$work/codesign.key" "$out/dev-codesign.key"
mv "$work/codesign.pem" "$out/dev-codesign.pem"
mv "$work/featurelist-private.pem" "$out/featurelist-private.pem"
mv "$work/featurelist-public.pem" "$out/featurelist-public.pem"
# The root goes last: it is the output the build waits for.
mv "$work/root.pem" "$out/dev-root-ca.pem"
