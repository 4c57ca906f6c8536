// The routines behind the image entries of system/codecs.
#pragma once

namespace kiv::image_routines {

// Registers image-encode and image-decode.
void add_routines();

}  // namespace kiv::image_routines
