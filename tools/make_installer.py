#!/usr/bin/env python3
"""Makes an installer executable that carries a payload behind its image.

    make_installer.py --image installer.exe --output out.exe
                      (--package package.7z | --tracking-data data.bin)
                      [--sign-cert chain.pem --sign-key key.pem]

The payload goes into a trailer at the end of the file:
    "VLM" | payload | payload length (unsigned 32-bit, little-endian)
--package carries a 7z archive (the offline installer), --tracking-data the
bytes the net installer sends to the package server. Zero bytes before the
magic make the file a multiple of 8 bytes long, the alignment of an
Authenticode certificate table: signed afterwards (--sign-cert/--sign-key,
through osslsigncode), the trailer lies directly before the certificate
table and the signature covers it.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

MAGIC = b"VLM"
CERTIFICATE_ALIGNMENT = 8


def build_trailer(image_size, payload):
    """The bytes to append to an image of image_size bytes."""
    if len(payload) > 0xFFFFFFFF:
        raise ValueError("a payload holds at most 4 GiB - 1 bytes")
    unpadded = image_size + len(MAGIC) + len(payload) + 4
    padding = -unpadded % CERTIFICATE_ALIGNMENT
    return b"\0" * padding + MAGIC + payload + struct.pack("<I", len(payload))


def sign(path, cert, key, output):
    """Signs path into output with osslsigncode (SHA-256)."""
    if os.path.exists(output):
        os.remove(output)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                    "-n", "Velmo installer", "-in", path, "-out", output],
                   check=True, stdout=subprocess.DEVNULL)


def make_installer(image, output, payload, cert=None, key=None):
    with open(image, "rb") as f:
        data = f.read()
    data += build_trailer(len(data), payload)
    out_dir = os.path.dirname(os.path.abspath(output))
    os.makedirs(out_dir, exist_ok=True)
    if cert is None:
        with open(output, "wb") as f:
            f.write(data)
        return
    with tempfile.NamedTemporaryFile(dir=out_dir, suffix=".unsigned", delete=False) as f:
        f.write(data)
        unsigned = f.name
    try:
        sign(unsigned, cert, key, output)
    finally:
        os.remove(unsigned)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--image", required=True)
    parser.add_argument("--output", required=True)
    kind = parser.add_mutually_exclusive_group(required=True)
    kind.add_argument("--package")
    kind.add_argument("--tracking-data")
    parser.add_argument("--sign-cert")
    parser.add_argument("--sign-key")
    args = parser.parse_args()
    if (args.sign_cert is None) != (args.sign_key is None):
        parser.error("--sign-cert and --sign-key go together")
    with open(args.package or args.tracking_data, "rb") as f:
        payload = f.read()
    if args.package and not payload.startswith(b"7z\xbc\xaf\x27\x1c"):
        parser.error(args.package + " is not a 7z archive")
    make_installer(args.image, args.output, payload, args.sign_cert, args.sign_key)
    return 0


if __name__ == "__main__":
    sys.exit(main())
