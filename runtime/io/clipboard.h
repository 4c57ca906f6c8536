// read-clipboard and write-clipboard: Kiv values to and from the
// clipboard host (clipboard_host.h).
//
// read   false when the clipboard cannot be had or its data cannot be
//        read; none when it holds nothing of a known type; otherwise, by
//        the first type present in this order: text as a string!, a file
//        list as a block! of file! (through the library's to-kiv-file),
//        an image (PNG, JPEG, GIF, then the bitmap) as an image!.
// write  a string! (as UTF-8, line ends as they are), a block! of file!
//        or string! paths (made absolute against the current directory),
//        an image! (PNG, then the bitmap; one of no pixels writes nothing)
//        or none (empties the clipboard). Everything is prepared before
//        the clipboard is taken; true when the host took it all. Any other
//        value, or a block holding something else than a path, raises
//        script/invalid-arg.
// Opening is tried three times, a millisecond apart, letting the host
// answer what waits for it after each failed try.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv::clipboard {

// What the clipboard holds, as read-clipboard answers it. May collect and
// runs Kiv code (to-kiv-file).
Cell read();
// Writes `data` as write-clipboard does; raises script/invalid-arg for a
// value it cannot write. May collect.
bool write(Val data);

// Registers the routines read-clipboard and write-clipboard.
void add_routines();

}  // namespace kiv::clipboard
