#!/usr/bin/env python3
"""Draws the web page's thermometer: an 18 x 50 RGBA PNG, transparent around a glass tube
with scale marks, a red column and a red bulb. Writes it to the path given (resources/t.png)."""
import struct
import sys
import zlib

W, H = 18, 50
CLEAR = (0, 0, 0, 0)
GLASS = (235, 235, 235, 255)
EDGE = (120, 120, 120, 255)
RED = (220, 20, 20, 255)
MARK = (200, 200, 200, 255)

px = [[CLEAR] * W for _ in range(H)]

def put(x, y, c):
    if 0 <= x < W and 0 <= y < H:
        px[y][x] = c

cx, cy = 8.5, 42.5
# The tube: outline, glass, then the red column from y 14 down into the bulb.
for y in range(2, 40):
    for x in range(6, 12):
        edge = x in (6, 11) or y == 2
        put(x, y, EDGE if edge else GLASS)
for y in range(14, 40):
    for x in range(8, 10):
        put(x, y, RED)
# The bulb.
for y in range(34, 50):
    for x in range(W):
        d = ((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2) ** 0.5
        if d <= 4.2:
            put(x, y, RED)
        elif d <= 5.6:
            put(x, y, EDGE)
for y in range(34, 40):
    for x in range(7, 11):
        put(x, y, RED if 8 <= x <= 9 else GLASS)
# Scale marks on the right of the tube, a long one every fourth.
for i, y in enumerate(range(6, 38, 3)):
    for x in range(12, 16 if i % 4 == 0 else 14):
        put(x, y, MARK)

raw = b''.join(b'\x00' + b''.join(struct.pack('4B', *c) for c in row) for row in px)

def chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)

png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', W, H, 8, 6, 0, 0, 0))
       + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))
with open(sys.argv[1], 'wb') as f:
    f.write(png)
