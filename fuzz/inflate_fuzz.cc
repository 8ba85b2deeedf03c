// fuzz-link: brindle_archive
// Inflate of arbitrary bytes, the output cut off at 1 MiB.

#include <cstddef>
#include <cstdint>

#include "archive/checked_sink.h"
#include "archive/inflater.h"
#include "archive/memory_input.h"

namespace {

class NullSink : public brindle::OutputSink {
 public:
  int Write(const uint8_t*, size_t) override { return brindle::kZipOk; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  brindle::MemoryInput input(data, size, 1 + size % 4096);
  NullSink null_sink;
  brindle::CheckedSink sink(null_sink, 1 << 20);
  brindle::Inflater(input, sink).Run();
  return 0;
}
