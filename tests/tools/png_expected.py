#!/usr/bin/env python3
"""Writes the expected pixels of the PNG test files in tests/data/png.

A small PNG decoder of its own (chunk parsing, zlib from the standard library,
the five row filters, Adam7 interlacing, bit unpacking), independent of libpng
and of the code under test. For each NAME.png it writes NAME.rgba: a 12-byte
header (width, height and the image depth the reader must choose, each a
little-endian 32-bit integer) followed by width x height RGBA pixels, as the
reader's image shows them after expansion through its palette:

  grey, any depth  -> depth 8; samples scaled to 8 bits (16-bit: high byte);
                      a tRNS key makes pixels of that 8-bit value transparent
  RGB              -> depth 32, alpha 255 (a tRNS colour key is not applied)
  palette, 8-bit   -> depth 8; palette, 1/2/4-bit -> depth 4
                      indices past the PLTE entries show grey ramp (i, i, i, 255)
                      tRNS alphas apply to the first entries
  grey and alpha   -> depth 32, grey spread to R, G, B
  RGBA             -> depth 32
16-bit samples keep their high byte.

Run once after adding files: python3 tests/tools/png_expected.py tests/data/png
Files whose decoding fails here (corrupt on purpose) get no .rgba file.
"""
import struct
import sys
import zlib
from pathlib import Path

ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4),
         (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def chunks(data):
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError('no signature')
    pos = 8
    while pos + 12 <= len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc, = struct.unpack('>I', data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            raise ValueError('bad crc in ' + kind.decode('latin-1'))
        yield kind, body
        pos += 12 + length
        if kind == b'IEND':
            return
    raise ValueError('truncated')


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def unfilter(raw, pos, width, height, bpp_bits):
    """Returns (rows of bytes, new position) for one (sub-)image."""
    stride = (width * bpp_bits + 7) // 8
    bpp = max(1, bpp_bits // 8)
    rows = []
    prev = bytearray(stride)
    for _ in range(height):
        ftype = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        if len(line) != stride:
            raise ValueError('short image data')
        pos += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if ftype == 0:
                pass
            elif ftype == 1:
                line[i] = (line[i] + a) & 255
            elif ftype == 2:
                line[i] = (line[i] + b) & 255
            elif ftype == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 255
            elif ftype == 4:
                line[i] = (line[i] + paeth(a, b, c)) & 255
            else:
                raise ValueError('bad filter')
        rows.append(line)
        prev = line
    return rows, pos


def samples(line, width, depth, channels):
    """Unpacks one row into width x channels integer samples."""
    out = []
    if depth == 16:
        for i in range(width * channels):
            out.append((line[2 * i] << 8) | line[2 * i + 1])
    elif depth == 8:
        out = list(line[:width * channels])
    else:
        per_byte = 8 // depth
        mask = (1 << depth) - 1
        for i in range(width * channels):
            byte = line[i // per_byte]
            shift = 8 - depth * (i % per_byte + 1)
            out.append((byte >> shift) & mask)
    return out


def decode(data):
    ihdr = None
    plte = None
    trns = None
    idat = b''
    for kind, body in chunks(data):
        if kind == b'IHDR':
            ihdr = struct.unpack('>IIBBBBB', body)
        elif kind == b'PLTE':
            plte = body
        elif kind == b'tRNS':
            trns = body
        elif kind == b'IDAT':
            idat += body
    width, height, depth, ctype, _, _, interlace = ihdr
    channels = CHANNELS[ctype]
    raw = zlib.decompress(idat)
    grid = [[None] * width for _ in range(height)]
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    pos = 0
    for x0, y0, dx, dy in passes:
        pw = (width - x0 + dx - 1) // dx if width > x0 else 0
        ph = (height - y0 + dy - 1) // dy if height > y0 else 0
        if pw == 0 or ph == 0:
            continue
        rows, pos = unfilter(raw, pos, pw, ph, depth * channels)
        for j, line in enumerate(rows):
            s = samples(line, pw, depth, channels)
            for i in range(pw):
                grid[y0 + j * dy][x0 + i * dx] = s[i * channels:(i + 1) * channels]
    return ihdr, plte, trns, grid


def to8(value, depth):
    if depth == 16:
        return value >> 8
    return value * 255 // ((1 << depth) - 1)


def expected(data):
    (width, height, depth, ctype, _, _, _), plte, trns, grid = decode(data)
    out = bytearray()
    if ctype == 0:
        key = None
        if trns is not None:
            key = to8(struct.unpack('>H', trns[:2])[0], depth)
        for row in grid:
            for (g,) in row:
                v = to8(g, depth)
                out += bytes((v, v, v, 0 if v == key else 255))
        image_depth = 8
    elif ctype == 3:
        image_depth = 8 if depth == 8 else 4
        entries = 1 << image_depth
        pal = [[i, i, i, 255] for i in range(entries)]
        for i in range(min(entries, len(plte) // 3)):
            pal[i][0:3] = plte[3 * i:3 * i + 3]
        if trns is not None:
            for i in range(min(entries, len(trns))):
                pal[i][3] = trns[i]
        for row in grid:
            for (idx,) in row:
                out += bytes(pal[idx & (entries - 1)])
    else:
        image_depth = 32
        for row in grid:
            for px in row:
                v = [to8(c, depth) for c in px]
                if ctype == 2:
                    v = v + [255]
                elif ctype == 4:
                    v = [v[0], v[0], v[0], v[1]]
                out += bytes(v)
    return struct.pack('<iii', width, height, image_depth) + bytes(out)


def main(folder):
    for png in sorted(Path(folder).glob('*.png')):
        try:
            result = expected(png.read_bytes())
        except (ValueError, zlib.error, KeyError, TypeError, struct.error) as e:
            print('%s: not decoded (%s)' % (png.name, e))
            png.with_suffix('.rgba').unlink(missing_ok=True)
            continue
        png.with_suffix('.rgba').write_bytes(result)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'tests/data/png')
