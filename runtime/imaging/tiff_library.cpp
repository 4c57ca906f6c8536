#include "runtime/imaging/tiff_library.h"

#include <iterator>
#include <mutex>
#include <string>
#include <type_traits>

#include "runtime/dynamic_library.h"

namespace kiv::tiff_library {

const Functions* functions() {
  static Functions loaded{};
  static bool available = false;
  static std::once_flag once;
  std::call_once(once, [] {
    static constexpr const char* names[] = {
        "TIFFClientOpen",      "TIFFClose",         "TIFFDefaultStripSize",     "TIFFGetField",
        "TIFFGetFieldDefaulted", "TIFFIsTiled",     "TIFFRGBAImageBegin",       "TIFFRGBAImageEnd",
        "TIFFRGBAImageGet",    "TIFFRGBAImageOK",   "TIFFReadRGBAImageOriented", "TIFFReadScanline",
        "TIFFScanlineSize64",
        "TIFFSetErrorHandler", "TIFFSetField",      "TIFFSetWarningHandler",    "TIFFWriteDirectory",
        "TIFFWriteScanline"};
    static_assert(std::size(names) * sizeof(void*) == sizeof(Functions), "a name for each function");
    void* found[std::size(names)] = {};
    std::string why;
    if (!dynamic_library::open("libtiff.so.6", names, found, why)) return;
    size_t i = 0;
    const auto next = [&found, &i](auto& slot) {
      slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(found[i++]);
    };
    next(loaded.ClientOpen);
    next(loaded.Close);
    next(loaded.DefaultStripSize);
    next(loaded.GetField);
    next(loaded.GetFieldDefaulted);
    next(loaded.IsTiled);
    next(loaded.RGBAImageBegin);
    next(loaded.RGBAImageEnd);
    next(loaded.RGBAImageGet);
    next(loaded.RGBAImageOK);
    next(loaded.ReadRGBAImageOriented);
    next(loaded.ReadScanline);
    next(loaded.ScanlineSize64);
    next(loaded.SetErrorHandler);
    next(loaded.SetField);
    next(loaded.SetWarningHandler);
    next(loaded.WriteDirectory);
    next(loaded.WriteScanline);
    available = true;
  });
  return available ? &loaded : nullptr;
}

}  // namespace kiv::tiff_library
