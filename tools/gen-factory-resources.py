#!/usr/bin/env python3
"""Writes the stand-ins for the four factory resources into resources/factory/ and checks them.

We do not have the maker's loaders, bootstrap program and flash code, so the factory upload
carries stand-ins with the same shape: the two loaders as hex texts, the bootstrap program and
the flash code as Intel HEX images. Their bytes are pseudo-random from fixed seeds, except for
the dialogue texts in the bootstrap program and a few bytes chosen so that the figures the
program's tests expect (line checksums, record count, boot checksum ...) come out exactly.

    tools/gen-factory-resources.py            write the four files, then check every figure
    tools/gen-factory-resources.py --check    check that the committed files are what this
                                              script writes, and every figure of them
    --dir DIR                                 another folder than resources/factory

Exits non-zero when a file differs or a figure does not hold. Standard library only.
"""
import argparse
import hashlib
import random
import sys
from pathlib import Path

DEFAULT_DIR = Path(__file__).resolve().parent.parent / "resources" / "factory"

# The texts the loaded bootstrap program speaks in the flash-loader dialogue, in the order of
# its string table. Those ending in ": " are completed by a value and a CR when spoken.
DIALOGUE_TEXTS = [
    b"SEND BLOCK\r", b"ERASE COMPLETE\r", b"GO\r", b"ERASING...\r", b"ERASE BLOCK TIMEOUT: ",
    b"RESEND BLOCK\r", b"UPLOAD COMPLETE. PLEASE CYCLE POWER.\r", b"ERASE ERROR: ",
    b"UPLOAD FAILED\r", b"INVALID START\r", b"READY\r", b"BLOCK BASE INDEX: ", b"THANK YOU\r",
]

LOADER_SEED = 0x161
BOOT_SEED = 0x080000
FLASH_SEED = 410

# Bootstrap program: 12 bytes of vectors at 000000, the program at 080000.
BOOT_VECTOR_BYTES = 12
BOOT_VECTOR_CHECKSUM = 0x0F
BOOT_PROGRAM_UPPER = 0x0008
BOOT_PROGRAM_SIZE = 3272
BOOT_TEXT_TABLE_AT = 0x0B1A  # offset of the string table in the program
BOOT_ZERO_CHECK_LINE = 7  # the one line whose checksum is 00

# Flash code: data ranges per segment, as (first, last) address fields.
FLASH_SEGMENTS = [
    (0x0000, [(0x0000, 0x00BF), (0x0110, 0x030F), (0x0400, 0x1883)]),
    (0x1000, [(0x0008, 0x00C7), (0x0118, 0x0127), (0x01F8, 0x029D)]),
]
FACTORY_PAGES = 512
PAGE = 128
FIRST_RECORD_CHECKSUM = 0x8F
BOOT_CHECKSUM_TEXT = "1503"
FLASH_RECORD_FIX_AT = 0x007E  # page 0 byte that sets the first record's checksum
FLASH_SUM_FIX_AT = 0x1000  # page 32 byte that sets the boot checksum

END_LINE = ":00000001FF"


def hex_line(count, offset, rtype, data=b""):
    body = bytes([count, offset >> 8, offset & 0xFF, rtype]) + bytes(data)
    return ":" + body.hex().upper() + f"{(-sum(body)) & 0xFF:02X}"


def code_bytes(rng, n):
    """Pseudo-random bytes with the zero byte as common as machine code has it (1 in 32)."""
    out = bytearray(rng.getrandbits(8 * n).to_bytes(n, "little")) if n else bytearray()
    for i in range(n):
        if rng.getrandbits(5) == 0:
            out[i] = 0
    return out


def data_lines(base, data, width=16):
    return [hex_line(len(data[i:i + width]), base + i, 0, data[i:i + width])
            for i in range(0, len(data), width)]


def fix_byte_for_line_sum(buf, at, line_sum_wanted, line_sum_now):
    """Changes buf[at] so that a line's byte sum (mod 256) becomes line_sum_wanted."""
    buf[at] = (buf[at] + line_sum_wanted - line_sum_now) & 0xFF


# ---------------------------------------------------------------- making the files

