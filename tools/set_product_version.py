#!/usr/bin/env python3
"""Makes a copy of an installer image (host or engine) that reports another
version: its product configuration resource ("TXT" 133, JSON) gets a new
"major_delta", which the engine adds to its built-in major version.

    set_product_version.py --image installer.exe --major-delta 1 --output out.exe

The configuration is rewritten in place in compact form (never longer than
the pretty-printed original) and the resource's size entry is set to the
new length; nothing else of the image changes. Fails when the image has no
such resource or the new text does not fit.
"""
import argparse
import json
import os
import struct
import sys

RESOURCE_TYPE = "TXT"
RESOURCE_ID = 133
RESOURCE_DIRECTORY = 2  # Index of the resource table in the data directories.


def rva_to_offset(sections, rva):
    for virtual_address, raw_size, raw_pointer in sections:
        if virtual_address <= rva < virtual_address + raw_size:
            return rva - virtual_address + raw_pointer
    raise ValueError("RVA 0x%x is in no section" % rva)


def directory_entries(image, offset):
    named, ids = struct.unpack_from("<HH", image, offset + 12)
    for i in range(named + ids):
        name, target = struct.unpack_from("<II", image, offset + 16 + 8 * i)
        yield name, target


def resource_name(image, root, name):
    """The entry's string name, or its numeric id."""
    if not name & 0x80000000:
        return name
    at = root + (name & 0x7FFFFFFF)
    (length,) = struct.unpack_from("<H", image, at)
    return image[at + 2:at + 2 + 2 * length].decode("utf-16-le")


def find_config(image):
    """(offset of the data entry, file offset of the data, size)."""
    (pe,) = struct.unpack_from("<I", image, 0x3C)
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    sections_count, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    (magic,) = struct.unpack_from("<H", image, optional)
    directories = optional + (112 if magic == 0x20B else 96)
    (resource_rva,) = struct.unpack_from("<I", image, directories + 8 * RESOURCE_DIRECTORY)
    sections = []
    for i in range(sections_count):
        at = optional + optional_size + 40 * i
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from(
            "<IIII", image, at + 8)
        sections.append((virtual_address, max(virtual_size, raw_size), raw_pointer))
    root = rva_to_offset(sections, resource_rva)
    found = []
    for type_name, type_target in directory_entries(image, root):
        if resource_name(image, root, type_name) != RESOURCE_TYPE or not type_target & 0x80000000:
            continue
        for id_name, id_target in directory_entries(image, root + (type_target & 0x7FFFFFFF)):
            if resource_name(image, root, id_name) != RESOURCE_ID or not id_target & 0x80000000:
                continue
            for _, language_target in directory_entries(image, root + (id_target & 0x7FFFFFFF)):
                entry = root + language_target
                data_rva, size = struct.unpack_from("<II", image, entry)
                found.append((entry, rva_to_offset(sections, data_rva), size))
    if len(found) != 1:
        raise ValueError("expected one %s %d resource, found %d" %
                         (RESOURCE_TYPE, RESOURCE_ID, len(found)))
    return found[0]


def set_major_delta(image, delta):
    entry, offset, size = find_config(image)
    config = json.loads(bytes(image[offset:offset + size]).decode("utf-8"))
    config["major_delta"] = delta
    text = json.dumps(config, separators=(",", ":"), ensure_ascii=False).encode("utf-8")
    if len(text) > size:
        raise ValueError("the new configuration (%d bytes) does not fit in %d bytes" %
                         (len(text), size))
    image[offset:offset + size] = text + b" " * (size - len(text))
    struct.pack_into("<I", image, entry + 4, len(text))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--image", required=True)
    parser.add_argument("--major-delta", type=int, required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    with open(args.image, "rb") as f:
        image = bytearray(f.read())
    try:
        set_major_delta(image, args.major_delta)
    except (ValueError, struct.error, UnicodeDecodeError, json.JSONDecodeError) as error:
        sys.exit("set_product_version: %s: %s" % (args.image, error))
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    partial = args.output + ".partial"
    with open(partial, "wb") as f:
        f.write(image)
    os.replace(partial, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
