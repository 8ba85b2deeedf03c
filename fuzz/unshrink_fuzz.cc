// fuzz-link: brindle_archive
// Unshrink of arbitrary bytes: the first three give the stated size (at most
// 1 MiB), the rest is the stream.

#include <cstddef>
#include <cstdint>

#include "archive/checked_sink.h"
#include "archive/memory_input.h"
#include "archive/unshrinker.h"

namespace {

class NullSink : public brindle::OutputSink {
 public:
  int Write(const uint8_t*, size_t) override { return brindle::kZipOk; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int64_t stated = (data[0] | data[1] << 8 | data[2] << 16) % ((1 << 20) + 1);
  brindle::MemoryInput input(data + 3, size - 3);
  NullSink null_sink;
  brindle::CheckedSink sink(null_sink, stated);
  brindle::Unshrinker(input, sink, stated).Run();
  return 0;
}
