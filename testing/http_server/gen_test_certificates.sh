#!/usr/bin/env bash
# Makes a throw-away test root and a server certificate for "localhost"
# issued by it, for the HTTPS tests:
#   gen_test_certificates.sh OUT_DIR
# OUT_DIR/root.der is what a test adds to the Wine prefix's root store;
# server.pem and server.key are what the test server presents.
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Velmo Test Root" \
  -keyout root.key -out root.pem -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr 2>/dev/null
printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' > server.ext
openssl x509 -req -in server.csr -CA root.pem -CAkey root.key -CAcreateserial -days 3650 \
  -extfile server.ext -out server.pem 2>/dev/null
openssl x509 -in root.pem -outform DER -out root.der
rm -f server.csr server.ext root.srl
