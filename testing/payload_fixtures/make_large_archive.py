#!/usr/bin/env python3
"""Makes a solid 7z archive of about 300 MiB of real PE files:

    make_large_archive.py <output.7z>

The files are the 64-bit Windows DLLs and programs that Wine ships, taken in
name order until 300 MiB are reached. Beside the archive, <output>.txt holds
the number of files and their total size, one per line. 7zz picks its x86
filter for them itself.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

TARGET = 300 * 1024 * 1024
SOURCES = ["/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/wine/x86_64-windows",
           "/usr/lib64/wine/x86_64-windows"]


def main():
    output = os.path.abspath(sys.argv[1])
    source = next((s for s in SOURCES if os.path.isdir(s)), None)
    if source is None:
        sys.exit("no folder of Wine's 64-bit PE files found in " + ", ".join(SOURCES))
    with tempfile.TemporaryDirectory() as work:
        total = count = 0
        for path in sorted(glob.glob(os.path.join(source, "*"))):
            if total >= TARGET:
                break
            if not os.path.isfile(path):
                continue
            with open(path, "rb") as f:
                if f.read(2) != b"MZ":
                    continue
            shutil.copyfile(path, os.path.join(work, os.path.basename(path)))
            total += os.path.getsize(path)
            count += 1
        if total < TARGET:
            sys.exit("only %d bytes of PE files in %s" % (total, source))
        if os.path.exists(output):
            os.remove(output)
        # One solid block as large as 7z allows, fast compression: decoding
        # speed hardly depends on the level.
        subprocess.run(["7zz", "a", "-t7z", "-m0=LZMA2", "-mx=1", "-ms=4g", "-mmt=3", output,
                        "."], cwd=work, check=True, stdout=subprocess.DEVNULL)
    with open(output + ".txt", "w") as f:
        f.write("%d\n%d\n" % (count, total))
    return 0


if __name__ == "__main__":
    sys.exit(main())
