#!/usr/bin/env python3
"""Writes resources/windows/kvuflash.ico, the programs' icon on Windows: the window's own mark
(app/logo.cpp) as kv_make_icon draws it for the Linux desktops, at 16, 24, 32, 48 and 256
pixels, each kept as the PNG it drew. The Windows build has no Qt to draw it, so the icon is
kept in the sources; run this again when the mark changes.
Usage: tools/make-icon.py KV_MAKE_ICON [OUTPUT]   (KV_MAKE_ICON: build/kv_make_icon)"""
import os
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

SIZES = (16, 24, 32, 48, 256)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = Path(sys.argv[2] if len(sys.argv) > 2 else Path(__file__).resolve().parent.parent
               / "resources" / "windows" / "kvuflash.ico")
    with tempfile.TemporaryDirectory() as drawn:
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        subprocess.run([sys.argv[1], drawn] + [str(s) for s in SIZES], check=True, env=env)
        images = [(s, (Path(drawn) / f"{s}x{s}" / "apps" / "kvuflash.png").read_bytes())
                  for s in SIZES]
    # The icon directory: one 16-byte entry per image, then the images; 256 is written as 0.
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    out.write_bytes(header + entries + data)
    print(f"{out}: {len(images)} sizes, {out.stat().st_size} bytes")


if __name__ == "__main__":
    main()
