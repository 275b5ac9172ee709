"""Spans of a vorlo-sim wire log: where a READ or VERIFY began and ended, and how long
its bytes take on the line.

    phases.py LOG BITS START [END]

START and END name the host request that opens and closes the span:
  rom-read     the boot ROM's "R a n" command line
  routine-R    a 9-byte 'R' request of Vorlo's routine (53 for 'S')
  routine-S
  bsl-rx       an MSP430 RX Data Block packet (80 .. 00 10)
  bsl-crc      an MSP430 CRC Check packet (80 06 00 16), after the last RX Data Block
Prints the seconds from START to END (or to the end of the log) and the line time of
every byte in between at the rate then in force (BITS bits a byte)."""
import sys

log, bits, start_kind = sys.argv[1], int(sys.argv[2]), sys.argv[3]
end_kind = sys.argv[4] if len(sys.argv) > 4 else None

chunks = []  # (time, direction, bytes, rate)
rate = 115200
for text in open(log):
    f = text.split()
    if len(f) < 2:
        continue
    if f[1] == "#" and "line rate" in text and "from here on" in text:
        rate = int(f[4])
    if f[1] in ("H>T", "T>H"):
        chunks.append((float(f[0]), f[1], bytes(int(b, 16) for b in f[2:]), rate))


def is_kind(chunk, kind):
    _, direction, data, _ = chunk
    if direction != "H>T":
        return False
    if kind == "rom-read":
        return data.startswith(b"R ")
    if kind in ("routine-R", "routine-S"):
        return len(data) == 9 and data[0] == ord(kind[-1])
    if kind == "bsl-rx":
        return data[:1] == b"\x80" and data[3:4] == b"\x10"
    if kind == "bsl-crc":
        return data.startswith(b"\x80\x06\x00\x16")
    raise SystemExit("unknown kind " + kind)


first = 0
if start_kind == "bsl-crc":  # the verify's checks follow the last block written
    first = max((i for i, c in enumerate(chunks) if is_kind(c, "bsl-rx")), default=0)
begin = next(i for i in range(first, len(chunks)) if is_kind(chunks[i], start_kind))
if start_kind == "bsl-rx":  # the write's first block is behind the erase
    pass
stop = len(chunks)
if end_kind:
    if end_kind == "bsl-crc":
        last_rx = max(i for i, c in enumerate(chunks) if is_kind(c, "bsl-rx"))
        stop = next(i for i in range(last_rx, len(chunks)) if is_kind(chunks[i], "bsl-crc"))
    else:
        stop = next(i for i in range(begin + 1, len(chunks)) if is_kind(chunks[i], end_kind))
span = chunks[begin:stop]
seconds = span[-1][0] - span[0][0]
line = sum(len(c[2]) * bits / c[3] for c in span)
print(f"{seconds:.3f} {line:.3f}")