def make_loaders():
    rng = random.Random(LOADER_SEED)
    loader1 = [code_bytes(rng, 32).hex().upper()]
    loader2 = [code_bytes(rng, n).hex().upper() for n in (56, 56, 60)]
    return loader1, loader2


def make_bootstrap():
    rng = random.Random(BOOT_SEED)
    # The vectors begin with a segment jump to 08:0000, where the program lies.
    vectors = bytearray([0xFA, BOOT_PROGRAM_UPPER, 0x00, 0x00])
    vectors += code_bytes(rng, BOOT_VECTOR_BYTES - len(vectors))
    head = BOOT_VECTOR_BYTES  # count byte; address 0000 and type 00 add nothing
    fix_byte_for_line_sum(vectors, BOOT_VECTOR_BYTES - 1, (-BOOT_VECTOR_CHECKSUM) & 0xFF,
                          (head + sum(vectors)) & 0xFF)

    program = code_bytes(rng, BOOT_PROGRAM_SIZE)
    table = b"".join(t + b"\0" for t in DIALOGUE_TEXTS)
    program[BOOT_TEXT_TABLE_AT:BOOT_TEXT_TABLE_AT + len(table)] = table
    text_bytes = range(BOOT_TEXT_TABLE_AT, BOOT_TEXT_TABLE_AT + len(table))

    # Exactly one line answers with a zero check byte: line 7 (the fourth program line).
    zero_line = BOOT_ZERO_CHECK_LINE - 4
    for n, at in enumerate(range(0, BOOT_PROGRAM_SIZE, 16)):
        chunk = program[at:at + 16]
        line_sum = (len(chunk) + (at >> 8) + (at & 0xFF) + sum(chunk)) & 0xFF
        free = [i for i in range(at + len(chunk) - 1, at - 1, -1) if i not in text_bytes]
        if n == zero_line:
            fix_byte_for_line_sum(program, free[0], 0, line_sum)
        elif line_sum == 0:
            if not free:
                sys.exit("gen-factory-resources: a line of texts alone has checksum 00; "
                         "move BOOT_TEXT_TABLE_AT")
            fix_byte_for_line_sum(program, free[0], 1, line_sum)

    lines = [hex_line(2, 0, 4, [0, 0]), hex_line(BOOT_VECTOR_BYTES, 0, 0, vectors),
             hex_line(2, 0, 4, BOOT_PROGRAM_UPPER.to_bytes(2, "big"))]
    lines += data_lines(0, program)
    lines.append(END_LINE)
    return lines


def flash_lines_from(image_of_segment):
    lines = []
    for segment, ranges in FLASH_SEGMENTS:
        lines.append(hex_line(2, 0, 2, segment.to_bytes(2, "big")))
        for first, last in ranges:
            lines += data_lines(first, image_of_segment[segment][first:last + 1])
    lines.append(END_LINE)
    return lines


def make_flashcode():
    # Pseudo-random code from the first seed whose boot checksum one byte can bring to the
    # figure, so that no run of chosen bytes stands out in the image.
    for seed in range(FLASH_SEED, FLASH_SEED + 10000):
        rng = random.Random(seed)
        segs = {}
        for segment, ranges in FLASH_SEGMENTS:
            top = ranges[-1][1] + 1
            buf = bytearray(b"\xff" * top)
            for first, last in ranges:
                buf[first:last + 1] = code_bytes(rng, last - first + 1)
            segs[segment] = buf
        low = segs[0x0000]
        low[0:4] = bytes([0xFA, 0x00, 0x00, 0x04])  # reset vector: jump to the code at 0400

        record_sum = (sum(b"000000") + sum(low[0:PAGE])) & 0xFF
        fix_byte_for_line_sum(low, FLASH_RECORD_FIX_AT, FIRST_RECORD_CHECKSUM, record_sum)

        image = convert_flashcode(flash_lines_from(segs))
        delta = (int(BOOT_CHECKSUM_TEXT, 16) - boot_sum(image)) & 0xFFFF
        if delta >= 0x8000:
            delta -= 0x10000
        wanted = low[FLASH_SUM_FIX_AT] + delta
        if 0 <= wanted <= 0xFF:
            low[FLASH_SUM_FIX_AT] = wanted
            return flash_lines_from(segs)
    sys.exit("gen-factory-resources: no seed gives the flash code's boot checksum")


