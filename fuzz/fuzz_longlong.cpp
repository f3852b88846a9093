// zelObjC_lltostr and zelObjC_ulltostr against the C library's %lld and
// %llu: the same digits and the same length, for the input's 64-bit values
// and their neighbours.
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

void compareSigned(long long value) {
  char ours[32];
  char theirs[32];
  std::memset(ours, 0x7f, sizeof ours);
  int answered = zelObjC_lltostr(value, ours);
  int length = std::snprintf(theirs, sizeof theirs, "%lld", value);
  if (std::strcmp(ours, theirs) != 0 || answered != length ||
      ours[length + 1] != 0x7f) // no more than the text and its NUL
    std::abort();
}

void compareUnsigned(unsigned long long value) {
  char ours[32];
  char theirs[32];
  std::memset(ours, 0x7f, sizeof ours);
  int answered = zelObjC_ulltostr(value, ours);
  int length = std::snprintf(theirs, sizeof theirs, "%llu", value);
  if (std::strcmp(ours, theirs) != 0 || answered != length ||
      ours[length + 1] != 0x7f)
    std::abort();
}

} // namespace

// Every 8 bytes are one value; shorter inputs are padded with zeros.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  for (std::size_t at = 0; at < size || at == 0; at += 8) {
    unsigned long long bits = 0;
    for (std::size_t i = 0; i < 8 && at + i < size; ++i)
      bits |= static_cast<unsigned long long>(data[at + i]) << (8 * i);
    for (unsigned long long value : {bits, bits - 1, bits + 1}) {
      compareUnsigned(value);
      compareSigned(static_cast<long long>(value));
    }
    // Small magnitudes and powers of ten, where digit counts change.
    compareSigned(static_cast<long long>(bits % 1000000) - 500000);
  }
  return 0;
}
