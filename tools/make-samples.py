#!/usr/bin/env python3
"""Writes the sample firmware files that `make run` offers: small enough to watch, real enough to
exercise every road (extended linear addresses, firmware and FPGA regions, a binary image)."""
import random
import sys
from pathlib import Path


def hex_line(count, offset, rtype, data):
    body = bytes([count, offset >> 8, offset & 0xFF, rtype]) + bytes(data)
    check = (-sum(body)) & 0xFF
    return ":" + body.hex().upper() + f"{check:02X}"


def intel_hex(chunks):
    """chunks: list of (address, bytes). Linear addressing, 16 data bytes a line."""
    lines, base = [], None
    for address, data in chunks:
        for i in range(0, len(data), 16):
            a = address + i
            if base != a >> 16:
                base = a >> 16
                lines.append(hex_line(2, 0, 4, [base >> 8, base & 0xFF]))
            part = data[i:i + 16]
            lines.append(hex_line(len(part), a & 0xFFFF, 0, part))
    lines.append(":00000001FF")
    return "\n".join(lines) + "\n"


def main(out):
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    rng = random.Random(410)
    # A small upload: 24 pages of firmware and 8 of FPGA data, a few seconds on the line.
    small = [(0x010000, bytes(rng.randrange(256) for _ in range(24 * 128))),
             (0x060000, bytes(rng.randrange(256) for _ in range(8 * 128)))]
    (out / "demo-small.hex").write_text(intel_hex(small))
    # A large upload: 1024 pages, so the unit reboots and its checksums are compared.
    large = [(0x010000, bytes(rng.randrange(256) for _ in range(768 * 128))),
             (0x1D0000, bytes(rng.randrange(256) for _ in range(256 * 128)))]
    (out / "demo-large.hex").write_text(intel_hex(large))
    # A binary image: the first 16 pages hold data, the rest is erased flash.
    image = bytearray(b"\xff" * (64 * 1024))
    image[0x0000:0x0800] = bytes(rng.randrange(256) for _ in range(0x800))
    (out / "demo-image.bin").write_bytes(bytes(image))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "samples")
