#!/usr/bin/env python3
"""Writes the hand-made sample captures in samples/hand/.

Each frame is laid out here from the protocol's nominal timings (nothing comes from
libcodara), then given the distortion a real IR receiver adds: marks come out a little
longer and spaces a little shorter, with some noise.  The output is deterministic.

Run from anywhere:  python3 samples/handmade.py
"""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "hand")


def merge(pulses):
    """Signed pulses (+mark, -space) to an edge list beginning with a mark."""
    edges, level = [], None
    for p in pulses:
        lv = p > 0
        if not edges and not lv:
            continue  # silence before the first mark
        if lv == level:
            edges[-1] += abs(p)
        else:
            edges.append(abs(p))
            level = lv
    if len(edges) % 2 == 0:
        edges.pop()  # the space after the last mark is silence
    return edges


def lsb_bits(value, n):
    return [(value >> i) & 1 for i in range(n)]


def msb_bits(value, n):
    return [(value >> i) & 1 for i in reversed(range(n))]


# ---- frames from nominal timings (microseconds) -------------------------------------------

def nec(b0, b1, b2, b3, leader=9000):
    p = [leader, -4500]
    for byte in (b0, b1, b2, b3):
        for bit in lsb_bits(byte, 8):
            p += [560, -(1690 if bit else 560)]
    return merge(p + [560])


def nec48(*six):
    p = [9000, -4500]
    for byte in six:
        for bit in lsb_bits(byte, 8):
            p += [560, -(1690 if bit else 560)]
    return merge(p + [560])


NEC_REPEAT = [9000, 2250, 560]


def rc5(toggle, address, command):
    # Start bits 1 1, toggle, 5 address bits, 6 command bits; 1 = space then mark.
    bits = [1, 1, toggle] + msb_bits(address, 5) + msb_bits(command, 6)
    p = []
    for b in bits:
        p += [-889, 889] if b else [889, -889]
    return merge(p)


def rc6(toggle, address, command):
    # Leader, start bit 1, mode 000, double-width toggle, 16 data bits; 1 = mark then space.
    p = [2664, -888]
    for i, b in enumerate([1, 0, 0, 0, toggle] + msb_bits(address, 8) + msb_bits(command, 8)):
        t = 888 if i == 4 else 444
        p += [t, -t] if b else [-t, t]
    return merge(p)


def sony(bits_count, command, device, subdevice=0):
    # 7 command bits then the device (and sub-device) bits, least significant first.
    if bits_count == 12:
        bits = lsb_bits(command, 7) + lsb_bits(device, 5)
    elif bits_count == 15:
        bits = lsb_bits(command, 7) + lsb_bits(device, 8)
    else:
        bits = lsb_bits(command, 7) + lsb_bits(device, 5) + lsb_bits(subdevice, 8)
    p = [2400, -600]
    for b in bits:
        p += [1200 if b else 600, -600]
    return merge(p)


def panasonic(d, s, f):
    p = [3600, -1600]
    for byte in (0x02, 0x20, d, s, f, d ^ s ^ f):
        for bit in lsb_bits(byte, 8):
            p += [445, -(1335 if bit else 445)]
    return merge(p + [445])


def xmp(nibbles):
    # 16 nibbles: each a 210 mark and a space whose length carries the value; a 13800 gap
    # after the first eight.
    p = []
    for i, n in enumerate(nibbles):
        p += [210, -(693 + 136 * n)]
        if i == 7:
            p += [210, -13800]
    return merge(p + [210])


def xmp_frame(sub, oem, device, toggle, obc1, obc2):
    n = [sub >> 4, 0, sub & 15, 0, oem >> 4, oem & 15, device >> 4, device & 15,
         sub >> 4, 0, toggle, sub & 15, obc1 >> 4, obc1 & 15, obc2 >> 4, obc2 & 15]
    n[1] = -sum(n[0:8]) % 16  # checksum nibbles: each half sums to 0 mod 16
    n[9] = -sum(n[8:16]) % 16
    return xmp(n)


def zivra(scancode):
    # Leader, 8 ID bits (bit 19 first; 840 mark, 840 space for 1, 1680 for 0), 2800 of
    # silence, then DEV and CMD (bit 11 first) Manchester-coded with half-bit 840,
    # 1 = space then mark.
    p = [4900, -4900]
    for b in msb_bits(scancode >> 12, 8):
        p += [840, -(840 if b else 1680)]
    p.append(-2800)
    for b in msb_bits(scancode & 0xFFF, 12):
        p += [-840, 840] if b else [840, -840]
    return merge(p)


# ---- receiver distortion and the file formats ---------------------------------------------

rng = random.Random(20261208)


def received(edges):
    """Marks lengthen and spaces shorten by the same amount, plus a little noise."""
    d = rng.randint(20, 60)
    return [max(1, e + (d if i % 2 == 0 else -d) + rng.randint(-12, 12)) for i, e in enumerate(edges)]


