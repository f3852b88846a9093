// The bridge core's conversion on arbitrary encodings, both ways: a value
// made for the type (or a near miss) is converted into storage of exactly
// the size the toolkit measures, fenced by poisoned guard bytes that must
// stay as they were; what converted comes back as a value that converts to
// the same bytes. Raw bytes of types without pointers read as values that
// convert back to themselves.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fake_script.h"
#include "value_maker.h"

namespace {

using zelbridge::ScriptValue;

constexpr size_t guard = 32;
constexpr unsigned char guardByte = 0xa5;
constexpr int maxStorage = 1 << 16;

// Storage of size bytes between two poisoned guards: the address
// sanitizer reports a touch of a guard, and the guard bytes are checked
// again after unpoisoning.
class Fenced {
public:
  explicit Fenced(size_t size) : size_(size), block_(size + 2 * guard) {
    std::memset(block_.data(), guardByte, guard);
    std::memset(block_.data() + guard + size, guardByte, guard);
    ASAN_POISON_MEMORY_REGION(block_.data(), guard);
    ASAN_POISON_MEMORY_REGION(block_.data() + guard + size, guard);
  }
  ~Fenced() { check(); }
  char *data() { return block_.data() + guard; }
  void check() {
    ASAN_UNPOISON_MEMORY_REGION(block_.data(), block_.size());
    for (size_t i = 0; i < guard; ++i)
      if (static_cast<unsigned char>(block_[i]) != guardByte ||
          static_cast<unsigned char>(block_[guard + size_ + i]) != guardByte)
        std::abort(); // written outside the measured storage
    ASAN_POISON_MEMORY_REGION(block_.data(), guard);
    ASAN_POISON_MEMORY_REGION(block_.data() + guard + size_, guard);
  }

private:
  size_t size_;
  std::vector<char> block_;
};

bool hasPointerLetters(const std::string &type) {
  return type.find_first_of("*@#:^?") != std::string::npos;
}

// The product of every array count in the text: an upper bound on how
// many values its bytes read back as, which for elements of no size the
// storage does not bound.
bool fewValues(const std::string &type) {
  double product = 1;
  for (std::size_t at = type.find('['); at != std::string::npos;
       at = type.find('[', at + 1))
    product *= std::max(1.0, std::atof(type.c_str() + at + 1));
  return product <= 65536;
}

// Converted bytes come back as a value, which converts to the same bytes
// and the same value again.
void roundTrip(fake::Script &script, const char *type, const char *bytes,
               size_t size) {
  std::string error;
  ScriptValue back = zelbridge::fromC(script, type, bytes, error);
  if (!back)
    std::abort(); // what converted one way must convert back
  Fenced again(size);
  std::memset(again.data(), 0, size);
  zelbridge::Arena arena;
  if (!zelbridge::toC(script, back, type, again.data(), false, arena, error))
    std::abort();
  again.check();
  ScriptValue twice = zelbridge::fromC(script, type, again.data(), error);
  if (!twice || !fake::Script::same(back, twice))
    std::abort();
  // A C string converts to a copy of its text, anything else to itself.
  if (std::strchr(type, '*') == nullptr &&
      std::memcmp(again.data(), bytes, size) != 0)
    std::abort();
}

void fromValue(const char *type, size_t size, Choices &choices) {
  fake::Script script;
  Maker maker(script, choices);
  ScriptValue value = maker.value(type, 0);
  Fenced storage(size);
  std::memset(storage.data(), 0, size);
  zelbridge::Arena arena;
  std::string error;
  bool converted =
      zelbridge::toC(script, value, type, storage.data(), false, arena, error);
  storage.check();
  if (!converted) {
    if (error.empty() || error.size() > 1000)
      std::abort(); // a failure names what was wrong, briefly
    return;
  }
  roundTrip(script, type, storage.data(), size);
}

// Raw bytes of a type with no pointer in it: a value that converts back
// to a value equal to itself.
void fromBytes(const char *type, size_t size, Choices &choices) {
  Fenced storage(size);
  for (size_t i = 0; i < size; ++i)
    storage.data()[i] = static_cast<char>(choices.next(256));
  fake::Script script;
  std::string error;
  ScriptValue value = zelbridge::fromC(script, type, storage.data(), error);
  storage.check();
  if (!value)
    return;
  Fenced copy(size);
  std::memset(copy.data(), 0, size);
  zelbridge::Arena arena;
  if (!zelbridge::toC(script, value, type, copy.data(), false, arena, error))
    std::abort();
  copy.check();
  ScriptValue again = zelbridge::fromC(script, type, copy.data(), error);
  if (!again || !fake::Script::same(value, again))
    std::abort();
}

} // namespace

// The first line is the type; the rest drives the values.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  std::size_t newline = input.find('\n');
  if (newline == std::string::npos)
    return 0;
  std::string type = input.substr(0, newline);
  if (type.find('\0') != std::string::npos)
    return 0;
  int measured = objc_sizeof_type(type.c_str());
  if (measured < 0 || measured > maxStorage)
    return 0;
  const std::uint8_t *rest = data + newline + 1;
  Choices choices(rest, size - newline - 1);
  id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  fromValue(type.c_str(), static_cast<size_t>(measured), choices);
  if (!hasPointerLetters(type) && fewValues(type))
    fromBytes(type.c_str(), static_cast<size_t>(measured), choices);
  objc_send<void>(pool, "release");
  return 0;
}
