#!/usr/bin/env python3
"""The image files Kiv writes, read back by readers of Python's own.

    image_oracle.py KIV

Kiv saves two small images through `save` (the codec chosen by the file's
suffix) as PNG, BMP, GIF and TIFF. The readers below take the files apart
with the standard library only (zlib for PNG data, LZW written here for GIF
and TIFF), so that a fault the Kiv encoder and decoder share (a channel
swap, rows upside down, alpha turned into transparency twice) shows up.
Checks, per file: the size, and every pixel's R, G, B and A against the
image Kiv was given. BMP keeps no alpha; GIF keeps only fully transparent
pixels, with colours from a palette that holds every colour exactly.
Prints "N passed, N failed"; exits 1 on a failure.
"""
import pathlib
import struct
import subprocess
import sys
import tempfile
import zlib

from tally import Tally

WIDTH, HEIGHT = 5, 3


def source_pixels(alpha_levels):
    """R, G, B, A of each pixel in row order; A takes the given levels in turn."""
    pixels = []
    for i in range(WIDTH * HEIGHT):
        pixels.append(((i * 17) % 256, (255 - i * 13) % 256, (i * 71 + 5) % 256, alpha_levels[i % len(alpha_levels)]))
    return pixels


def kiv_image(pixels):
    """The make image! spec: RGB bytes, then transparency bytes (255 - A)."""
    rgb = "".join(f"{r:02X}{g:02X}{b:02X}" for r, g, b, _ in pixels)
    alpha = "".join(f"{255 - a:02X}" for *_, a in pixels)
    return f"make image! [{WIDTH}x{HEIGHT} #{{{rgb}}} #{{{alpha}}}]"


# ---- PNG ----

