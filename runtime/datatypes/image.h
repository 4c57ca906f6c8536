// image!: a two-dimensional bitmap seen as a series of pixels in row order.
//
// Cell layout: header 53; w1 the head index (0-based pixel offset from the
// top-left pixel); w2 the node of the image record (runtime/core/
// image_record.h), 0 for an image of zero width or height; w3 the size word,
// width in bits 0-15 and height in bits 16-31, copied from the record.
//
// Pixels are 0xAARRGGBB words with straight alpha (runtime/imaging/
// bitmap.h). The language sees them as tuples R.G.B.T, where T = 255 - A is
// the transparency; a three-byte tuple is opaque. The pixel at the 1-based
// pair x, y is index (y - 1) x width + (x - 1).
//
// length? is always width x height, whatever the head. back, head, head?,
// index? and modify come from series!; the actions of other series that
// would change the length (insert, remove, ...) are not supported.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/actions.h"

namespace kiv::image {

inline uint32_t width_of(const Cell& image) { return image.w3 & 0xFFFF; }
inline uint32_t height_of(const Cell& image) { return image.w3 >> 16; }
inline uint32_t pixel_count(const Cell& image) { return width_of(image) * height_of(image); }

// The bulk pixel views, named as the path words that read them.
enum class Mode : uint8_t { alpha = 0, rgb = 1, argb = 2 };

// The colour of a pixel word as a tuple R.G.B.T, and back (a three-byte
// tuple is opaque).
Cell pixel_to_tuple(uint32_t pixel);
uint32_t tuple_to_pixel(const Cell& tuple);

// The pixel at `index` (from the first pixel) as a tuple; none at or past
// width x height.
Cell pixel_at(const Cell& image, uint32_t index);

// A new binary! of the whole image's pixels in a mode. May collect.
Cell to_binary(const Cell& image, Mode mode);
// Sets every pixel from a binary!, tuple! or integer! in a mode; any other
// value raises script/invalid-arg. Runs the change notification.
void set_pixels(Val image, Val source, Mode mode);

// Whether data starts with a recognised image signature.
bool known_format(const uint8_t* data, size_t size);
// Decodes the bytes of a binary! from its head: none for an unknown
// signature, access/bad-media when decoding fails. May collect.
Cell load_binary(Val binary);
// Decodes an image file; access/cannot-open with the file when it cannot
// be read or decoded. May collect.
Cell load_file(Val file);
// load_binary for a binary!, load_file otherwise.
Cell decode(Val data);
// Encodes into a binary! in the format of a code (0 BMP, 1 PNG, 2 GIF,
// 3 JPEG, 4 TIFF). A size word of 0 raises access/bad-media; a zero width
// or height gives an empty binary; an unknown code prints "Cannot find image
// encoder" and answers nothing. May collect.
std::optional<Cell> encode(const Cell& image, int32_t format);

// A new image! holding a copy of pixel words in memory: `height` rows of
// `width` words, each row `stride` bytes after the previous one (0 means
// width x 4). A side above 65535 raises internal/no-memory. May collect.
Cell from_memory(uint32_t width, uint32_t height, size_t stride, const void* address);

// The pixel words of an image (width x height of them, rows top to
// bottom), or null for an image without pixels. Valid until the collector
// runs.
const uint32_t* pixels_of(const Cell& image);

// A new image! of a copy of `image` scaled to the given size (nearest
// neighbour). May collect.
Cell resized(const Cell& image, uint32_t width, uint32_t height);

// Registers image! and the "image" external-handle class.
void register_types();

}  // namespace kiv::image
