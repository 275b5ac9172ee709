#!/usr/bin/env python3
"""Writes blinky.hex: a small firmware-like Intel HEX image (Cortex-M vector table with
the LPC boot-ROM checksum word, code, and an embedded version record), deterministically."""
import random
import struct

random.seed(1)
SIZE = 3 * 1024
image = bytearray(random.randbytes(SIZE))
vectors = [0x10002000, 0x000000C1] + [0x000000C9] * 5
vectors.append((-sum(vectors)) & 0xFFFFFFFF)  # the boot ROM wants the first 8 words to add up to 0
image[0:32] = struct.pack("<8I", *vectors)
record = b" ***\0BLINKY\0" + b"1.2.3\0" + b"(c) Kestramon\0" + b"2026-01-01\0" + b"***\0"
record += bytes([9, 3, 0, 2, 1, 0, 0, 0, 0])  # packed little-endian version block, no flags
image[0x400:0x400 + len(record)] = record

lines = []
for offset in range(0, SIZE, 16):
    chunk = image[offset:offset + 16]
    body = bytes([len(chunk), offset >> 8, offset & 0xFF, 0]) + chunk
    lines.append(":%s%02X" % (body.hex().upper(), (-sum(body)) & 0xFF))
lines.append(":00000001FF")
with open("blinky.hex", "w", newline="") as out:
    out.write("".join(line + "\r\n" for line in lines))
