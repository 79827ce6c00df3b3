#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz harnesses (corpus/<harness>/seed-*).

Run from anywhere; regression inputs found later go beside the seeds by hand. With
CODARA set to a built codara tool, also the extended protocols' frames."""
import os
import re
import struct
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, '..', 'samples')


def crc32_slow(data, crc=0xFFFFFFFF):
    # The kit's CRC-32 (lib/libcrc): the configuration image and firmware images use it.
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            top = crc & 0x40000000
            crc = (crc << 2) & 0xFFFFFFFF
            if top:
                crc ^= 0x04C11DB7
    return crc


def put(harness, name, data):
    d = os.path.join(HERE, 'corpus', harness)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, 'seed-' + name), 'wb') as f:
        f.write(data)


def sample_edges(path):
    text = open(path).read()
    return [int(n) for n in re.findall(r'\d+', text) if 0 < int(n) < 65536]


def config_image(records):
    body = struct.pack('<II', 0x3F, 15) + struct.pack('<I', 0)
    for k, te in enumerate(records):
        body += struct.pack('<III', k + 1, te, 0xFFFFFFFF) + bytes([0xFF, 1, 0, 4 + k])
    head = struct.pack('<I', 0xDEADBEEF) + bytes([1, 0, 0, 0]) + struct.pack('<I', len(records))
    return head + struct.pack('<I', crc32_slow(body)) + body


def fw_image(size=192, version=2, name=b'ZIVRA-STD', encrypted=1):
    h = struct.pack('<IIIII', 0xBABECAFE, version, 121 if version == 2 else 110, 0, size)
    h += struct.pack('<HHHIH', 4, 10, 2, 0xC0FFEE, 0)
    h += name.ljust(30, b'\0') + b'release'.ljust(10, b'\0') + b'ci'.ljust(10, b'\0')
    h += b'arm'.ljust(10, b'\0') + b'main'.ljust(10, b'\0')
    if version == 2:
        h += bytes([encrypted, 0x55]) + bytes(8) + struct.pack('<II', 1767225600, 0) + bytes([0xFF])
    else:
        h += struct.pack('<II', 1767225600, 0)
    img = bytearray(h.ljust(size, b'\xA5'))
    struct.pack_into('<I', img, 12, crc32_slow(img[256:size]))
    return bytes(img)


def main():
    for f in ['encoded/NEC-0xF708FB04.mode2', 'encoded/RC5-0x0535.irctl', 'encoded/SONY12-0x09500000.pronto',
              'hand/xmp.irctl', 'hand/sony.raw', 'hand/panasonic.pronto']:
        put('capture_decode', os.path.basename(f), open(os.path.join(SAMPLES, f), 'rb').read())

    seq = b''
    for f in ['encoded/NEC-0xF708FB04.mode2', 'encoded/RC5-0x0535.mode2', 'encoded/RC5-0x0535.mode2',
              'encoded/RC6_0-0x800C.mode2', 'encoded/SONY12-0x09500000.mode2']:
        e = sample_edges(os.path.join(SAMPLES, f))[:255]
        chunk = bytes([len(e)]) + struct.pack('<H', 110) + b''.join(struct.pack('<H', v) for v in e)
        put('decode_sequence', os.path.basename(f), chunk)
        seq += chunk
    put('decode_sequence', 'mixed', seq)
    put('decode_extended', 'core-mixed', seq)

    # Two successive frames of each extended protocol (toggles advance), one
    # capture each, cut at the gap that follows a frame.
    codara = os.environ.get('CODARA')
    for proto in (['SHARP', 'DENON', 'NOKIA', 'RC6_6A_20', 'RC6_6A_24', 'RC6_6A_32', 'RC6_MCE', 'ORTEK', 'TDC',
                   'JVC', 'SAMSUNG32'] if codara else []):
        text = subprocess.run([codara, 'encode', '-f', 'mode2', '-n', '2', proto, '0x1234'], check=True,
                              capture_output=True, text=True).stdout
        seq, frame = b'', []
        for kind, value in (line.split() for line in text.splitlines()):
            if kind == 'space' and int(value) >= 15000:
                seq += bytes([len(frame)]) + struct.pack('<H', 110) + b''.join(struct.pack('<H', v) for v in frame)
                frame = []
            else:
                frame.append(int(value))
        put('decode_extended', proto, seq)

    for f in ['encoded/NEC-0xF708FB04.pronto', 'hand/rc5.pronto']:
        text = open(os.path.join(SAMPLES, f)).read()
        words = [int(w, 16) for w in re.findall(r'\b[0-9A-Fa-f]{4}\b', re.sub(r'#.*', '', text))]
        put('pronto', os.path.basename(f), bytes([1]) + b''.join(struct.pack('<H', w) for w in words))

    put('config', 'current-4.0', bytes([0]) + config_image([300, 310, 600]))
    put('config', 'current-4.5', bytes([5]) + config_image([300]))
    put('config', 'legacy', bytes([3]) + struct.pack('>H', 9) + bytes([1, 2, 3, 4, 5, 6, 7]))

    put('firmware', 'v2-bl3.3', bytes([3]) + fw_image(encrypted=0))
    put('firmware', 'v1-bl3.0', bytes([0x04]) + fw_image(version=1))
    put('firmware', 'v2-bl3.2-own', bytes([0x06]) + fw_image(448))

    # A well-behaved dongle: every command answered with status 0 and the payload
    # given; "getversion" first (4.9 application, 3.3 bootloader).
    ok = lambda payload=b'': bytes([4]) + payload.ljust(20, b'\0')
    app = bytes([0]) + ok(struct.pack('<HHH', 4, 9, 0)) + ok() * 40
    put('device', 'app-4.9', app)
    put('device', 'bootloader-3.3', bytes([1]) + ok(struct.pack('<HHH', 3, 3, 0)) + ok() * 40)
    put('device', 'app-4.9-ir', app[:22] + bytes([2]) + bytes(64) + ok() * 10)


if __name__ == '__main__':
    main()
