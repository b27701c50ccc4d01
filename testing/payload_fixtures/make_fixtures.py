#!/usr/bin/env python3
"""Builds the payload and 7z test fixtures:

    make_fixtures.py <PE image> <output folder>

Installer files (<output>/*.exe), each the image with a payload trailer made
by tools/make_installer.py, some signed by a throw-away test certificate
through osslsigncode, some damaged on purpose:
    plain.exe                  the image, no trailer
    unsigned_full.exe          7z package at the end, unsigned
    unsigned_tracking.exe      tracking data at the end, unsigned
    unsigned_bad_package.exe   a truncated 7z package at the end, unsigned
    signed_full.exe            7z package before the certificate table
    signed_tracking.exe        tracking data before the certificate table
    signed_full_after.exe      signed, then a 7z package appended at the end
    signed_tracking_after.exe  signed, then tracking data appended at the end
    no_mz.exe                  unsigned_full.exe without "MZ"
    pe_offset_beyond.exe       unsigned_full.exe whose PE header offset lies past the end
    cert_past_end.exe          signed_full.exe whose certificate table starts past the end
    bad_magic.exe              unsigned_full.exe with "VLX" for "VLM"
    bad_length.exe             unsigned_full.exe whose length field is one too large
    length_before_start.exe    unsigned_full.exe whose length points before the file start
Archives (<output>/archives/*.7z) of the tree in <output>/archives/tree (files
with fixed modification times, a PE file, nested and empty folders, an
empty file), in several methods; damaged copies; copies whose entry
names are rewritten to reach outside the unpacking folder, to hold control
characters or to be too long for Windows; blocks and a header that claim
far more than they hold; more entries than a package may have; two
entries that name one file on Windows; and packages that cannot be
installed, each for a cause of its own (see make_unusable_packages).
The tracking data is in tracking_data.bin, the package in package.7z: the
tree with stand-ins (copies of the image) for the package's own installer
and engine.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import make_installer  # noqa: E402

TRACKING_DATA = b"campaign=fixture&partner=velmo&id=0123456789"


def run(*args, **kwargs):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, **kwargs)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def make_tree(root, image):
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "dir", "sub"))
    os.makedirs(os.path.join(root, "emptydir"))
    rng = random.Random(16)
    write(os.path.join(root, "a.txt"), b"The quick brown fox\r\n" * 500)
    write(os.path.join(root, "dir", "sub", "random.bin"), rng.randbytes(200_000))
    write(os.path.join(root, "dir", "empty.txt"), b"")
    # The package's own list of its files, which the fetcher appends to.
    write(os.path.join(root, "files_list"), b"a.txt\r\ndir\\program.exe\r\n")
    shutil.copyfile(image, os.path.join(root, "dir", "program.exe"))
    # Distinct times, a whole number of seconds apart, all in the past.
    stamps = {"a.txt": 1_500_000_000, "dir/sub/random.bin": 1_600_000_000,
              "dir/empty.txt": 1_400_000_000, "dir/program.exe": 1_700_000_000}
    for name, stamp in stamps.items():
        os.utime(os.path.join(root, name), (stamp, stamp))


ARCHIVES = {
    "lzma_solid": ["-m0=LZMA", "-ms=on"],
    "lzma2_nonsolid": ["-m0=LZMA2", "-ms=off"],
    "x86_lzma2_solid": ["-mf=BCJ", "-m0=LZMA2", "-ms=on"],
    "lzma2_plain_header": ["-m0=LZMA2", "-ms=on", "-mhc=off"],
    "bcj2_lzma_solid": ["-mf=BCJ2", "-m0=LZMA", "-ms=on"],
}


def make_archive(tree, output, options):
    if os.path.exists(output):
        os.remove(output)
    run("7zz", "a", "-t7z", "-mtm=on", "-mmt=1", *options, output, ".", cwd=tree)


def fix_start_header(data):
    """Recomputes both CRCs of the start header after the end header changed."""
    next_offset, next_size = struct.unpack_from("<QQ", data, 12)
    header = data[32 + next_offset:32 + next_offset + next_size]
    data[28:32] = struct.pack("<I", zlib.crc32(header))
    data[8:12] = struct.pack("<I", zlib.crc32(bytes(data[12:32])))


def rename_entry(data, old, new):
    """Rewrites one entry name of an archive whose header is not compressed."""
    old16 = old.encode("utf-16-le") + b"\0\0"
    new16 = new.encode("utf-16-le", "surrogatepass") + b"\0\0"
    assert len(old16) == len(new16), (old, new)
    at = data.find(old16)
    assert at >= 0, old
    data[at:at + len(old16)] = new16
    fix_start_header(data)


def encode_number(value):
    """A number in the 7z header's variable-length form."""
    for extra in range(9):
        if extra == 8 or value < 1 << (7 * extra + 7):
            first = (0xFF00 >> extra) & 0xFF
            if extra < 8:
                first |= value >> (8 * extra)
            return bytes([first]) + (value & ((1 << (8 * extra)) - 1)).to_bytes(extra, "little")
    raise ValueError(value)


