import struct
def bmp(name, w, h, bits, compression=0, header=40, masks=(), palette=b"", pixels=None, core=False):
    stride = (w * bits + 31) // 32 * 4
    pixels = pixels if pixels is not None else bytes((i * 29) & 255 for i in range(stride * abs(h)))
    if core:
        info = struct.pack("<IHHHH", 12, w, h, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", header, w, h, 1, bits, compression, len(pixels), 2835, 2835, 0, 0)
        info += b"".join(struct.pack("<I", m) for m in masks)
        info += b"\0" * (header - len(info)) if header > len(info) else b""
    offset = 14 + len(info) + len(palette)
    data = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + palette + pixels
    open(name, "wb").write(data)
bmp("bits1.bmp", 9, 3, 1, palette=bytes([0, 0, 0, 0, 255, 255, 255, 0]))
bmp("bits4-top-down.bmp", 5, -2, 4, palette=bytes(i * 16 % 256 for i in range(64)))
bmp("bits16-565.bmp", 3, 2, 16, compression=3, masks=(0xF800, 0x07E0, 0x001F))
bmp("bits32-v5-alpha.bmp", 2, 2, 32, compression=3, header=124, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000))
bmp("core-8.bmp", 3, 2, 8, palette=bytes(i % 256 for i in range(768)), core=True)
bmp("bits16-rgb.bmp", 4, 1, 16)
