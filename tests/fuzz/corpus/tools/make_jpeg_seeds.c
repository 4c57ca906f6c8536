#include <stdio.h>
#include <stdlib.h>
#include <jpeglib.h>

static void write(const char* name, int w, int h, int comps, J_COLOR_SPACE space, int progressive, int restart, int quality, int smooth_h) {
  struct jpeg_compress_struct c;
  struct jpeg_error_mgr e;
  c.err = jpeg_std_error(&e);
  jpeg_create_compress(&c);
  FILE* f = fopen(name, "wb");
  jpeg_stdio_dest(&c, f);
  c.image_width = w; c.image_height = h; c.input_components = comps; c.in_color_space = space;
  jpeg_set_defaults(&c);
  if (space == JCS_CMYK) jpeg_set_colorspace(&c, JCS_YCCK);
  jpeg_set_quality(&c, quality, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  c.restart_interval = restart;
  if (smooth_h) { c.comp_info[0].h_samp_factor = 1; c.comp_info[0].v_samp_factor = 1; }
  jpeg_start_compress(&c, TRUE);
  unsigned char* row = malloc(w * comps);
  while (c.next_scanline < c.image_height) {
    for (int x = 0; x < w * comps; ++x) row[x] = (unsigned char)(x * 7 + c.next_scanline * 13);
    JSAMPROW r = row;
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  fclose(f);
  free(row);
  jpeg_destroy_compress(&c);
}

int main(void) {
  write("baseline-420.jpg", 16, 16, 3, JCS_RGB, 0, 0, 75, 0);
  write("progressive.jpg", 24, 8, 3, JCS_RGB, 1, 0, 50, 0);
  write("gray-restart.jpg", 8, 8, 1, JCS_GRAYSCALE, 0, 1, 90, 0);
  write("ycck.jpg", 8, 8, 4, JCS_CMYK, 0, 0, 60, 0);
  write("h444-odd.jpg", 5, 3, 3, JCS_RGB, 0, 0, 30, 1);
  return 0;
}
