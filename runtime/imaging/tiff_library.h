// libtiff, opened when the first TIFF image is read or written.
//
// libtiff brings its own codecs' libraries (WebP, LERC, JBIG, zstd, LZMA,
// libdeflate); linked, they made every start slower, TIFF or not
// (dynamic_library.h). The codec calls libtiff through these pointers,
// declared with the library's own signatures.
#pragma once

#include <tiffio.h>

namespace kiv::tiff_library {

struct Functions {
  decltype(&TIFFClientOpen) ClientOpen;
  decltype(&TIFFClose) Close;
  decltype(&TIFFDefaultStripSize) DefaultStripSize;
  decltype(&TIFFGetField) GetField;
  decltype(&TIFFGetFieldDefaulted) GetFieldDefaulted;
  decltype(&TIFFIsTiled) IsTiled;
  decltype(&TIFFRGBAImageBegin) RGBAImageBegin;
  decltype(&TIFFRGBAImageEnd) RGBAImageEnd;
  decltype(&TIFFRGBAImageGet) RGBAImageGet;
  decltype(&TIFFRGBAImageOK) RGBAImageOK;
  decltype(&TIFFReadRGBAImageOriented) ReadRGBAImageOriented;
  decltype(&TIFFReadScanline) ReadScanline;
  decltype(&TIFFScanlineSize64) ScanlineSize64;
  decltype(&TIFFSetErrorHandler) SetErrorHandler;
  decltype(&TIFFSetField) SetField;
  decltype(&TIFFSetWarningHandler) SetWarningHandler;
  decltype(&TIFFWriteDirectory) WriteDirectory;
  decltype(&TIFFWriteScanline) WriteScanline;
};

// The library's functions, loaded on the first call; null when libtiff
// cannot be loaded (reading and writing TIFF then fail).
const Functions* functions();

}  // namespace kiv::tiff_library
