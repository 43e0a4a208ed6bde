#!/usr/bin/env bash
# Makes the development signing material of a build in OUTDIR (never committed):
#   dev-root-ca.pem / .key        a development root CA (the compiled-in trust anchor by default)
#   dev-codesign.pem / .key       "Talvern Technologies Ltd", code-signing usage, issued by that root
#   featurelist-private.pem       RSA 2048 key that signs plugins_feature.json
#   featurelist-public.pem        its public half (SubjectPublicKeyInfo), compiled into the agent
# Certificates start a few days in the past so that a fresh build is valid on every machine clock.
set -euo pipefail

out=${1:?usage: make-dev-keys.sh OUTDIR}
source "$(dirname "$0")/openssl-ca.sh"
ca_setup "$out"

rootEnd=$(date -u -d '+10 years' +%Y%m%d%H%M%SZ)
leafEnd=$(date -u -d '+3 years' +%Y%m%d%H%M%SZ)
cat >>"$work/ca.cnf" <<CNF
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
CNF

"$openssl" genpkey -quiet -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/root.key"
"$openssl" req -new -config "$work/ca.cnf" -key "$work/root.key" \
    -subj "/O=oKavel Development/CN=oKavel Development Root CA" -out "$work/root.csr"
ca_sign "$work/root.csr" "$work/root.pem" v3_root "$rootEnd" -selfsign -keyfile "$work/root.key"

"$openssl" genpkey -quiet -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/codesign.key"
"$openssl" req -new -config "$work/ca.cnf" -key "$work/codesign.key" \
    -subj "/O=Talvern Technologies Ltd/CN=Talvern Technologies Ltd" -out "$work/codesign.csr"
ca_sign "$work/codesign.csr" "$work/codesign.pem" v3_codesign "$leafEnd" -cert "$work/root.pem" -keyfile "$work/root.key"

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
