#include "runtime/imaging/tiff_library.h"

#include <mutex>
#include <string>

#include "runtime/dynamic_library.h"

namespace kiv::tiff_library {

const Functions* functions() {
  static Functions loaded{};
  static bool available = false;
  static std::once_flag once;
  std::call_once(once, [] {
    // In the order of Functions' members.
    static constexpr const char* names[] = {
        "TIFFClientOpen",    "TIFFClose",           "TIFFDefaultStripSize",  "TIFFGetField",
        "TIFFGetFieldDefaulted", "TIFFIsTiled",     "TIFFRGBAImageBegin",    "TIFFRGBAImageEnd",
        "TIFFRGBAImageGet",  "TIFFRGBAImageOK",     "TIFFReadRGBAImageOriented", "TIFFReadScanline",
        "TIFFScanlineSize64", "TIFFSetErrorHandler", "TIFFSetField",         "TIFFSetWarningHandler",
        "TIFFWriteDirectory", "TIFFWriteScanline"};
    std::string why;
    available = dynamic_library::open_functions("libtiff.so.6", names, loaded, why);
  });
  return available ? &loaded : nullptr;
}

}  // namespace kiv::tiff_library
