#pragma once

#include <cstddef>
#include <cstdint>

namespace brindle {

// Little-endian fields and record signatures of the ZIP format.
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
inline constexpr uint32_t kEndRecordSignature = 0x06054b50;
inline constexpr uint32_t kDataDescriptorSignature = 0x08074b50;

inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kEndRecordSize = 22;

inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagLargeDictionary = 0x0002;
inline constexpr uint16_t kFlagLiteralTree = 0x0004;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8 = 0x0800;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodShrunk = 1;
inline constexpr uint16_t kMethodImploded = 6;
inline constexpr uint16_t kMethodDeflated = 8;
// The supported methods as a bit mask of method numbers.
inline constexpr uint32_t kSupportedMethods = 0x143;

inline constexpr size_t kMaxNameLength = 259;
// A size field whose value lives in a Zip64 extra field instead.
inline constexpr uint32_t kZip64Marker = 0xFFFFFFFF;

// Reads exactly `size` bytes at `offset`; false on failure or end of file.
bool ReadAt(int fd, int64_t offset, uint8_t* buffer, size_t size);

}  // namespace brindle
