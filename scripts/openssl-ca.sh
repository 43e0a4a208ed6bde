# Shared by the scripts that make a build's certificates (source it; bash). After `ca_setup OUTDIR`:
#   $openssl   the openssl command ($OPENSSL or openssl)
#   $work      a scratch directory inside OUTDIR, removed on exit
#   $start     three days ago: certificates start there, so a fresh build is valid on every clock
#   $work/ca.cnf  a minimal `openssl ca` set-up (subject: optional O, then CN); append the extension
#                 sections the script signs with
# `ca_sign CSR OUT EXTENSIONS END [issuer options]` signs a request, printing openssl's log on failure.

ca_setup() {
    openssl=${OPENSSL:-openssl}
    mkdir -p "$1"
    work=$(mktemp -d "$1/.work.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    umask 077
    start=$(date -u -d '-3 days' +%Y%m%d%H%M%SZ)
    touch "$work/index.txt"
    echo 1000 >"$work/serial"
    cat >"$work/ca.cnf" <<CNF
[ ca ]
default_ca = build
[ build ]
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
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = unused
CNF
}

ca_sign() {
    local csr=$1 result=$2 extensions=$3 end=$4
    shift 4
    "$openssl" ca -batch -notext -config "$work/ca.cnf" "$@" -in "$csr" -startdate "$start" -enddate "$end" \
        -extensions "$extensions" -out "$result" 2>"$work/ca.log" || { cat "$work/ca.log" >&2; exit 1; }
}
