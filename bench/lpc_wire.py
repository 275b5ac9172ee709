"""What an LPC programming run cannot go below, read from vorlo-sim's wire log: the bytes
the host sent at the line's byte rate (the rate as the log says it changed), plus the erase
and copy times the simulator models (an erase 400 ms on the LPC21xx/22xx, 100 ms on the
others; 1 ms per 256 bytes copied or written), whether the boot ROM or a routine on the
emulated CPU did them."""


def minimum_seconds(log, classic=False):
    seconds, rate, erase_ms, flash_bytes = 0.0, 115200, 0, 0
    for line in open(log):
        f = line.split()
        if len(f) < 2:
            continue
        if f[1] == "H>T":
            seconds += (len(f) - 2) * 10 / rate
        elif f[1] == "#":
            text = " ".join(f[2:])
            if "line rate" in text and "from here on" in text:
                rate = int(text.split()[2])
            # The boot ROM's erase; the routine's through the IAP: "IAP command 52 (first,
            # last, clock)", its copies "IAP command 51 (flash, ram, count, clock)".
            if ("erase" in text and "sectors" in text) or text.startswith("lpc_isp: emu: IAP command 52"):
                erase_ms += 400 if classic else 100
            if text.startswith("lpc_isp: copy "):
                flash_bytes += int(text.split()[2])
            if text.startswith("lpc_isp: emu: IAP command 51"):
                flash_bytes += int(text.split("(")[1].split(",")[2])
    return seconds + erase_ms / 1000 + flash_bytes / 256 / 1000
