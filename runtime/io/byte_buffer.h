// A growable byte buffer for decoders: like std::vector<uint8_t>, but
// growing does not zero the new bytes, and realloc may move a large block
// by remapping its pages instead of copying them. A failed allocation is a
// false result, never an exception or an abort: the sizes come from data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <utility>

namespace kiv::compress {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ByteBuffer(ByteBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ~ByteBuffer() { std::free(data_); }

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  const uint8_t* begin() const { return data_; }
  const uint8_t* end() const { return data_ + size_; }
  std::span<const uint8_t> view() const { return {data_, size_}; }

  // Sets the size; bytes past the old size are not initialised. False,
  // with nothing changed, when the memory cannot be had.
  [[nodiscard]] bool resize(size_t size) {
    if (size > capacity_) {
      void* grown = std::realloc(data_, size);
      if (grown == nullptr) return false;
      data_ = static_cast<uint8_t*>(grown);
      capacity_ = size;
    }
    size_ = size;
    return true;
  }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace kiv::compress
