#pragma once
// The radio's flash memory: sparse, with 32-bit addresses. Bytes never written
// read as 0xFF, the value of erased flash.

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

inline constexpr std::uint8_t kErasedByte = 0xFF;

class CFlashImage {
 public:
  // Addresses wrap around at 2^32, as the radio's address arithmetic does.
  void Write(std::uint32_t address, std::span<const std::uint8_t> bytes);
  std::uint8_t Read(std::uint32_t address) const;
  bool IsWritten(std::uint32_t address) const;
  void Erase() { pages_.clear(); }
  bool IsEmpty() const { return pages_.empty(); }
  std::size_t WrittenByteCount() const;
  // Only meaningful when the image is not empty.
  std::uint32_t LowestAddress() const;
  std::uint32_t HighestAddress() const;
  // Bytes from LowestAddress to HighestAddress with the gaps erased (0xFF).
  // Empty for an empty image.
  std::vector<std::uint8_t> Dump() const;
  // The size Dump would have, without building it: a scattered image can span
  // far more than it holds.
  std::uint64_t DumpSize() const;

 private:
  static constexpr std::uint32_t kPageBits = 12;
  static constexpr std::uint32_t kPageSize = 1u << kPageBits;
  struct Page {
    Page() { bytes.fill(kErasedByte); }
    std::array<std::uint8_t, kPageSize> bytes;
    std::bitset<kPageSize> written;
  };
  std::map<std::uint32_t, Page> pages_;  // by page number
};
