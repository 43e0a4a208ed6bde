#!/usr/bin/env bash
# Makes one certificate (P-256 key) for the tests:
#   test-pki.sh DIR STEM SUBJECT KIND FROM TO [ISSUER-CERTIFICATE ISSUER-KEY]
# SUBJECT as -subj takes it ("/O=Org/CN=Name"); KIND "ca", or the extended key usage of a leaf
# (codeSigning, emailProtection..., none for no extended key usage); FROM and TO the validity in seconds
# from now; self-signed without an issuer. Writes DIR/STEM.pem and DIR/STEM.key.
set -eu
dir=$1 stem=$2 subject=$3 kind=$4 from=$5 to=$6 issuer=${7:-} issuerKey=${8:-}
source "$(dirname "$0")/../../scripts/openssl-ca.sh"
ca_setup "$dir"
at() { date -u -d "@$(($(date +%s) + $1))" +%Y%m%d%H%M%SZ; }
start=$(at "$from")
# Serials of one issuer must differ: signatures name their signer by issuer and serial.
"$openssl" rand -hex 8 >"$work/serial"
if [ "$kind" = ca ]; then
    usage=$'basicConstraints = critical,CA:TRUE\nkeyUsage = critical,keyCertSign,cRLSign'
else
    usage=$'basicConstraints = critical,CA:FALSE\nkeyUsage = critical,digitalSignature'
    [ "$kind" = none ] || usage+=$'\nextendedKeyUsage = '$kind
fi
printf '[ loose ]\norganizationName = optional\ncommonName = optional\n[ test ]\nsubjectKeyIdentifier = hash\n%s\n' \
    "$usage" >>"$work/ca.cnf"
"$openssl" req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "$subject" \
    -keyout "$dir/$stem.key" -out "$work/csr" 2>"$work/req.log" || { cat "$work/req.log" >&2; exit 1; }
if [ -n "$issuer" ]; then
    signer=(-cert "$issuer" -keyfile "$issuerKey")
else
    signer=(-selfsign -keyfile "$dir/$stem.key")
fi
ca_sign "$work/csr" "$dir/$stem.pem" test "$(at "$to")" -policy loose "${signer[@]}"