# ---------------------------------------------------------------- reading and checking

class Checker:
    def __init__(self):
        self.failures = []
        self.figures = []

    def expect(self, ok, what):
        if not ok:
            self.failures.append(what)
        return ok

    def figure(self, text):
        self.figures.append(text)


def parse_hex_line(line):
    """Returns (count, offset, type, data, checksum) of a well-formed line, or None."""
    if (len(line) < 11 or len(line) % 2 == 0 or line[0] != ":"
            or any(c not in "0123456789ABCDEF" for c in line[1:])):
        return None
    raw = bytes.fromhex(line[1:])
    count, offset, rtype = raw[0], (raw[1] << 8) | raw[2], raw[3]
    data, checksum = raw[4:-1], raw[-1]
    if len(data) != count or (sum(raw) & 0xFF) != 0:
        return None
    return count, offset, rtype, data, checksum


def check_hex_texts(chk, name, lines, lengths):
    if not chk.expect(len(lines) == len(lengths),
                      f"{name}: {len(lines)} lines, expected {len(lengths)}"):
        return
    for n, (text, length) in enumerate(zip(lines, lengths), 1):
        chk.expect(len(text) == length and all(c in "0123456789ABCDEF" for c in text),
                   f"{name} line {n}: expected {length} upper-case hex digits")


def boot_frame(line):
    """The frame bytes and expected check byte (None: not answered) that a line goes out as."""
    count, offset, rtype, data, checksum = parse_hex_line(line)
    if rtype == 0:
        return bytes([0, count, offset >> 8, offset & 0xFF]) + data, checksum
    if rtype == 4:
        return bytes([4, data[1]]), (checksum + 2) & 0xFF
    return bytes([1]), None


def check_bootstrap(chk, lines):
    name = "bootstrap.hex"
    if not chk.expect(len(lines) == 209, f"{name}: {len(lines)} lines, expected 209"):
        return
    parsed = [parse_hex_line(line) for line in lines]
    bad = [n for n, p in enumerate(parsed, 1) if p is None]
    if not chk.expect(not bad, f"{name}: malformed lines {bad[:5]}"):
        return
    chk.expect(lines[0] == ":020000040000FA", f"{name} line 1 is {lines[0]}")
    chk.expect(lines[2] == ":020000040008F2", f"{name} line 3 is {lines[2]}")
    chk.expect(lines[208] == END_LINE, f"{name} line 209 is {lines[208]}")
    count, offset, rtype, _, checksum = parsed[1]
    chk.expect((count, offset, rtype, checksum) == (12, 0, 0, 0x0F),
               f"{name} line 2: expected 12 data bytes at 0000 with checksum 0F")

    program = bytearray()
    for n in range(4, 209):
        count, offset, rtype, data, _ = parsed[n - 1]
        expected = 8 if n == 208 else 16
        chk.expect(rtype == 0 and count == expected and offset == len(program),
                   f"{name} line {n}: expected {expected} data bytes at {len(program):04X}")
        program += data
    chk.expect(len(program) == BOOT_PROGRAM_SIZE,
               f"{name}: {len(program)} program bytes, expected {BOOT_PROGRAM_SIZE}")
    zero = [n for n, p in enumerate(parsed, 1) if p[2] == 0 and p[4] == 0]
    chk.expect(zero == [BOOT_ZERO_CHECK_LINE], f"{name}: lines with checksum 00 are {zero}")
    missing = [t for t in DIALOGUE_TEXTS if t not in program]
    chk.expect(not missing, f"{name}: texts missing at 080000: {missing}")
    chk.expect(all(t.endswith(b"\r") or t.endswith(b": ") for t in DIALOGUE_TEXTS),
               "a dialogue text ends in neither CR nor ': '")

    frames = [boot_frame(line) for line in lines]
    chk.expect(frames[0] == (b"\x04\x00", 0xFC), f"{name} line 1 frame {frames[0]}")
    chk.expect(frames[1][0][:4] == b"\x00\x0c\x00\x00" and len(frames[1][0]) == 16
               and frames[1][1] == 0x0F, f"{name} line 2 frame {frames[1]}")
    chk.expect(frames[2] == (b"\x04\x08", 0xF4), f"{name} line 3 frame {frames[2]}")
    chk.expect(frames[208] == (b"\x01", None), f"{name} line 209 frame {frames[208]}")
    unbalanced = [n for n, (frame, check) in enumerate(frames, 1)
                  if check is not None and (sum(frame) + check) & 0xFF]
    chk.expect(not unbalanced, f"{name}: check bytes that do not balance their frames: "
                               f"lines {unbalanced[:5]}")
    chk.figure(f"{name}: 209 lines; frames 04 00 -> FC, 00 0C 00 00 +12 -> 0F, 04 08 -> F4; "
               f"3272 bytes at 080000-080CC7; line 7 checksum 00 (the only one); "
               f"13 of 13 dialogue texts at 080000 on")


