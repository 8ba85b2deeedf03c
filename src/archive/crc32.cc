#include "archive/crc32.h"

#include <array>

namespace brindle {
namespace {

using Tables = std::array<std::array<uint32_t, 256>, 8>;

// Table k gives the CRC contribution of a byte followed by k zero bytes, so
// eight table look-ups advance the CRC by eight bytes at once.
constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][n] = c;
  }
  for (int k = 1; k < 8; ++k) {
    for (uint32_t n = 0; n < 256; ++n) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
  }
  return t;
}

constexpr Tables kTables = MakeTables();

uint32_t LoadLittle32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

void Crc32::Update(const uint8_t* data, size_t size) {
  uint32_t c = state_;
  while (size >= 8) {
    const uint32_t low = LoadLittle32(data) ^ c;
    const uint32_t high = LoadLittle32(data + 4);
    c = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
        kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
        kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
    data += 8;
    size -= 8;
  }
  while (size-- > 0) c = kTables[0][(c ^ *data++) & 0xFF] ^ (c >> 8);
  state_ = c;
}

}  // namespace brindle