def mode2(frames, gaps):
    lines = ["space 16777215"]
    for frame, gap in zip(frames, gaps):
        for i, e in enumerate(frame):
            lines.append(("pulse %d" if i % 2 == 0 else "space %d") % e)
        lines.append("space %d" % gap)
    return "\n".join(lines) + "\n"


def irctl(frame):
    return " ".join(("+%d" if i % 2 == 0 else "-%d") % e for i, e in enumerate(frame)) + " # timeout 125000"


def raw(frame, sep=" "):
    return sep.join(str(e) for e in frame)


def pronto(once, repeat=None, gap=40000, freq_word=0x006D):
    unit = freq_word * 0.241246
    def words(frame):
        w = [max(1, round(e / unit)) for e in frame + [gap]]
        return w
    o = words(once) if once else []
    r = words(repeat) if repeat else []
    all_words = [0, freq_word, len(o) // 2, len(r) // 2] + o + r
    return " ".join("%04X" % w for w in all_words)


def write(name, text):
    with open(os.path.join(OUT, name), "w") as f:
        f.write(text)


def main():
    os.makedirs(OUT, exist_ok=True)
    nec_full = received(nec(0x04, 0xFB, 0x08, 0xF7))
    write("nec32-04-08.mode2", "# NEC: address 0x04, command 0x08, then one repeat frame\n" +
          mode2([nec_full, received(NEC_REPEAT)], [39000, 96000]))
    write("nec-family.irctl", "\n".join([
        "# NECx: bytes 04 12 08 F7 with a 4500 us leader",
        irctl(received(nec(0x04, 0x12, 0x08, 0xF7, leader=4500))),
        "# plain NEC: the same bytes with a 9000 us leader",
        irctl(received(nec(0x04, 0x12, 0x08, 0xF7))),
        "# Apple: second byte 0x87",
        irctl(received(nec(0xEE, 0x87, 0x5D, 0x2B))),
        "# NEC48: d 0x12 s 0x34, f 0x56 and e 0x78 each followed by its complement",
        irctl(received(nec48(0x12, 0x34, 0x56, 0xA9, 0x78, 0x87))),
    ]) + "\n")
    write("nec32-04-08.pronto", "# NEC address 0x04 command 0x08: once sequence and repeat sequence\n" +
          pronto(nec(0x04, 0xFB, 0x08, 0xF7), NEC_REPEAT, gap=40000) + "\n")
    write("rc5.irctl", "# RC5 address 5 command 0x35, toggle 1 then toggle 0\n" +
          irctl(received(rc5(1, 5, 0x35))) + "\n" + irctl(received(rc5(0, 5, 0x35))) + "\n")
    write("rc5.pronto", "# RC5 address 0x1F command 0x3F, toggle 0, at 36 kHz\n" +
          pronto(rc5(0, 0x1F, 0x3F), gap=89000, freq_word=0x0073) + "\n")
    write("rc6.raw", "# RC6 mode 0: address 0x80 command 0x0C (toggle 0), address 0x04 command 0x21 (toggle 1)\n" +
          raw(received(rc6(0, 0x80, 0x0C))) + "\n" + raw(received(rc6(1, 0x04, 0x21)), ", ") + "\n")
    write("sony.raw", "\n".join([
        "# Sony 12-bit: device 1, command 0x15",
        raw(received(sony(12, 0x15, 1))),
        "# Sony 15-bit: device 0x97, command 0x1A",
        raw(received(sony(15, 0x1A, 0x97))),
        "# Sony 20-bit: device 0x1A, sub-device 0x49, command 0x39",
        raw(received(sony(20, 0x39, 0x1A, 0x49))),
    ]) + "\n")
    write("sony12.mode2", "# Sony 12-bit device 1 command 0x15, sent three times\n" +
          mode2([received(sony(12, 0x15, 1)) for _ in range(3)], [25000, 25000, 100000]))
    write("panasonic.pronto", "# Panasonic D 0x08 S 0x00 F 0x3D, at 36.7 kHz\n" +
          pronto(panasonic(0x08, 0x00, 0x3D), gap=70000, freq_word=0x0071) + "\n")
    write("xmp.irctl", "# XMP: sub-address 0x1F, OEM 0x44, device 0x0A, OBC1 0x2C, OBC2 0x00, toggle 0\n" +
          irctl(received(xmp_frame(0x1F, 0x44, 0x0A, 0, 0x2C, 0x00))) + "\n")
    write("zivra.mode2", "# Device-own remote: ID 0x2A, DEV 1, CMD 0x35 (scancode 0x2A135)\n" +
          mode2([received(zivra(0x2A135))], [28000]))


if __name__ == "__main__":
    main()