def convert_flashcode(lines):
    """The factory conversion: 512 pages of 0xFF, each data record at segment*16 + address
    (plus any linear base), the image growing past 64 KB; reading stops at the end record."""
    image = bytearray(b"\xff" * (FACTORY_PAGES * PAGE))
    linear = segment = 0
    for line in lines:
        _, offset, rtype, data, _ = parse_hex_line(line)
        if rtype == 0:
            at = linear * 65536 + segment * 16 + offset
            if at + len(data) > len(image):
                image.extend(bytes(at + len(data) - len(image)))
            image[at:at + len(data)] = data
        elif rtype == 1:
            break
        elif rtype == 2:
            segment = int.from_bytes(data[:2], "big")
        elif rtype == 4:
            linear = int.from_bytes(data[:2], "big")
    return image


def boot_sum(image):
    return sum(image[0:480 * PAGE]) & 0xFFFF


def upload_file(image):
    """Records of the first 512 pages that hold anything but 0xFF, and the trailer."""
    firmware = [(512, 3071), (14336, 14847)]
    fpga = [(3072, 4095), (5120, 14335), (14848, 16383)]
    records, pages, sums = bytearray(), [], {"fw": 0, "fpga": 0}
    for p in range(FACTORY_PAGES):
        data = image[p * PAGE:(p + 1) * PAGE]
        for key, regions in (("fw", firmware), ("fpga", fpga)):
            if any(a <= p <= b for a, b in regions):
                sums[key] += sum(data)
        if data == b"\xff" * PAGE:
            continue
        record = f"{p * PAGE:06X}".encode() + data
        records += record + bytes([sum(record) & 0xFF])
        pages.append(p)
    trailer = f"{sums['fw'] & 0xFFFF:04X}{sums['fpga'] & 0xFFFF:04X}".encode()
    return records + trailer, pages


def check_flashcode(chk, lines):
    name = "flashcode.hex"
    if not chk.expect(len(lines) == 400, f"{name}: {len(lines)} lines, expected 400"):
        return
    parsed = [parse_hex_line(line) for line in lines]
    bad = [n for n, p in enumerate(parsed, 1) if p is None]
    if not chk.expect(not bad, f"{name}: malformed lines {bad[:5]}"):
        return
    chk.expect(lines[0] == ":020000020000FC", f"{name} line 1 is {lines[0]}")
    chk.expect(lines[374] == ":020000021000EC", f"{name} line 375 is {lines[374]}")
    chk.expect(lines[399] == END_LINE, f"{name} line 400 is {lines[399]}")
    for (first, last), (segment, ranges) in zip([(2, 374), (376, 399)], FLASH_SEGMENTS):
        covered = []
        for n in range(first, last + 1):
            count, offset, rtype, _, _ = parsed[n - 1]
            chk.expect(rtype == 0, f"{name} line {n} is no data record")
            if covered and covered[-1][1] + 1 == offset:
                covered[-1][1] = offset + count - 1
            else:
                covered.append([offset, offset + count - 1])
        chk.expect([tuple(r) for r in covered] == ranges,
                   f"{name}: segment {segment:04X} covers "
                   + ", ".join(f"{a:04X}-{b:04X}" for a, b in covered))
    counts = [p[0] for p in parsed[1:373] + parsed[375:398]]
    chk.expect(all(c == 16 for c in counts) and parsed[373][0] == 4 and parsed[398][0] == 6,
               f"{name}: records of 16 bytes expected, the last of each segment 4 and 6")
    chk.expect(sum(p[0] for p in parsed[1:374]) == 5956, f"{name}: first segment not 5956 bytes")
    chk.expect(sum(p[0] for p in parsed[375:399]) == 374, f"{name}: second segment not 374 bytes")

    image = convert_flashcode(lines)
    kvu, pages = upload_file(image)
    text = f"{boot_sum(image):04X}"
    chk.expect(pages == list(range(0, 7)) + list(range(8, 50)), f"{name}: record pages {pages}")
    chk.expect(len(kvu) == 6623, f"{name}: upload file of {len(kvu)} bytes, expected 6623")
    chk.expect(kvu[-8:] == b"00000000", f"{name}: trailer {kvu[-8:]!r}")
    chk.expect(len(image) == 66206, f"{name}: binary image of {len(image)} bytes, expected 66206")
    chk.expect(text == BOOT_CHECKSUM_TEXT, f"{name}: boot checksum {text}")
    chk.expect(kvu[0:6] == b"000000" and kvu[134] == FIRST_RECORD_CHECKSUM,
               f"{name}: first record {bytes(kvu[0:6]).decode()}... ends with {kvu[134]:02X}")
    chk.figure(f"{name}: 400 lines; {len(pages)} records (pages 0-6, 8-49), upload file "
               f"{len(kvu)} bytes, trailer {kvu[-8:].decode()}, Reserved.BIN {len(image)} "
               f"bytes, boot checksum {text}, first record 000000... checksum {kvu[134]:02X}")


