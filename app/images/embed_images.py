#!/usr/bin/env python3
"""Turns the status images' PNG sources into the plug-in's image data.

Writes one C++ source with, for every image NAME, the compressed pixel block
_NAME_Cpm and the descriptor _NAME_Gd (TYPE_GrData) that TAP_Osd_PutGd takes.
The host's compression is a zlib stream of the raw pixels, row by row from the
top; a pixel is a little-endian word: ARGB8888 (4 bytes) or ARGB1555 (2 bytes,
alpha set when the PNG's alpha is 128 or more).

Reads 8-bit RGBA, non-interlaced PNGs only; anything else is refused.

Usage: embed_images.py OUTPUT.cpp HEADER NAME=FILE.png:FORMAT...
  HEADER  the include that declares the objects (e.g. app/images.h)
  FORMAT  argb8888 or argb1555
"""

import os
import struct
import sys
import zlib

PNG_SIGNATURE = b'\x89PNG\r\n\x1a\n'
BYTES_PER_PIXEL = {'argb8888': 4, 'argb1555': 2}
FORMAT_MACRO = {'argb8888': 'GD_FORMAT_ARGB8888', 'argb1555': 'GD_FORMAT_ARGB1555'}


class PngError(Exception):
    pass


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def decode_png(data):
    """(width, height, rows of RGBA bytes) of an 8-bit RGBA PNG."""
    if data[:8] != PNG_SIGNATURE:
        raise PngError('not a PNG file')
    pos = 8
    header = None
    idat = bytearray()
    while True:
        if pos + 8 > len(data):
            raise PngError('truncated chunk')
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc = data[pos + 8 + length:pos + 12 + length]
        if len(body) != length or len(crc) != 4:
            raise PngError('truncated chunk')
        if struct.unpack('>I', crc)[0] != zlib.crc32(kind + body) & 0xffffffff:
            raise PngError('bad CRC in %s chunk' % kind.decode('latin-1'))
        pos += 12 + length
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
        elif kind == b'IEND':
            break
    if header is None:
        raise PngError('no IHDR chunk')
    width, height, depth, colour_type, compression, filter_method, interlace = header
    if depth != 8 or colour_type != 6:
        raise PngError('only 8-bit RGBA is supported (depth %d, colour type %d)' % (depth, colour_type))
    if compression != 0 or filter_method != 0 or interlace != 0:
        raise PngError('only non-interlaced PNGs with the standard methods are supported')
    if width == 0 or height == 0 or width > 0xffff or height > 0xffff:
        raise PngError('bad size %dx%d' % (width, height))

    raw = zlib.decompress(bytes(idat))
    stride = width * 4
    if len(raw) != height * (stride + 1):
        raise PngError('pixel data has %d bytes, expected %d' % (len(raw), height * (stride + 1)))
    rows = []
    previous = bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind = raw[start]
        line = bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            left = line[x - 4] if x >= 4 else 0
            up = previous[x]
            up_left = previous[x - 4] if x >= 4 else 0
            if kind == 0:
                predicted = 0
            elif kind == 1:
                predicted = left
            elif kind == 2:
                predicted = up
            elif kind == 3:
                predicted = (left + up) // 2
            elif kind == 4:
                predicted = paeth(left, up, up_left)
            else:
                raise PngError('unknown filter %d in row %d' % (kind, y))
            line[x] = (line[x] + predicted) & 0xff
        rows.append(line)
        previous = line
    return width, height, rows


def pack_pixels(rows, pixel_format):
    out = bytearray()
    for row in rows:
        for k in range(0, len(row), 4):
            r, g, b, a = row[k:k + 4]
            if pixel_format == 'argb8888':
                out += struct.pack('<I', a << 24 | r << 16 | g << 8 | b)
            else:
                alpha = 1 if a >= 128 else 0
                value = alpha << 15 | (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3) if alpha else 0
                out += struct.pack('<H', value)
    return bytes(out)


def c_array(name, data):
    lines = ['const byte %s[%d] = {' % (name, len(data))]
    for k in range(0, len(data), 16):
        lines.append('  ' + ', '.join('0x%02x' % v for v in data[k:k + 16]) + ',')
    lines.append('};')
    return '\n'.join(lines)


def parse_image_arg(arg):
    name, sep, rest = arg.partition('=')
    path, sep2, pixel_format = rest.rpartition(':')
    if not sep or not sep2 or not name.isidentifier() or pixel_format not in BYTES_PER_PIXEL:
        raise ValueError('bad image argument %r (want NAME=FILE.png:argb8888|argb1555)' % arg)
    return name, path, pixel_format


def main(argv):
    if len(argv) < 4:
        sys.stderr.write(__doc__)
        return 2
    output, header = argv[1], argv[2]
    parts = [
        '// Generated by app/images/embed_images.py from the PNG sources in app/images.',
        '// Do not edit: change the PNGs (or draw_images.py) instead.',
        '#include "%s"' % header,
        '',
    ]
    for arg in argv[3:]:
        try:
            name, path, pixel_format = parse_image_arg(arg)
            with open(path, 'rb') as f:
                width, height, rows = decode_png(f.read())
        except ValueError as error:
            sys.stderr.write('%s\n' % error)
            return 2
        except (OSError, PngError, zlib.error) as error:
            sys.stderr.write('%s: %s\n' % (arg, error))
            return 1
        pixels = pack_pixels(rows, pixel_format)
        assert len(pixels) == width * height * BYTES_PER_PIXEL[pixel_format]
        block = zlib.compress(pixels, 9)
        parts.append('// %s: %d x %d, %s' % (os.path.basename(path), width, height, pixel_format))
        parts.append(c_array('_%s_Cpm' % name, block))
        parts.append('const TYPE_GrData _%s_Gd = {GD_VERSION, 0, %s, GD_COMPRESSION_HOST, _%s_Cpm, %du, %du, %du};'
                     % (name, FORMAT_MACRO[pixel_format], name, len(pixels), width, height))
        parts.append('')
    text = '\n'.join(parts)
    # Rewritten only when it changes, so that a rerun rebuilds nothing.
    try:
        with open(output, 'r') as f:
            if f.read() == text:
                return 0
    except OSError:
        pass
    with open(output, 'w') as f:
        f.write(text)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