def decode_number(data, at):
    """The number in the 7z header's variable-length form at |at|."""
    first = data[at]
    for extra in range(9):
        if extra == 8 or not first & (0x80 >> extra):
            high = first & ((0x80 >> extra) - 1) if extra < 8 else 0
            low = int.from_bytes(data[at + 1:at + 1 + extra], "little")
            return low | high << (8 * extra)
    raise ValueError(at)


def empty_entries_archive(names):
    """An archive of empty files named |names|: a start header and a plain
    end header, no packed streams."""
    count = len(names)
    bits = bytes([0xFF] * (count // 8))
    if count % 8:
        bits += bytes([(0xFF << (8 - count % 8)) & 0xFF])
    names16 = b"".join(name.encode("utf-16-le") + b"\0\0" for name in names)
    # kEmptyStream (0x0E) and kEmptyFile (0x0F): every entry is an empty
    # file; kName (0x11), not external (0), the names.
    properties = (b"\x0e" + encode_number(len(bits)) + bits +
                  b"\x0f" + encode_number(len(bits)) + bits +
                  b"\x11" + encode_number(len(names16) + 1) + b"\0" + names16)
    # kHeader, kFilesInfo, the number of entries, the properties, kEnd of
    # both.
    header = b"\x01\x05" + encode_number(count) + properties + b"\0\0"
    data = bytearray(b"7z\xbc\xaf\x27\x1c\x00\x04" + bytes(24))
    struct.pack_into("<QQ", data, 12, 0, len(header))
    data += header
    fix_start_header(data)
    return data


def replace_header_bytes(data, old, new, last=False):
    """Rewrites bytes of an end header as stored (plain, or the description
    of a packed one), which may change its length."""
    next_offset, next_size = struct.unpack_from("<QQ", data, 12)
    start = 32 + next_offset
    header = bytes(data[start:start + next_size])
    at = header.rfind(old) if last else header.find(old)
    assert at >= 0 and header.count(old) >= 1, old
    header = header[:at] + new + header[at + len(old):]
    data = bytearray(data[:start]) + header
    struct.pack_into("<Q", data, 20, len(header))
    fix_start_header(data)
    return data


def make_archives(out, image):
    folder = os.path.join(out, "archives")
    tree = os.path.join(folder, "tree")
    os.makedirs(folder, exist_ok=True)
    make_tree(tree, image)
    for name, options in ARCHIVES.items():
        make_archive(tree, os.path.join(folder, name + ".7z"), options)

    base = read(os.path.join(folder, "lzma2_plain_header.7z"))
    # Names of the same length as "a.txt" (5 characters) replace it.
    for name, evil in {"slip_parent": "..\\.x", "slip_drive": "C:\\xx",
                       "slip_unc": "\\\\s\\x", "slip_stream": "a.t:x",
                       "slip_rooted": "\\a.tx", "slip_device": "NUL.x",
                       "slip_dot": ".\\a.x", "bad_utf16": "a\ud800txt"}.items():
        data = bytearray(base)
        rename_entry(data, "a.txt", evil)
        write(os.path.join(folder, name + ".7z"), data)

    # One file whose block claims 100 GB, and an archive claiming 10^9
    # entries: neither may make the extractor allocate or write that much.
    single = os.path.join(folder, "single")
    os.makedirs(single, exist_ok=True)
    write(os.path.join(single, "one.txt"), b"0123456789" * 1000)
    make_archive(single, os.path.join(folder, "single.7z"), ["-m0=LZMA", "-mhc=off"])
    data = read(os.path.join(folder, "single.7z"))
    # kCodersUnpackSize (0x0C) then the block's size.
    write(os.path.join(folder, "huge_size.7z"),
          replace_header_bytes(data, b"\x0c" + encode_number(10000),
                               b"\x0c" + encode_number(100 * 10**9)))
    # The names property (kName, 0x11): its size, "not external" (0), then
    # the names in UTF-16 with a null after each.
    one = "one.txt".encode("utf-16-le") + b"\0\0"
    for name, replacement in {"empty_name": "", "long_name": "a" * 40000}.items():
        names = replacement.encode("utf-16-le") + b"\0\0"
        write(os.path.join(folder, name + ".7z"),
              replace_header_bytes(data, b"\x11" + encode_number(len(one) + 1) + b"\0" + one,
                                   b"\x11" + encode_number(len(names) + 1) + b"\0" + names))
    one300 = ("b" * 300).encode("utf-16-le") + b"\0\0"
    write(os.path.join(folder, "name_300.7z"),
          replace_header_bytes(data, b"\x11" + encode_number(len(one) + 1) + b"\0" + one,
                               b"\x11" + encode_number(len(one300) + 1) + b"\0" + one300))
    # A packed end header (the tree's is, a single file's would not be)
    # that claims to unpack to 1 GiB: it must be refused before that much
    # is set aside for it. Its unpacked size is the one after
    # kCodersUnpackSize (0x0C).
    data = read(os.path.join(folder, "lzma_solid.7z"))
    next_offset, next_size = struct.unpack_from("<QQ", data, 12)
    encoded = data[32 + next_offset:32 + next_offset + next_size]
    assert encoded[0] == 0x17, "kEncodedHeader"
    sizes = encoded.index(b"\x0c") + 1
    unpacked = decode_number(encoded, sizes)
    write(os.path.join(folder, "header_claim.7z"),
          replace_header_bytes(data, b"\x0c" + encode_number(unpacked),
                               b"\x0c" + encode_number(1 << 30)))
    # More entries than any package holds (the last one leading outside, so
    # that an extractor without the bound refuses it for that at once
    # rather than writing 50,000 files first), and one entry of two names
    # of 200 characters each, a path no Windows path below a folder can
    # hold.
    write(os.path.join(folder, "too_many_entries.7z"),
          empty_entries_archive(["e%05d" % i for i in range(50000)] + ["..\\x"]))
    write(os.path.join(folder, "long_path.7z"),
          empty_entries_archive(["d" * 200 + "\\" + "f" * 200]))
    # A plain header whose 1,000 names take 34 MB, and the copy of them the
    # decoder keeps as much again: each allocation within the open's budget
    # (64 MiB), both together not.
    write(os.path.join(folder, "header_sum.7z"),
          empty_entries_archive(["n%04d" % i + "x" * 16995 for i in range(1000)]))
    # A name of 250 characters, short enough for Windows alone: only below
    # the unpacking folder does its path grow too long.
    write(os.path.join(folder, "long_path_below.7z"),
          empty_entries_archive(["d" * 120 + "\\" + "f" * 129]))
    # Control characters in a name are shown escaped in the log.
    data_ctl = bytearray(base)
    rename_entry(data_ctl, "a.txt", "a\x01t\x7fx")
    write(os.path.join(folder, "slip_control.7z"), data_ctl)
    make_lying_archives(folder)
    make_unusable_packages(folder, image)
    tree_data = read(os.path.join(folder, "lzma2_plain_header.7z"))
    entries = sum(len(d) + len(f) for _, d, f in os.walk(tree))
    # kEnd of the streams, then kFilesInfo (0x05) and the number of entries.
    write(os.path.join(folder, "many_entries.7z"),
          replace_header_bytes(tree_data, b"\x00\x05" + encode_number(entries),
                               b"\x00\x05" + encode_number(10**9), last=True))

    solid = read(os.path.join(folder, "lzma_solid.7z"))
    write(os.path.join(folder, "truncated.7z"), solid[:len(solid) // 2])
    # A flipped byte in the packed stream: the decoder or the CRC check fails.
    data = bytearray(solid)
    data[32 + 100] ^= 0x55
    write(os.path.join(folder, "flipped_stream.7z"), data)
    # A flipped byte in the end header: its CRC no longer matches.
    data = bytearray(solid)
    next_offset = struct.unpack_from("<Q", data, 12)[0]
    data[32 + next_offset + 2] ^= 0x55
    write(os.path.join(folder, "flipped_header.7z"), data)
    # Packed data intact, but the stored CRC of a file is wrong.
    data = bytearray(base)
    crc = struct.pack("<I", zlib.crc32(read(os.path.join(tree, "a.txt"))))
    at = data.find(crc, 32 + struct.unpack_from("<Q", data, 12)[0])
    assert at >= 0
    data[at] ^= 0xFF
    fix_start_header(data)
    write(os.path.join(folder, "bad_crc.7z"), data)

    # Many small solid blocks, which the extractor decodes in parallel, and
    # the same archive with a byte of its last block flipped.
    blocks = os.path.join(folder, "blocks")
    shutil.rmtree(blocks, ignore_errors=True)
    os.makedirs(os.path.join(blocks, "sub", "deeper"))
    os.makedirs(os.path.join(blocks, "emptydir"))
    rng = random.Random(17)
    words = [b"tab", b"window", b"panel", b"speed", b"dial", b"note", b"mail", b"feed"]
    for i in range(24):
        text = b"".join(rng_word + b" %d\n" % rng.randrange(1 << 20)
                        for rng_word in (words[rng.randrange(len(words))] for _ in range(20000)))
        path = os.path.join(blocks, "sub" if i % 2 else "", "deeper" if i % 3 == 0 else "",
                            "part%02d.txt" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path, text)
    write(os.path.join(blocks, "sub", "empty.txt"), b"")
    make_archive(blocks, os.path.join(folder, "many_blocks.7z"),
                 ["-m0=LZMA2", "-ms=3f", "-mhc=off"])
    data = bytearray(read(os.path.join(folder, "many_blocks.7z")))
    next_offset = struct.unpack_from("<Q", data, 12)[0]
    data[32 + next_offset - 200] ^= 0x55
    write(os.path.join(folder, "many_blocks_late_damage.7z"), data)
    return make_package(folder, tree, image)


def make_package(folder, tree, image):
    """package.7z: the tree with the package's installer and engine (copies
    of the image standing in for both) beside it."""
    package = os.path.join(folder, "package")
    shutil.rmtree(package, ignore_errors=True)
    shutil.copytree(tree, package)
    for name in ("installer.exe", "installer_engine.dll"):
        shutil.copyfile(image, os.path.join(package, name))
    output = os.path.join(folder, "package.7z")
    make_archive(package, output, ARCHIVES["lzma_solid"])
    return output


def make_unusable_packages(folder, image):
    """Archives that unpack to no installable package, each for one cause:
        empty.7z             an archive without entries (as 7-Zip writes one)
        signature_only.7z    the six bytes of the 7z signature and nothing else
        no_installer.7z      the tree: files, but no installer.exe
        empty_installer.7z   a 0-byte installer.exe
        empty_engine.7z      an installer.exe, but a 0-byte engine beside it
        file_and_folder.7z   a file "x" and a file "x\\y" below a folder "x"
        trailing_space.7z    a file in the folder "dir " (Windows drops the
                             space when it makes the folder)
        deflate.7z           a file packed with Deflate, which the decoder
                             does not know
        encrypted_header.7z  a catalogue encrypted with a password
        unknown_header_coder.7z  a catalogue packed with an unknown method"""
    empty = bytearray(b"7z\xbc\xaf\x27\x1c\x00\x04" + bytes(24))
    fix_start_header(empty)
    write(os.path.join(folder, "empty.7z"), empty)
    write(os.path.join(folder, "signature_only.7z"), b"7z\xbc\xaf\x27\x1c")
    shutil.copyfile(os.path.join(folder, "lzma_solid.7z"), os.path.join(folder, "no_installer.7z"))
    for name, installer, engine in (("empty_installer", False, True),
                                    ("empty_engine", True, False)):
        source = os.path.join(folder, name)
        shutil.rmtree(source, ignore_errors=True)
        os.makedirs(source)
        write(os.path.join(source, "files_list"), b"installer.exe\r\n")
        write(os.path.join(source, "installer.exe"), read(image) if installer else b"")
        write(os.path.join(source, "installer_engine.dll"), read(image) if engine else b"")
        make_archive(source, os.path.join(folder, name + ".7z"), ARCHIVES["lzma_solid"])
    write(os.path.join(folder, "file_and_folder.7z"), empty_entries_archive(["x", "x\\y"]))
    write(os.path.join(folder, "trailing_space.7z"),
          empty_entries_archive(["dir \\file.txt"]))
    make_archive(os.path.join(folder, "single"), os.path.join(folder, "deflate.7z"),
                 ["-m0=Deflate", "-mhc=off"])
    # A catalogue the decoder cannot unpack: encrypted (with a password),
    # and packed with a method no 7z writer knows (LZMA's id, 030101,
    # rewritten in the description of the packed catalogue).
    make_archive(os.path.join(folder, "single"), os.path.join(folder, "encrypted_header.7z"),
                 ["-m0=LZMA", "-pvelmo", "-mhe=on"])
    write(os.path.join(folder, "unknown_header_coder.7z"),
          replace_header_bytes(read(os.path.join(folder, "lzma_solid.7z")), b"\x23\x03\x01\x01",
                               b"\x23\x7f\x7f\x7f"))


def make_lying_archives(folder):
    """Blocks whose header claims far more than their data holds, and two
    entries that name one file on Windows, each in a block of its own:
        lying_copy.7z     a stored 2,000,000-byte file that claims 4,000,000,000
        lying_lzma.7z     4 MB of LZMA-packed random bytes that claim 500 MB,
                          well within what LZMA could produce from that much
        lying_bcj2.7z     2 MB through BCJ2 (and LZMA) whose BCJ2 coder
                          claims 4,000,000,000 bytes from what its inputs hold
        same_name.7z      "installer.exe" and "INSTALLER.EXE" (non-solid)"""
    rng = random.Random(18)
    # The block's size follows kCodersUnpackSize (0x0C) when its coder
    # comes first; the BCJ2 coder comes last, before kEnd (0) and
    # kSubStreamsInfo (8).
    for name, size, claim, options, before, after in (
            ("lying_copy", 2_000_000, 4_000_000_000, ["-m0=Copy"], b"\x0c", b""),
            ("lying_lzma", 4_000_000, 500_000_000, ["-m0=LZMA"], b"\x0c", b""),
            ("lying_bcj2", 2_000_000, 4_000_000_000, ["-mf=BCJ2", "-m0=LZMA"], b"", b"\x00\x08")):
        source = os.path.join(folder, name)
        shutil.rmtree(source, ignore_errors=True)
        os.makedirs(source)
        write(os.path.join(source, "payload.bin"), rng.randbytes(size))
        output = os.path.join(folder, name + ".7z")
        make_archive(source, output, options + ["-mhc=off"])
        old = before + encode_number(size) + after
        data = read(output)
        assert data.count(old) == 1, name
        write(output, replace_header_bytes(data, old, before + encode_number(claim) + after))
    same = os.path.join(folder, "same_name")
    shutil.rmtree(same, ignore_errors=True)
    os.makedirs(same)
    write(os.path.join(same, "installer.exe"), rng.randbytes(50_000))
    write(os.path.join(same, "INSTALLER.EXE"), b"hello")
    make_archive(same, os.path.join(folder, "same_name.7z"), ["-m0=LZMA2", "-ms=off"])


def make_certificate(out):
    key = os.path.join(out, "test_signer.key")
    cert = os.path.join(out, "test_signer.pem")
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
        "-keyout", key, "-out", cert, "-subj", "/C=NO/O=Velmo Payload Test/CN=Velmo Payload Test",
        "-addext", "extendedKeyUsage=codeSigning", stderr=subprocess.DEVNULL)
    return cert, key


def patch(src, dst, offset, data):
    content = bytearray(read(src))
    content[offset:offset + len(data)] = data
    write(dst, content)


def main():
    image, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    package = make_archives(out, image)
    shutil.copyfile(package, os.path.join(out, "package.7z"))
    payload = read(package)
    write(os.path.join(out, "tracking_data.bin"), TRACKING_DATA)
    cert, key = make_certificate(out)
    exe = lambda name: os.path.join(out, name + ".exe")  # noqa: E731

    shutil.copyfile(image, exe("plain"))
    make_installer.make_installer(image, exe("unsigned_full"), payload)
    make_installer.make_installer(image, exe("unsigned_tracking"), TRACKING_DATA)
    make_installer.make_installer(image, exe("unsigned_bad_package"),
                                  read(os.path.join(out, "archives", "truncated.7z")))
    make_installer.make_installer(image, exe("signed_full"), payload, cert, key)
    make_installer.make_installer(image, exe("signed_tracking"), TRACKING_DATA, cert, key)
    signed_plain = os.path.join(out, "signed_plain.exe")
    make_installer.sign(image, cert, key, signed_plain)
    signed = read(signed_plain)
    write(exe("signed_full_after"), signed + make_installer.build_trailer(len(signed), payload))
    write(exe("signed_tracking_after"),
          signed + make_installer.build_trailer(len(signed), TRACKING_DATA))

    full = exe("unsigned_full")
    size = os.path.getsize(full)
    patch(full, exe("no_mz"), 0, b"XZ")
    patch(full, exe("pe_offset_beyond"), 60, struct.pack("<I", size + 16))
    pe = struct.unpack_from("<I", read(exe("signed_full")), 60)[0]
    machine = struct.unpack_from("<H", read(exe("signed_full")), pe + 4)[0]
    entry = pe + (152 if machine == 0x14C else 168)
    patch(exe("signed_full"), exe("cert_past_end"), entry,
          struct.pack("<I", os.path.getsize(exe("signed_full")) + 8))
    magic_at = size - 4 - len(payload) - 3
    patch(full, exe("bad_magic"), magic_at, b"VLX")
    patch(full, exe("bad_length"), size - 4, struct.pack("<I", size - 4 - 3 + 1))
    patch(full, exe("length_before_start"), size - 4, struct.pack("<I", 0xFFFFFFF0))
    return 0


if __name__ == "__main__":
    sys.exit(main())