def check_all(files):
    chk = Checker()
    loader1 = files["loader1.txt"].splitlines()
    loader2 = files["loader2.txt"].splitlines()
    check_hex_texts(chk, "loader1.txt", loader1, [64])
    check_hex_texts(chk, "loader2.txt", loader2, [112, 112, 120])
    chk.figure("loader1.txt: 1 text of 64 digits (32 bytes); "
               "loader2.txt: 3 texts of 112, 112, 120 digits (172 bytes)")
    check_bootstrap(chk, files["bootstrap.hex"].splitlines())
    check_flashcode(chk, files["flashcode.hex"].splitlines())
    return chk


def generate():
    loader1, loader2 = make_loaders()
    as_text = lambda lines: "".join(line + "\n" for line in lines)  # noqa: E731
    return {
        "loader1.txt": as_text(loader1),
        "loader2.txt": as_text(loader2),
        "bootstrap.hex": as_text(make_bootstrap()),
        "flashcode.hex": as_text(make_flashcode()),
    }


STAND_INS = "stand-ins.sha256"


def stand_ins_manifest(wanted):
    """The hashes of the stand-ins: the build compares the files with them, and while they are
    equal a factory run on a real serial device is refused (a real chip would run noise)."""
    return "".join(f"{hashlib.sha256(text.encode()).hexdigest()}  {name}\n"
                   for name, text in wanted.items())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare the files with what would be written, write nothing")
    parser.add_argument("--dir", type=Path, default=DEFAULT_DIR)
    args = parser.parse_args()

    wanted = generate()
    status = 0
    if args.check:
        for name, text in wanted.items():
            path = args.dir / name
            if not path.exists():
                print(f"{path}: missing", file=sys.stderr)
                status = 1
            elif path.read_bytes() != text.encode():
                print(f"{path}: differs from what tools/gen-factory-resources.py writes",
                      file=sys.stderr)
                status = 1
        manifest = args.dir / STAND_INS
        if not manifest.exists() or manifest.read_text() != stand_ins_manifest(wanted):
            print(f"{manifest}: missing or not the stand-ins' hashes", file=sys.stderr)
            status = 1
        if status:
            return status
    else:
        args.dir.mkdir(parents=True, exist_ok=True)
        for name, text in wanted.items():
            (args.dir / name).write_bytes(text.encode())
        (args.dir / STAND_INS).write_text(stand_ins_manifest(wanted))

    chk = check_all({name: (args.dir / name).read_bytes().decode("ascii") for name in wanted})
    for line in chk.failures:
        print(f"FAILED: {line}", file=sys.stderr)
    if chk.failures:
        return 1
    for line in chk.figures:
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
