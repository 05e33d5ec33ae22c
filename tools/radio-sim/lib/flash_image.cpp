#include "flash_image.h"

void CFlashImage::Write(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) {
    Page& page = pages_[address >> kPageBits];
    const std::uint32_t offset = address & (kPageSize - 1);
    page.bytes[offset] = b;
    page.written.set(offset);
    ++address;
  }
}

std::uint8_t CFlashImage::Read(std::uint32_t address) const {
  const auto it = pages_.find(address >> kPageBits);
  return it == pages_.end() ? kErasedByte : it->second.bytes[address & (kPageSize - 1)];
}

bool CFlashImage::IsWritten(std::uint32_t address) const {
  const auto it = pages_.find(address >> kPageBits);
  return it != pages_.end() && it->second.written.test(address & (kPageSize - 1));
}

std::size_t CFlashImage::WrittenByteCount() const {
  std::size_t count = 0;
  for (const auto& [number, page] : pages_) count += page.written.count();
  return count;
}

std::uint32_t CFlashImage::LowestAddress() const {
  if (pages_.empty()) return 0;
  const auto& [number, page] = *pages_.begin();
  std::uint32_t offset = 0;
  while (!page.written.test(offset)) ++offset;  // a page exists only once written
  return (number << kPageBits) | offset;
}

std::uint32_t CFlashImage::HighestAddress() const {
  if (pages_.empty()) return 0;
  const auto& [number, page] = *pages_.rbegin();
  std::uint32_t offset = kPageSize - 1;
  while (!page.written.test(offset)) --offset;
  return (number << kPageBits) | offset;
}

std::uint64_t CFlashImage::DumpSize() const {
  if (pages_.empty()) return 0;
  return std::uint64_t{HighestAddress()} - LowestAddress() + 1;
}

std::vector<std::uint8_t> CFlashImage::Dump() const {
  std::vector<std::uint8_t> out(DumpSize(), kErasedByte);
  if (out.empty()) return out;
  const std::uint64_t lowest = LowestAddress();
  for (const auto& [number, page] : pages_) {
    const std::uint64_t pageStart = std::uint64_t{number} << kPageBits;
    for (std::uint32_t offset = 0; offset < kPageSize; ++offset) {
      if (page.written.test(offset)) out[pageStart + offset - lowest] = page.bytes[offset];
    }
  }
  return out;
}
