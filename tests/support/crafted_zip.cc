#include "support/crafted_zip.h"

#include <initializer_list>
#include <utility>

#include "archive/crc32.h"

namespace brindle::test {
namespace {

uint32_t CrcOf(const std::string& data) {
  Crc32 crc;
  crc.Update(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  return crc.Value();
}

// Appends little-endian fields, each a value and its width in bytes.
void Put(std::string* out, std::initializer_list<std::pair<uint32_t, int>> fields) {
  for (const auto& [value, width] : fields) {
    for (int i = 0; i < width; ++i) out->push_back(static_cast<char>(value >> (8 * i)));
  }
}

}  // namespace

TestEntry Stored(const std::string& name, const std::string& data) { return {name, data, data}; }

std::string BuildArchive(const std::vector<TestEntry>& entries, const std::string& comment) {
  constexpr uint32_t kTime = 0x24E16000;  // 2018-07-01 12:00
  std::string out;
  std::vector<uint32_t> offsets;
  const auto size = [](const TestEntry& e) {
    return static_cast<uint32_t>(e.stated_size >= 0 ? e.stated_size : static_cast<int64_t>(e.plain.size()));
  };
  const auto compressed = [](const TestEntry& e) {
    return static_cast<uint32_t>(e.stated_compressed >= 0 ? e.stated_compressed : static_cast<int64_t>(e.data.size()));
  };
  for (const TestEntry& e : entries) {
    const bool descriptor = e.flags & 8;
    offsets.push_back(out.size());
    Put(&out, {{0x04034b50, 4},
               {20, 2},
               {e.flags, 2},
               {e.method, 2},
               {kTime, 4},
               {descriptor ? 0 : CrcOf(e.plain), 4},
               {descriptor ? 0 : compressed(e), 4},
               {descriptor ? 0 : size(e), 4},
               {static_cast<uint32_t>(e.name.size()), 2},
               {0, 2}});
    out += e.name + e.data;
    if (descriptor) {
      Put(&out, {{0x08074b50, 4},
                 {CrcOf(e.plain), 4},
                 {static_cast<uint32_t>(e.data.size()), 4},
                 {static_cast<uint32_t>(e.plain.size()), 4}});
    }
  }
  const uint32_t directory = out.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    const TestEntry& e = entries[i];
    Put(&out, {{0x02014b50, 4},
               {e.made_by, 2},
               {20, 2},
               {e.flags, 2},
               {e.method, 2},
               {kTime, 4},
               {CrcOf(e.plain), 4},
               {compressed(e), 4},
               {e.directory_size >= 0 ? static_cast<uint32_t>(e.directory_size) : size(e), 4},
               {static_cast<uint32_t>(e.name.size()), 2},
               {0, 4},
               {0, 4},
               {e.external, 4},
               {offsets[e.header_of >= 0 ? e.header_of : i], 4}});
    out += e.name;
  }
  const uint32_t count = entries.size();
  Put(&out, {{0x06054b50, 4},
             {0, 4},
             {count, 2},
             {count, 2},
             {static_cast<uint32_t>(out.size() - directory), 4},
             {directory, 4},
             {static_cast<uint32_t>(comment.size()), 2}});
  return out + comment;
}

std::string DeflateStoredBlock(const std::string& data) {
  std::string out = "\x01";
  Put(&out, {{static_cast<uint32_t>(data.size()), 2}, {~static_cast<uint32_t>(data.size()) & 0xFFFF, 2}});
  return out + data;
}

}  // namespace brindle::test
