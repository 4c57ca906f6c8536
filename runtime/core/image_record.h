// The record behind an image! value.
//
// An image! cell names (in w2) a small byte series holding this record; the
// pixels themselves live in the C heap, in a bitmap owned by an external
// handle of the "image" class (handles.h). The collector marks the record's
// series and, through it, the handle; when no image! value reaches the record
// any more, the handle's sweep releases the pixel memory. An image of zero
// width or height has no record (w2 is 0).
//
// The collector reads the handle from here, which is why the layout lives in
// the core layer; the imaging layer (runtime/imaging/) fills it.
#pragma once

#include <cstdint>

#include "runtime/core/memory.h"

namespace kiv::image_record {

struct Record {
  uint32_t flags;  // record_flag bits
  uint32_t size;   // width in bits 0-15, height in bits 16-31
  int32_t handle;  // the external handle owning the bitmap
  uint32_t spare;
};
static_assert(sizeof(Record) == 16);

namespace record_flag {
inline constexpr uint32_t editable = 0x01;  // the pixels are in a straight-alpha buffer
inline constexpr uint32_t changed = 0x02;   // the pixels were written since the record was made
}  // namespace record_flag

// The record of a live image series. Valid until the next allocation.
inline Record* of(NodeId node) { return reinterpret_cast<Record*>(memory::buffer(node)->data()); }

}  // namespace kiv::image_record
