/* jscpucfg: prints the header jscpucfg.h, which describes the machine this
   program was compiled for to the JavaScript engine's build: byte order,
   the size in bytes and bits (with its base-2 logarithm) of the basic
   types, their alignment, and the direction in which the stack grows.

   Every value is found out here, while the program runs, from objects of
   the types themselves, so that the header follows whatever compiler and
   flags built this program (-m32 in this project). */
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

/* Bits in one byte: shift a one through an unsigned char until it falls
   out. */
long bitsPerByte() {
  long bits = 0;
  for (volatile unsigned char probe = 1; probe != 0;
       probe = static_cast<unsigned char>(probe << 1))
    ++bits;
  return bits;
}

/* The first byte in memory of a multi-byte integer whose lowest byte is 1
   tells the byte order. */
bool littleEndian() {
  volatile std::uint32_t word = 1;
  unsigned char first;
  std::memcpy(&first, const_cast<std::uint32_t *>(&word), 1);
  return first == 1;
}

/* The bytes one object of T takes: the distance between two neighbours in
   an array. */
template <typename T> long bytesOf() {
  static T pair[2];
  volatile char *first = reinterpret_cast<char *>(&pair[0]);
  volatile char *second = reinterpret_cast<char *>(&pair[1]);
  return static_cast<long>(second - first);
}

/* Where a T lands after a lone char in a struct is its alignment. */
template <typename T> long alignmentOf() {
  struct Probe {
    char pad;
    T value;
  };
  static Probe probe;
  volatile char *start = reinterpret_cast<char *>(&probe);
  volatile char *value = reinterpret_cast<char *>(&probe.value);
  return static_cast<long>(value - start);
}

long log2Of(long value) {
  long log = 0;
  while ((1L << log) < value)
    ++log;
  return log;
}

/* Frame addresses of a caller and of a callee that is never inlined. */
__attribute__((noinline)) std::uintptr_t calleeFrame() {
  return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

__attribute__((noinline)) long stackGrowthDirection() {
  auto caller = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  std::uintptr_t callee = calleeFrame();
  return callee < caller ? -1 : 1;
}

void define(const char *name, long value) {
  std::printf("#define %-28s %ldL\n", name, value);
}

/* The three lines of one type: bytes, bits and log2 of the bits. */
void describeType(const char *type, long bytes, long bitsInByte) {
  char name[64];
  std::snprintf(name, sizeof name, "JS_BYTES_PER_%s", type);
  define(name, bytes);
  std::snprintf(name, sizeof name, "JS_BITS_PER_%s", type);
  define(name, bytes * bitsInByte);
  std::snprintf(name, sizeof name, "JS_BITS_PER_%s_LOG2", type);
  define(name, log2Of(bytes * bitsInByte));
}

void describeAlignment(const char *type, long alignment) {
  char name[64];
  std::snprintf(name, sizeof name, "JS_ALIGN_OF_%s", type);
  define(name, alignment);
}

void describeByteOrder() {
  if (littleEndian()) {
    std::printf("#define IS_LITTLE_ENDIAN 1\n#undef  IS_BIG_ENDIAN\n\n");
  } else {
    std::printf("#define IS_BIG_ENDIAN 1\n#undef  IS_LITTLE_ENDIAN\n\n");
  }
}

void describeSizes(long bits) {
  define("JS_BYTES_PER_BYTE", bytesOf<unsigned char>());
  define("JS_BITS_PER_BYTE", bits);
  define("JS_BITS_PER_BYTE_LOG2", log2Of(bits));
  describeType("SHORT", bytesOf<short>(), bits);
  describeType("INT", bytesOf<int>(), bits);
  describeType("INT64", bytesOf<std::int64_t>(), bits);
  describeType("LONG", bytesOf<long>(), bits);
  describeType("FLOAT", bytesOf<float>(), bits);
  describeType("DOUBLE", bytesOf<double>(), bits);
  /* A word is the integer as wide as a pointer. */
  describeType("WORD", bytesOf<std::uintptr_t>(), bits);
  std::printf("\n");
}

void describeAlignments() {
  describeAlignment("SHORT", alignmentOf<short>());
  describeAlignment("INT", alignmentOf<int>());
  describeAlignment("LONG", alignmentOf<long>());
  describeAlignment("INT64", alignmentOf<std::int64_t>());
  describeAlignment("FLOAT", alignmentOf<float>());
  describeAlignment("DOUBLE", alignmentOf<double>());
  describeAlignment("POINTER", alignmentOf<void *>());
  std::printf("\n");
}

} // namespace

int main() {
  std::printf("/* jscpucfg.h: the machine jscpucfg was built for; generated "
              "by jscpucfg,\n   do not edit. */\n");
  std::printf("#ifndef jscpucfg_h___\n#define jscpucfg_h___\n\n");
  describeByteOrder();
  describeSizes(bitsPerByte());
  describeAlignments();
  define("JS_STACK_GROWTH_DIRECTION", stackGrowthDirection());
  std::printf("\n#endif /* jscpucfg_h___ */\n");
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
