#!/usr/bin/env python3
"""Writes the seed corpus of compressed streams in tests/fixtures/inflate-corpus/.

File names say what the decoder must do: "ok-*" decodes (to the bytes in
the matching .out file, when there is one), "bad-*" is refused. The suffix
names the framing: .deflate (raw), .zlib, .gz. Streams that Python's zlib
writes cover stored, fixed and dynamic blocks; the malformed ones are
written bit by bit here, each one fault at a time.
"""
import gzip
import pathlib
import struct
import sys
import zlib

OUT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent / "fixtures" / "inflate-corpus")


class Bits:
    """Least significant bit first, as DEFLATE packs them."""

    def __init__(self):
        self.bits = []

    def put(self, value, count):
        self.bits += [(value >> i) & 1 for i in range(count)]
        return self

    def code(self, code, count):
        """A Huffman code, most significant bit first."""
        self.bits += [(code >> (count - 1 - i)) & 1 for i in range(count)]
        return self

    def bytes(self):
        padded = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(sum(b << i for i, b in enumerate(padded[n:n + 8])) for n in range(0, len(padded), 8))


def raw(data, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    return c.compress(data) + c.flush()


def dynamic_header(hlit, hdist, hclen, length_lengths):
    b = Bits().put(1, 1).put(2, 2).put(hlit - 257, 5).put(hdist - 1, 5).put(hclen - 4, 4)
    for n in length_lengths[:hclen]:
        b.put(n, 3)
    return b


ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]


