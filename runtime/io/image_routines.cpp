#include "runtime/io/image_routines.h"

#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/native_args.h"

namespace kiv::image_routines {
namespace {

using native_args::answer;
using native_args::arg;

// image-encode img where format: the image as a binary! in a format (0 BMP,
// 1 PNG, 2 GIF, 3 JPEG, 4 TIFF); `where` is not used.
Flow encode() {
  const std::optional<Cell> encoded = image::encode(*arg(0), integer::get(*arg(2)));
  return answer(encoded ? *encoded : unset::make());
}

// image-decode data: an image! from a binary! or an image file.
Flow decode() { return answer(image::decode(arg(0))); }

}  // namespace

void add_routines() {
  routine::add("image-encode",
               R"~("Internal Use Only: an image encoded in a file format" img [image!] where [any-type!] format [integer!] return: [binary!])~",
               encode);
  routine::add("image-decode",
               R"~("Internal Use Only: an image from the bytes or the file of an image" data [any-type!] return: [image! none!])~",
               decode);
}

}  // namespace kiv::image_routines
