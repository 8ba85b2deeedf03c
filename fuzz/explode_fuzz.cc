// fuzz-link: brindle_archive
// Explode of arbitrary bytes: the first byte gives the variant (general
// purpose flags 0x2 and 0x4), the next three the stated size (at most
// 1 MiB), the rest is the stream.

#include <cstddef>
#include <cstdint>

#include "archive/checked_sink.h"
#include "archive/exploder.h"
#include "archive/memory_input.h"

namespace {

class NullSink : public brindle::OutputSink {
 public:
  int Write(const uint8_t*, size_t) override { return brindle::kZipOk; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int64_t stated = (data[1] | data[2] << 8 | data[3] << 16) % ((1 << 20) + 1);
  brindle::MemoryInput input(data + 4, size - 4);
  NullSink null_sink;
  brindle::CheckedSink sink(null_sink, stated);
  brindle::Exploder(input, sink, stated, (data[0] & 0x2) != 0, (data[0] & 0x4) != 0).Run();
  return 0;
}