def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_png(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "signature"
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        crc, = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        assert zlib.crc32(kind + body) == crc, f"CRC of {kind}"
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and interlace == 0 and colour in (2, 6), f"header {header}"
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = previous[x]
            c = previous[x - channels] if x >= channels else 0
            line[x] = (line[x] + [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]) & 0xFF
        rows.append(line)
        previous = line
    pixels = []
    for line in rows:
        for x in range(width):
            p = line[x * channels:(x + 1) * channels]
            pixels.append(tuple(p) if channels == 4 else tuple(p) + (255,))
    return width, height, pixels


# ---- BMP ----

def read_bmp(data):
    assert data[:2] == b"BM", "signature"
    offset, = struct.unpack("<I", data[10:14])
    _, width, height, _, bits, compression = struct.unpack("<IiiHHI", data[14:34])
    assert bits in (24, 32) and compression == 0, f"bits {bits}, compression {compression}"
    step = bits // 8
    stride = (width * step + 3) // 4 * 4
    rows = range(abs(height) - 1, -1, -1) if height > 0 else range(abs(height))
    pixels = [None] * (width * abs(height))
    for file_row, y in enumerate(rows):
        line = data[offset + file_row * stride:offset + (file_row + 1) * stride]
        for x in range(width):
            b, g, r = line[x * step:x * step + 3]
            pixels[y * width + x] = (r, g, b, 255)
    return width, abs(height), pixels


# ---- GIF ----

def lzw_entry(table, previous, code):
    """The string of an LZW code, adding the table's next entry after the first code."""
    if previous is None:
        return table[code]
    entry = table[code] if code < len(table) else previous + previous[:1]
    table.append(previous + entry[:1])
    return entry


def lzw_lsb(data, min_size, count):
    """GIF's LZW: codes least significant bit first."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    bits = int.from_bytes(data, "little")
    position, width, out = 0, min_size + 1, []
    table, previous = None, None
    while len(out) < count:
        code = (bits >> position) & ((1 << width) - 1)
        position += width
        if code == clear:
            table = [bytes([i]) for i in range(clear)] + [b"", b""]
            width, previous = min_size + 1, None
            continue
        if code == end:
            break
        entry = lzw_entry(table, previous, code)
        if previous is not None and len(table) == (1 << width) and width < 12:
            width += 1
        out.extend(entry)
        previous = entry
    return out[:count]


def read_gif(data):
    assert data[:6] == b"GIF89a", "signature"
    width, height, packed = struct.unpack("<HHB", data[6:11])
    at = 13
    palette = []
    if packed & 0x80:
        size = 2 << (packed & 7)
        palette = [tuple(data[at + i * 3:at + i * 3 + 3]) for i in range(size)]
        at += 3 * size
    transparent = None
    while True:
        kind = data[at]
        if kind == 0x21:
            label, at = data[at + 1], at + 2
            if label == 0xF9 and data[at + 1] & 1:
                transparent = data[at + 4]
            while data[at]:
                at += data[at] + 1
            at += 1
        elif kind == 0x2C:
            left, top, w, h, flags = struct.unpack("<HHHHB", data[at + 1:at + 10])
            assert (left, top, w, h) == (0, 0, width, height) and not flags & 0x40, "one whole frame, not interlaced"
            at += 10
            if flags & 0x80:
                size = 2 << (flags & 7)
                palette = [tuple(data[at + i * 3:at + i * 3 + 3]) for i in range(size)]
                at += 3 * size
            min_size, at = data[at], at + 1
            stream = b""
            while data[at]:
                stream += data[at + 1:at + 1 + data[at]]
                at += data[at] + 1
            indexes = lzw_lsb(stream, min_size, width * height)
            pixels = [(0, 0, 0, 0) if i == transparent else palette[i] + (255,) for i in indexes]
            return width, height, pixels
        else:
            raise AssertionError(f"block {kind:#x}")


# ---- TIFF ----

def lzw_msb(data):
    """TIFF's LZW: codes most significant bit first, widths grow one code early."""
    bits = int.from_bytes(data, "big")
    total = len(data) * 8
    position, width, out = 0, 9, bytearray()
    table, previous = None, None
    while position + width <= total:
        code = (bits >> (total - position - width)) & ((1 << width) - 1)
        position += width
        if code == 256:
            table = [bytes([i]) for i in range(256)] + [b"", b""]
            width, previous = 9, None
            continue
        if code == 257:
            break
        entry = lzw_entry(table, previous, code)
        if len(table) + 1 >= (1 << width) and width < 12:
            width += 1
        out += entry
        previous = entry
    return bytes(out)


def read_tiff(data):
    order = {b"II": "<", b"MM": ">"}[data[:2]]
    magic, ifd = struct.unpack(order + "HI", data[2:8])
    assert magic == 42, "magic"
    count, = struct.unpack(order + "H", data[ifd:ifd + 2])
    tags = {}
    sizes = {1: 1, 3: 2, 4: 4}
    codes = {1: "B", 3: "H", 4: "I"}
    for i in range(count):
        tag, kind, n, value = struct.unpack(order + "HHI4s", data[ifd + 2 + i * 12:ifd + 14 + i * 12])
        raw = value if sizes[kind] * n <= 4 else data[struct.unpack(order + "I", value)[0]:][:sizes[kind] * n]
        tags[tag] = list(struct.unpack(order + codes[kind] * n, raw[:sizes[kind] * n]))
    width, height = tags[256][0], tags[257][0]
    assert tags[258] == [8] * tags[277][0] and tags[262] == [2] and tags.get(284, [1]) == [1], "8-bit RGB, contiguous"
    assert tags.get(317, [1]) == [1], "no predictor"
    samples = tags[277][0]
    body = b""
    for offset, length in zip(tags[273], tags[279]):
        strip = data[offset:offset + length]
        body += {1: lambda s: s, 5: lzw_msb}[tags[259][0]](strip)
    pixels = []
    for i in range(width * height):
        p = body[i * samples:(i + 1) * samples]
        pixels.append(tuple(p[:4]) if samples == 4 else tuple(p) + (255,))
    assert samples == 3 or tags.get(338) == [2], "alpha unassociated"
    return width, height, pixels


def main():
    kiv = sys.argv[1]
    tally = Tally()
    # Every alpha level for the formats that keep alpha; for GIF, colours
    # that fit a palette and alpha that is either full or none.
    rich = source_pixels([255, 128, 0, 1, 254])
    binary = source_pixels([255, 255, 0])
    cases = [("png", rich, read_png, lambda p: p),
             ("bmp", rich, read_bmp, lambda p: p[:3] + (255,)),
             ("tif", rich, read_tiff, lambda p: p),
             ("gif", binary, read_gif, lambda p: (0, 0, 0, 0) if p[3] == 0 else p)]
    with tempfile.TemporaryDirectory() as folder:
        folder = pathlib.Path(folder)
        lines = ["Kiv []"]
        for suffix, pixels, _, _ in cases:
            lines.append(f"save %{folder.as_posix()}/out.{suffix} {kiv_image(pixels)}")
        lines.append('print "done"')
        script = folder / "run.kiv"
        script.write_text("\n".join(lines) + "\n")
        done = subprocess.run([kiv, "--cli", str(script)], capture_output=True, text=True, timeout=120)
        tally.check(done.returncode == 0 and "done" in done.stdout, f"kiv ran: {done.stdout[-500:]} {done.stderr[-500:]}")
        for suffix, pixels, read, expect in cases:
            path = folder / f"out.{suffix}"
            try:
                width, height, got = read(path.read_bytes())
            except Exception as problem:  # a file the reader cannot take apart is a failure
                tally.check(False, f"{suffix}: {problem!r}")
                continue
            tally.check((width, height) == (WIDTH, HEIGHT), f"{suffix} size {width}x{height}")
            wanted = [expect(p) for p in pixels]
            wrong = [(i, g, w) for i, (g, w) in enumerate(zip(got, wanted)) if g != w]
            tally.check(not wrong and len(got) == len(wanted), f"{suffix} pixels: first differences {wrong[:3]}")
    return tally.close()


if __name__ == "__main__":
    sys.exit(main())
