#!/usr/bin/env bash
# Builds the Authenticode test fixtures from one small unsigned PE image:
#   make_fixtures.sh <unsigned image> <output folder> <expected signer name>
# A throw-away test CA issues two code-signing certificates, one for the
# expected signer and one for another signer; osslsigncode signs copies:
#   signed_expected.exe   primary signature by the expected signer
#   nested_expected.exe   primary by the other signer, nested by the expected one
#   tampered.exe          signed_expected.exe with one image byte flipped
#   unsigned.exe          the image as built
#   signed_other.exe      primary signature by the other signer only
#   pasted_nested.exe     signed_other.exe carrying, as its nested signature, a
#                         valid signature by the expected signer of another file
#   truncated.exe         signed_expected.exe cut inside its optional header
#   other_image_expected.exe  the other file that pasted signature belongs to
#   nested_third.exe      primary by the other signer, nested by a third one
#   nested_lookalike.exe  primary by the other signer, nested by a signer whose
#                         name begins with the expected name and goes on
#   test_root_ca.cer      the test CA's certificate (DER), which tests may
#                         trust explicitly
#   expected_signer.chain.pem, expected_signer.key
#                         the expected signer's certificate chain and key
# Only the openssl and osslsigncode command-line tools are used.
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: $0 <unsigned image> <output folder> <expected signer>" >&2
  exit 2
fi
IMAGE=$1
OUT=$2
EXPECTED=$3
OTHER="Other Test Signer Ltd"
THIRD="Third Test Signer Ltd"
LOOKALIKE="$EXPECTED Lookalike"

mkdir -p "$OUT"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# openssl refuses a "/" inside a subject value written in -subj form; the
# names used here never contain one.
subj() { printf '/C=NO/O=%s/CN=%s' "$1" "$1"; }

cat >"$WORK/ca.ext" <<'EOF'
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
EOF
cat >"$WORK/signer.ext" <<'EOF'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EOF

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -keyout "$WORK/ca.key" -out "$WORK/ca.pem" -subj "$(subj 'Velmo Test Root CA')" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null

make_signer() {  # <name> <file prefix>
  openssl req -new -newkey rsa:2048 -nodes -sha256 \
    -keyout "$WORK/$2.key" -out "$WORK/$2.csr" -subj "$(subj "$1")" 2>/dev/null
  openssl x509 -req -sha256 -days 3650 -in "$WORK/$2.csr" \
    -CA "$WORK/ca.pem" -CAkey "$WORK/ca.key" -CAcreateserial \
    -extfile "$WORK/signer.ext" -out "$WORK/$2.pem" 2>/dev/null
  cat "$WORK/$2.pem" "$WORK/ca.pem" >"$WORK/$2.chain.pem"
}
make_signer "$EXPECTED" expected
make_signer "$OTHER" other
make_signer "$THIRD" third
make_signer "$LOOKALIKE" lookalike
# The expected signer's chain and key stay, for signing installers in tests.
cp "$WORK/expected.chain.pem" "$OUT/expected_signer.chain.pem"
cp "$WORK/expected.key" "$OUT/expected_signer.key"

sign() {  # <signer prefix> <in> <out> [extra osslsigncode options...]
  local who=$1 in=$2 out=$3
  shift 3
  rm -f "$out"
  osslsigncode sign -certs "$WORK/$who.chain.pem" -key "$WORK/$who.key" -h sha256 \
    -n "Velmo test fixture" "$@" -in "$in" -out "$out" >/dev/null
}

# Flips the byte at <offset> of <file> in place.
flip_byte() {  # <file> <offset>
  local old
  old=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((old ^ 0xFF)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# The offset of the "PE\0\0" signature (e_lfanew, little-endian at 0x3C).
pe_offset() {
  local b
  read -r -a b <<<"$(od -An -tu1 -j 60 -N4 "$1")"
  echo $((b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24))
}

# The file offset of the first section's raw data: far enough from the
# headers and the signature for a flipped byte to touch only the image.
first_section_offset() {
  local pe opt_size b
  pe=$(pe_offset "$1")
  read -r -a b <<<"$(od -An -tu1 -j $((pe + 20)) -N2 "$1")"
  opt_size=$((b[0] | b[1] << 8))
  # Section header: PointerToRawData sits 20 bytes in.
  read -r -a b <<<"$(od -An -tu1 -j $((pe + 24 + opt_size + 20)) -N4 "$1")"
  echo $((b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24))
}

cp "$IMAGE" "$WORK/unsigned.exe"
SECTION=$(first_section_offset "$WORK/unsigned.exe")

# (a) the expected signer.
sign expected "$WORK/unsigned.exe" "$WORK/signed_expected.exe"
# (e) another signer.
sign other "$WORK/unsigned.exe" "$WORK/signed_other.exe"
# (b) another signer, then the expected signer nested.
sign expected "$WORK/signed_other.exe" "$WORK/nested_expected.exe" -nest
# (b') another signer, then a third or a look-alike of the expected one
# nested: both chains are as trusted as the expected signer's, only the
# name tells them apart.
sign third "$WORK/signed_other.exe" "$WORK/nested_third.exe" -nest
sign lookalike "$WORK/signed_other.exe" "$WORK/nested_lookalike.exe" -nest
# (c) one image byte flipped after signing.
cp "$WORK/signed_expected.exe" "$WORK/tampered.exe"
flip_byte "$WORK/tampered.exe" $((SECTION + 64))
# (f) a different image signed by the expected signer; its signature is
# pasted as the nested signature of the other signer's file.
cp "$WORK/unsigned.exe" "$WORK/other_image.exe"
flip_byte "$WORK/other_image.exe" $((SECTION + 32))
sign expected "$WORK/other_image.exe" "$WORK/other_image_expected.exe"
osslsigncode extract-signature -in "$WORK/other_image_expected.exe" \
  -out "$WORK/other_image.p7" >/dev/null
# attach-signature -nest appends a detached PKCS#7 to the primary signature's
# unauthenticated attributes; it does not check the pasted signature against
# this file's digest before writing. It then verifies the result and, the
# pasted digest not matching this file (the point of the fixture), reports
# "Signature mismatch" with a failing status: judge the output instead.
osslsigncode attach-signature -sigin "$WORK/other_image.p7" -nest \
  -in "$WORK/signed_other.exe" -out "$WORK/pasted_nested.exe" >/dev/null 2>&1 || true
if [[ ! -s "$WORK/pasted_nested.exe" ]] ||
  (($(stat -c %s "$WORK/pasted_nested.exe") <= $(stat -c %s "$WORK/signed_other.exe"))); then
  echo "$0: attaching the pasted nested signature failed" >&2
  exit 1
fi
# (g) cut inside the optional header, before the certificate-table entry.
head -c $(($(pe_offset "$WORK/signed_expected.exe") + 100)) "$WORK/signed_expected.exe" \
  >"$WORK/truncated.exe"

for f in signed_expected nested_expected tampered unsigned signed_other pasted_nested \
  truncated other_image_expected nested_third nested_lookalike; do
  cp "$WORK/$f.exe" "$OUT/$f.exe"
done
openssl x509 -in "$WORK/ca.pem" -outform DER -out "$OUT/test_root_ca.cer"
