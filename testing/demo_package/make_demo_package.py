#!/usr/bin/env python3
"""Makes the demo browser package: a 7z archive that the installer installs.

    make_demo_package.py --installer installer.exe --engine installer_engine.dll
                         --browser browser.exe --launcher launcher.exe
                         --browser-name velmo.exe --output package.7z

The package holds the package's own installer (host and engine), the
browser and its launcher, a few hundred KB of resources in subfolders, and
"files_list", the files the installer copies into the version folder (one
relative path a line, CRLF). The resources are generated from a fixed seed,
so the same inputs always give the same files.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

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


def make_tree(args, tree):
    listed = []
    for source, name in ((args.browser, args.browser_name), (args.installer, "installer.exe"),
                         (args.engine, "installer_engine.dll")):
        shutil.copyfile(source, os.path.join(tree, name))
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
    with open(os.path.join(tree, "files_list"), "wb") as f:
        f.write(b"".join(name.encode() + b"\r\n" for name in listed))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("--installer", "--engine", "--browser", "--launcher", "--browser-name",
                 "--output"):
        parser.add_argument(name, required=True)
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
        subprocess.run(["7zz", "a", "-t7z", "-mx=5", "-mmt=1", partial, "."], cwd=tree,
                       check=True, stdout=subprocess.DEVNULL)
        os.replace(partial, output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
