#include <tiffio.h>
#include <string.h>

static void page(const char* name, int w, int h, int spp, int bps, int photometric, int compression, int tiled, int planar) {
  TIFF* t = TIFFOpen(name, "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bps);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, planar);
  if (spp == 4 || spp == 2) { uint16_t extra[] = {EXTRASAMPLE_ASSOCALPHA}; TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra); }
  if (photometric == PHOTOMETRIC_PALETTE) {
    uint16_t r[16], g[16], b[16];
    for (int i = 0; i < 16; ++i) r[i] = i * 4096, g[i] = 65535 - i * 4096, b[i] = i * 2000;
    TIFFSetField(t, TIFFTAG_COLORMAP, r, g, b);
  }
  unsigned char buf[4096];
  for (int i = 0; i < 4096; ++i) buf[i] = (unsigned char)(i * 37);
  if (tiled) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
    for (int y = 0; y < h; y += 16)
      for (int x = 0; x < w; x += 16)
        TIFFWriteTile(t, buf, x, y, 0, 0);
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2);
    int planes = planar == PLANARCONFIG_SEPARATE ? spp : 1;
    for (int s = 0; s < planes; ++s)
      for (int y = 0; y < h; ++y) TIFFWriteScanline(t, buf + y, y, s);
  }
  TIFFClose(t);
}

int main(void) {
  page("rgba-lzw-assoc.tif", 6, 4, 4, 8, PHOTOMETRIC_RGB, COMPRESSION_LZW, 0, PLANARCONFIG_CONTIG);
  page("gray16-deflate.tif", 5, 5, 1, 16, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, 0, PLANARCONFIG_CONTIG);
  page("palette4-packbits.tif", 7, 3, 1, 4, PHOTOMETRIC_PALETTE, COMPRESSION_PACKBITS, 0, PLANARCONFIG_CONTIG);
  page("rgb-tiled.tif", 20, 18, 3, 8, PHOTOMETRIC_RGB, COMPRESSION_NONE, 1, PLANARCONFIG_CONTIG);
  page("rgb-planar.tif", 4, 4, 3, 8, PHOTOMETRIC_RGB, COMPRESSION_NONE, 0, PLANARCONFIG_SEPARATE);
  page("bilevel-g3.tif", 16, 4, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX3, 0, PLANARCONFIG_CONTIG);
  return 0;
}
