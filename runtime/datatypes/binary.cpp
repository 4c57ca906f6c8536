#include "runtime/datatypes/binary.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/memory.h"
#include "runtime/core/series.h"

namespace kiv::binary {

Cell make(std::string_view bytes) {
  const auto count = static_cast<uint32_t>(bytes.size());
  const NodeId node = memory::new_series(std::max(count, 1u), 1);
  SeriesBuf* buffer = memory::buffer(node);
  if (count != 0) std::memcpy(buffer->head_ptr(), bytes.data(), count);
  buffer->tail = buffer->head + count;
  return series::make(TypeId::binary, node);
}

std::string bytes_from_index(const Cell& value) {
  const SeriesBuf* buf = memory::buffer(series::node_of(value));
  const uint32_t from = std::min(series::index_of(value), buf->length());
  return std::string(reinterpret_cast<const char*>(buf->head_ptr()) + from, buf->length() - from);
}

}  // namespace kiv::binary
