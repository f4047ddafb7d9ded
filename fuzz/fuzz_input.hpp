#pragma once
// Turns the bytes of one fuzz input into the values a target needs. Every
// value is defined for every input, so an input always replays the same way.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace polygons::fuzz {

class fuzz_input {
 public:
  fuzz_input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return size_ == 0; }

  std::uint8_t byte() {
    if (size_ == 0) return 0;
    std::uint8_t b = *data_;
    ++data_;
    --size_;
    return b;
  }

  // A value in [low, high], taken from as few bytes as the span needs.
  std::int64_t in_range(std::int64_t low, std::int64_t high) {
    std::uint64_t span = static_cast<std::uint64_t>(high) - static_cast<std::uint64_t>(low);
    std::uint64_t raw = 0;
    for (std::uint64_t left = span; left != 0; left >>= 8) raw = (raw << 8) | byte();
    if (span != UINT64_MAX) raw %= span + 1;
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(low) + raw);
  }

  std::int64_t any_int64() {
    std::uint64_t raw = 0;
    for (int i = 0; i < 8; ++i) raw = (raw << 8) | byte();
    return static_cast<std::int64_t>(raw);
  }

  // Any double, NaN, infinities and subnormals included.
  double any_double() {
    std::uint64_t raw = static_cast<std::uint64_t>(any_int64());
    double value;
    std::memcpy(&value, &raw, sizeof value);
    return value;
  }

  // Up to `max_length` bytes of text.
  std::string text(std::size_t max_length) {
    std::size_t length = static_cast<std::size_t>(in_range(0, static_cast<std::int64_t>(max_length)));
    if (length > size_) length = size_;
    std::string out(reinterpret_cast<const char*>(data_), length);
    data_ += length;
    size_ -= length;
    return out;
  }

  // Everything not yet consumed.
  std::string_view rest() const { return {reinterpret_cast<const char*>(data_), size_}; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace polygons::fuzz
