#!/usr/bin/env bash
# Soak test of rq410-sim: one simulator, a scripted client doing upload after upload (with
# some records damaged on the line), each checked through the remote control's sums. Prints the
# simulator's memory before and after, and checks that SIGTERM stops it with its dump written.
#
#   tools/sim-soak.sh [SECONDS] [SIM]      default: 3600 seconds, build/sim/rq410-sim
set -euo pipefail

seconds=${1:-3600}
sim=${2:-build/sim/rq410-sim}
[ -x "$sim" ] || { echo "sim-soak: no simulator at $sim (build it, or give its path)" >&2; exit 2; }

work=$(mktemp -d /tmp/rq410-soak.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$sim" --erase-ms 50 --reboot-ms 50 --corrupt-records 0.05 --seed 42 \
  --dump "$work/flash.bin" >"$work/out.txt" 2>"$work/err.txt" &
pid=$!
for _ in $(seq 50); do [ -s "$work/out.txt" ] && break; sleep 0.1; done
pty=$(head -n1 "$work/out.txt")
rss() { awk '/VmRSS/ {print $2}' "/proc/$pid/status"; }
echo "sim pid $pid on $pty; RSS before: $(rss) kB"

python3 - "$pty" "$seconds" "$work/image.bin" <<'PY'
import os, sys, termios, time, select, random
path, seconds, image_path = sys.argv[1], float(sys.argv[2]), sys.argv[3]
fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
attrs = termios.tcgetattr(fd)
attrs[0] = 0; attrs[1] = 0; attrs[3] = 0
attrs[2] = termios.CS8 | termios.CREAD | termios.CLOCAL
attrs[6][termios.VMIN] = 0; attrs[6][termios.VTIME] = 0
def speed(b):
    attrs[4] = attrs[5] = b
    termios.tcsetattr(fd, termios.TCSANOW, attrs)
def read_until(text, timeout=5.0):
    got = b''; end = time.time() + timeout
    while text not in got:
        left = end - time.time()
        if left <= 0: raise SystemExit('soak: no %r, got %r' % (text, got[-60:]))
        r, _, _ = select.select([fd], [], [], left)
        if r: got += os.read(fd, 4096)
    return got
def record(addr, data):
    r = b'%06X' % addr + data
    return r + bytes([sum(r) & 0xFF])
rnd = random.Random(7)
image = bytearray(b'\xff' * (4 << 20))
runs = resends = records = swr_retries = 0
start = time.time()
while time.time() - start < seconds:
    speed(termios.B38400 if runs % 2 == 0 else termios.B57600)
    os.write(fd, b'U'); read_until(b'READY\r')
    os.write(fd, b'GO\r'); read_until(b'SEND BLOCK\r')
    image[:] = b'\xff' * (4 << 20)
    pages = sorted(rnd.sample(range(0, 16384), 60))
    for p in pages:
        data = bytes(rnd.randrange(256) for _ in range(128))
        image[p * 128:(p + 1) * 128] = data
        while True:
            os.write(fd, record(p * 128, data))
            answer = read_until(b'\r')
            if answer == b'SEND BLOCK\r': break
            if answer != b'RESEND BLOCK\r': raise SystemExit('soak: unexpected %r' % answer)
            resends += 1
        records += 1
    os.write(fd, b'UPLOAD DONE\r'); read_until(b'THANK YOU\r')
    speed(termios.B9600); time.sleep(0.1)
    for attempt in range(20):  # as the uploader does: ask again until the rebooted unit answers
        os.write(fd, b'<0000/SWR?\r')
        try:
            read_until(b'\n', 1.0); break
        except SystemExit:
            swr_retries += 1
    else:
        raise SystemExit('soak: no answer to SWR? after 20 queries')
    os.write(fd, b'<0000/FCS?\r'); reply = read_until(b'\n')
    def s(ranges): return sum(sum(image[a:b + 1]) for a, b in ranges) & 0xFFFF
    want = b'>0000/FCS=Boot:%04X Main:%04X FPGA:%04X\r\n' % (
        s([(0, 0xEFFF)]), s([(0x10000, 0x5FFFF), (0x1C0000, 0x1CFFFF)]),
        s([(0x60000, 0x7FFFF), (0xA0000, 0x1BFFFF), (0x1D0000, 0x1FFFFF)]))
    if reply != want: raise SystemExit('soak: FCS %r, expected %r' % (reply, want))
    runs += 1
open(image_path, 'wb').write(image)
print('soak: %d uploads, %d records, %d asked again, %d SWR? repeated, %.0f s' % (
    runs, records, resends, swr_retries, time.time() - start))
PY

echo "RSS after: $(rss) kB"
kill -TERM "$pid"
status=0; wait "$pid" || status=$?
[ "$status" -eq 0 ] || { echo "sim-soak: simulator exited with $status" >&2; cat "$work/err.txt" >&2; exit 1; }
cmp -s "$work/flash.bin" "$work/image.bin" || { echo "sim-soak: the dump differs from the last image" >&2; exit 1; }
tail -n1 "$work/out.txt"
echo "sim-soak: stopped cleanly on SIGTERM, dump matches the last upload"