def lengths_in_order(by_symbol):
    return [by_symbol.get(s, 0) for s in ORDER]


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    for old in OUT.iterdir():
        old.unlink()
    text = b"The quick brown fox jumps over the lazy dog. " * 20 + bytes(range(256))
    files = {
        "ok-stored.deflate": raw(text, 0),
        "ok-fixed.deflate": raw(text, 9, zlib.Z_FIXED),
        "ok-dynamic.deflate": raw(text, 9),
        "ok-huffman-only.deflate": raw(text, 6, zlib.Z_HUFFMAN_ONLY),
        "ok-rle.deflate": raw(b"\0" * 5000 + text, 6, zlib.Z_RLE),
        "ok-level6.zlib": zlib.compress(text, 6),
        "ok-fname.gz": gzip.compress(text, 9, mtime=0)[:3] + b"\x08" + gzip.compress(text, 9, mtime=0)[4:10] + b"name.txt\0" + gzip.compress(text, 9, mtime=0)[10:],
        "ok-two-members.gz": gzip.compress(text[:100], mtime=0) + gzip.compress(text[100:], mtime=0),
        "ok-padded.gz": gzip.compress(text, mtime=0) + b"\0" * 16,
    }
    # Optional gzip fields: FEXTRA, FCOMMENT and FHCRC together.
    header = b"\x1f\x8b\x08" + bytes([0x04 | 0x10 | 0x02]) + b"\0\0\0\0\0\x03" + struct.pack("<H", 5) + b"extra" + b"a comment\0"
    header += struct.pack("<H", zlib.crc32(header) & 0xFFFF)
    files["ok-fields.gz"] = header + raw(text, 6) + struct.pack("<II", zlib.crc32(text), len(text))

    # Raw streams with one fault each.
    files["bad-empty.deflate"] = b""
    files["bad-reserved-type.deflate"] = Bits().put(1, 1).put(3, 2).bytes()
    files["bad-no-final-block.deflate"] = Bits().put(0, 1).put(1, 2).code(0, 7).bytes()
    files["bad-stored-overrun.deflate"] = bytes([1]) + struct.pack("<HH", 100, 0xFFFF - 100) + b"short"
    files["bad-stored-nlen.deflate"] = bytes([1]) + struct.pack("<HH", 3, 3) + b"abc"
    # A distance of 2 after one literal.
    files["bad-distance-too-far.deflate"] = Bits().put(1, 1).put(1, 2).code(0x30 + 65, 8).code(1, 7).code(1, 5).code(0, 7).bytes()
    # A distance before anything was written.
    files["bad-distance-at-start.deflate"] = Bits().put(1, 1).put(1, 2).code(1, 7).code(0, 5).code(0, 7).bytes()
    # Fixed-code symbols no stream may use: length 286 and distance 30.
    files["bad-length-286.deflate"] = Bits().put(1, 1).put(1, 2).code(0x30, 8).code(0xC0 + 6, 8).bytes()
    files["bad-distance-30.deflate"] = Bits().put(1, 1).put(1, 2).code(0x30, 8).code(1, 7).code(30, 5).code(0, 7).bytes()
    # Code-length codes: over-subscribed (three 1-bit codes), and incomplete
    # (a single 1-bit code).
    files["bad-oversubscribed.deflate"] = dynamic_header(257, 1, 19, lengths_in_order({0: 1, 8: 1, 18: 1})).bytes()
    files["bad-incomplete-lengths.deflate"] = dynamic_header(257, 1, 19, lengths_in_order({8: 1})).bytes()
    # All code-length symbols 2 bits: 0, 8, 16, 18. A repeat (16) first.
    four = lengths_in_order({0: 2, 8: 2, 16: 2, 18: 2})
    files["bad-repeat-first.deflate"] = dynamic_header(257, 1, 19, four).code(2, 2).put(0, 2).bytes()
    # 18 with 138 zeros twice and more: runs past HLIT + HDIST = 258.
    files["bad-repeat-overrun.deflate"] = dynamic_header(257, 1, 19, four).code(3, 2).put(127, 7).code(3, 2).put(127, 7).bytes()
    # HLIT of 287 and 288 symbols.
    files["bad-hlit.deflate"] = dynamic_header(288, 1, 19, four).bytes()
    # Every literal/length length 0: no end-of-block code.
    files["bad-no-end-code.deflate"] = dynamic_header(257, 1, 19, four).code(3, 2).put(127, 7).code(3, 2).put(108, 7).bytes()

    good_zlib = zlib.compress(text, 6)
    files["bad-zlib-check.zlib"] = good_zlib[:1] + bytes([good_zlib[1] ^ 1]) + good_zlib[2:]
    files["bad-zlib-dictionary.zlib"] = bytes([0x78, 0xBB]) + good_zlib[2:]
    files["bad-zlib-method.zlib"] = bytes([0x79, 0x9C - 1]) + good_zlib[2:]
    files["bad-zlib-adler.zlib"] = good_zlib[:-1] + bytes([good_zlib[-1] ^ 0x80])
    files["bad-zlib-short.zlib"] = bytes([0x78, 0x9C, 0x03])
    good_gz = gzip.compress(text, mtime=0)
    files["bad-gzip-magic.gz"] = b"\x1f\x8c" + good_gz[2:]
    files["bad-gzip-method.gz"] = good_gz[:2] + b"\x07" + good_gz[3:]
    files["bad-gzip-reserved-flag.gz"] = good_gz[:3] + b"\x20" + good_gz[4:]
    files["bad-gzip-crc.gz"] = good_gz[:-8] + bytes([good_gz[-8] ^ 1]) + good_gz[-7:]
    files["bad-gzip-size-larger.gz"] = good_gz[:-4] + struct.pack("<I", len(text) + 1)
    files["bad-gzip-size-huge.gz"] = good_gz[:-4] + struct.pack("<I", 0xFFFFFFFF)
    files["bad-gzip-name-unterminated.gz"] = good_gz[:3] + b"\x08" + good_gz[4:10] + b"x" * 30
    files["bad-gzip-extra-overrun.gz"] = good_gz[:3] + b"\x04" + good_gz[4:10] + struct.pack("<H", 60000) + good_gz[10:]
    files["bad-gzip-header-crc.gz"] = good_gz[:3] + b"\x02" + good_gz[4:10] + b"\0\0" + good_gz[10:]
    files["bad-gzip-garbage-after.gz"] = good_gz + b"garbage!"
    files["bad-gzip-truncated-member.gz"] = good_gz + good_gz[:-3]

    for name, data in sorted(files.items()):
        (OUT / name).write_bytes(data)
    for name in files:
        if name.startswith("ok-"):
            (OUT / (name.rsplit(".", 1)[0] + ".out")).write_bytes(expected(name, text))


def expected(name, text):
    if name == "ok-rle.deflate":
        return b"\0" * 5000 + text
    return text


if __name__ == "__main__":
    main()
