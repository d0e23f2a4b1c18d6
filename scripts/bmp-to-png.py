#!/usr/bin/env python3
"""Converts an uncompressed 24-bit Windows bitmap into a PNG, with the
standard library only: bmp-to-png.py IN.bmp OUT.png"""
import struct
import sys
import zlib


def main(source: str, target: str) -> int:
    with open(source, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        print(f"bmp-to-png: {source} is not a bitmap", file=sys.stderr)
        return 1
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _planes, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits != 24 or compression != 0:
        print(f"bmp-to-png: {source}: only uncompressed 24-bit bitmaps", file=sys.stderr)
        return 1
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        source_row = y if height < 0 else abs(height) - 1 - y
        start = offset + source_row * stride
        bgr = data[start:start + width * 3]
        rgb = bytearray(len(bgr))
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind: bytes, body: bytes) -> bytes:
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    png = (b"\x89PNG\r\n\x1a\n" +
           chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
    with open(target, "wb") as f:
        f.write(png)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print("usage: bmp-to-png.py IN.bmp OUT.png", file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2]))
