#!/usr/bin/env python3
"""Makes the demo browser package: a 7z archive that the installer installs.

    make_demo_package.py --installer installer.exe --engine installer_engine.dll
                         --browser browser.exe --launcher launcher.exe
                         --browser-name velmo.exe --output package.7z
                         [--major-delta N] [--extra-files FOLDER --extra-bytes N]
                         [--solid-block-size SIZE] [--tree FOLDER]
                         [--append-line LINE ... [--append-times N]]

The package holds the package's own installer (host and engine), the
browser and its launcher, a few hundred KB of resources in subfolders, and
"files_list", the files the installer copies into the version folder (one
relative path a line, CRLF). The resources are generated from a fixed seed,
so the same inputs always give the same files.

--major-delta makes a package of another version: its installer and engine
report their built-in major version plus N (tools/set_product_version.py).
--extra-files adds the PE files of FOLDER (name order, at least
--extra-bytes of them when given) beside the browser, as a browser's DLLs
sit beside it. --solid-block-size is 7-Zip's solid block limit (e.g. "32m"):
blocks are decoded independently, so several of them unpack in parallel.
--tree keeps the package's files in FOLDER.
--append-line adds LINE ("/" written as "\\") to the end of "files_list", N
times over with --append-times: a package whose list is faulty, for the
tests of its refusal.
--generated-files N adds N generated files of 64 bytes to 190 KiB (sizes
spread evenly on a log scale, text-like or random contents) in nested
folders, listed folder by folder, as documentation, locale files and a
language's standard library sit in a real package; names are lower case,
so no two collide ignoring case.
"""
import argparse
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                                os.pardir, "tools"))
import set_product_version  # noqa: E402

# Subfolder -> (file names, bytes per file).
RESOURCES = {
    "resources": (["browser_resources.pak", "common.pak"], 64 * 1024),
    os.path.join("resources", "locales"): (
        ["%s.pak" % tag for tag in ("en-US", "de", "fr", "nb", "pl", "ja", "zh-CN", "pt-BR")],
        16 * 1024),
    os.path.join("resources", "themes", "default"): (["theme.json", "icons.bin"], 24 * 1024),
}
WORDS = [b"tab", b"window", b"bookmark", b"history", b"download", b"panel", b"speed",
         b"dial", b"note", b"mail", b"feed", b"sync", b"profile", b"search", b"page"]


def resource_bytes(rng, size):
    """Text-like bytes: compressible as real resources are, never empty."""
    out = bytearray()
    while len(out) < size:
        out += rng.choice(WORDS) + b" " + str(rng.randrange(1 << 20)).encode() + b"\n"
    return bytes(out[:size])


def copy_image(source, target, major_delta):
    """Copies an installer image, set to another version when asked."""
    if not major_delta:
        shutil.copyfile(source, target)
        return
    with open(source, "rb") as f:
        image = bytearray(f.read())
    set_product_version.set_major_delta(image, major_delta)
    with open(target, "wb") as f:
        f.write(image)


def extra_files(folder, wanted_bytes, taken):
    """The PE files of folder in name order, until wanted_bytes are reached."""
    total = 0
    for name in sorted(os.listdir(folder)):
        if wanted_bytes and total >= wanted_bytes:
            break
        path = os.path.join(folder, name)
        if name.lower() in taken or not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            if f.read(2) != b"MZ":
                continue
        total += os.path.getsize(path)
        yield path, name
    if total < wanted_bytes:
        sys.exit("only %d bytes of PE files in %s" % (total, folder))


def generated_files(tree, count):
    """count files in nested folders; yields their list names in order."""
    rng = random.Random(20261208)
    corpus = resource_bytes(rng, 1 << 20)
    corpus += corpus  # any slice of up to 1 MiB from any start
    tops = ["lib", "doc", "share"]
    exts = [".py", ".txt", ".html", ".json", ".mo", ".png"]
    for i in range(count):
        # About 400 files a package folder, 40 a module, 8 a part.
        d1, d2, d3 = i // 400, (i // 40) % 10, (i // 8) % 5
        parts = [tops[d1 % len(tops)], "pkg%02d" % d1, "mod%d" % d2, "part%d" % d3]
        ext = exts[rng.randrange(len(exts))]
        name = "file%05d%s" % (i, ext)
        size = int(math.exp(rng.uniform(math.log(64), math.log(190 * 1024))))
        if ext == ".png":
            data = rng.randbytes(size)
        else:
            start = rng.randrange(len(corpus) // 2)
            data = (name.encode() + b"\n" + corpus[start:start + size])[:size]
        folder = os.path.join(tree, *parts)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        yield "\\".join(parts + [name])


def make_tree(args, tree):
    listed = []
    shutil.copyfile(args.browser, os.path.join(tree, args.browser_name))
    listed.append(args.browser_name)
    for source, name in ((args.installer, "installer.exe"), (args.engine, "installer_engine.dll")):
        copy_image(source, os.path.join(tree, name), args.major_delta)
        listed.append(name)
    # Installed into the root of the install folder by the launcher step,
    # so it is not in the list.
    shutil.copyfile(args.launcher, os.path.join(tree, "launcher.exe"))
    rng = random.Random(20261207)
    for folder, (names, size) in sorted(RESOURCES.items()):
        os.makedirs(os.path.join(tree, folder), exist_ok=True)
        for name in names:
            with open(os.path.join(tree, folder, name), "wb") as f:
                f.write(resource_bytes(rng, size))
            listed.append(os.path.join(folder, name).replace(os.sep, "\\"))
    if args.extra_files:
        taken = {name.lower() for name in listed} | {"launcher.exe", "files_list"}
        for path, name in extra_files(args.extra_files, args.extra_bytes, taken):
            shutil.copyfile(path, os.path.join(tree, name))
            listed.append(name)
    if args.generated_files:
        listed.extend(generated_files(tree, args.generated_files))
    listed.extend(line.replace("/", "\\") for line in args.append_line * args.append_times)
    with open(os.path.join(tree, "files_list"), "wb") as f:
        f.write(b"".join(name.encode() + b"\r\n" for name in listed))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("--installer", "--engine", "--browser", "--launcher", "--browser-name",
                 "--output"):
        parser.add_argument(name, required=True)
    parser.add_argument("--major-delta", type=int, default=0)
    parser.add_argument("--extra-files")
    parser.add_argument("--extra-bytes", type=int, default=0)
    parser.add_argument("--solid-block-size")
    parser.add_argument("--tree")
    parser.add_argument("--generated-files", type=int, default=0)
    parser.add_argument("--append-line", action="append", default=[])
    parser.add_argument("--append-times", type=int, default=1)
    args = parser.parse_args()
    output = os.path.abspath(args.output)
    os.makedirs(os.path.dirname(output), exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="velmo-demo-package-") as tmp:
        tree = os.path.join(tmp, "tree")
        os.makedirs(tree)
        make_tree(args, tree)
        partial = output + ".partial"
        if os.path.exists(partial):
            os.remove(partial)
        options = ["-mx=5", "-mmt=1"]
        if args.solid_block_size:
            options = ["-mx=5", "-ms=" + args.solid_block_size, "-mmt=3"]
        subprocess.run(["7zz", "a", "-t7z"] + options + [partial, "."], cwd=tree, check=True,
                       stdout=subprocess.DEVNULL)
        os.replace(partial, output)
        if args.tree:
            if os.path.exists(args.tree):
                shutil.rmtree(args.tree)
            shutil.copytree(tree, args.tree)
    return 0


if __name__ == "__main__":
    sys.exit(main())
