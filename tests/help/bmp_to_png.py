#!/usr/bin/python3
"""Converts a 24-bit uncompressed BMP (as the help screenshot writes it) to PNG,
with nothing but the standard library: bmp_to_png.py IN.bmp OUT.png"""
import struct
import sys
import zlib


def main(source, target):
    data = open(source, 'rb').read()
    if data[:2] != b'BM':
        sys.exit(f'{source}: not a BMP file')
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height, _, bits, compression = struct.unpack_from('<iiHHI', data, 18)
    if bits != 24 or compression != 0:
        sys.exit(f'{source}: only 24-bit uncompressed pictures')
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        # Rows are stored bottom-up when the height is positive, pixels as BGR.
        source_row = abs(height) - 1 - y if height > 0 else y
        start = offset + source_row * stride
        bgr = data[start:start + width * 3]
        rgb = bytearray(len(bgr))
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(b'\x00' + bytes(rgb))

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))

    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', width, abs(height), 8, 2, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(b''.join(rows), 9))
    png += chunk(b'IEND', b'')
    open(target, 'wb').write(png)


if __name__ == '__main__':
    main(*sys.argv[1:])
