// Instance variables written through the bridge core, bitfields included,
// against a reference layout worked out here from the descriptions alone:
// a class and a subclass (hidden or not) are defined through the core, and
// each variable written changes only the bytes (for a bitfield: the bits)
// that the reference gives it, and reads back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fake_script.h"
#include "value_maker.h"

namespace {

// Where the reference puts a variable: bits for a bitfield, bytes else.
struct Place {
  std::string name;
  std::string type;
  bool bitfield;
  long long first; // bit or byte
  long long width; // bits or bytes
};

// The layout rule: one member after another with no rounding of offsets;
// a run of adjacent bitfields shares whole bytes, as many as its bits
// need, rounded up to 1, 2 or 4 by its size.
class Reference {
public:
  explicit Reference(long long start) : size_(start) {}

  bool read(const char *description, std::vector<Place> &places);
  long long size() const { return size_; }

private:
  void closeRun() {
    if (!runOpen_)
      return;
    long long bytes = (bits_ + 7) / 8;
    long long alignment = bytes == 1 || bytes == 2 ? bytes : 4;
    size_ += (bytes + alignment - 1) / alignment * alignment;
    runOpen_ = false;
    bits_ = 0;
  }

  long long size_;
  bool runOpen_ = false;
  long long bits_ = 0;
};

bool Reference::read(const char *description, std::vector<Place> &places) {
  const char *p = std::strchr(description, '=');
  if (!p)
    return true;
  for (++p; *p && *p != '}';) {
    Place place;
    if (*p == '"') {
      const char *close = std::strchr(p + 1, '"');
      if (!close)
        return false;
      place.name.assign(p + 1, close);
      p = close + 1;
    }
    const char *body = objc_skip_type_qualifiers(p);
    if (*body == '}' || !*body)
      break; /* qualifiers before the closing brace are no member */
    place.bitfield = *body == 'b';
    if (place.bitfield) {
      const char *digits = body + 1;
      long long width = 0;
      while (*digits >= '0' && *digits <= '9')
        width = width * 10 + (*digits++ - '0');
      place.type.assign(p, digits);
      if (!runOpen_)
        runOpen_ = true;
      place.first = size_ * 8 + bits_;
      place.width = width;
      bits_ += width;
      p = digits;
    } else {
      closeRun();
      const char *end = objc_skip_typespec(p);
      place.type.assign(p, end);
      place.first = size_;
      place.width = objc_sizeof_type(place.type.c_str());
      size_ += objc_aligned_size(place.type.c_str());
      p = end;
    }
    places.push_back(place);
  }
  closeRun();
  return true;
}

bool bitSet(const unsigned char *bytes, long long bit) {
  return bytes[bit / 8] & (1u << (bit % 8));
}

// Only the bytes or bits of the place changed between before and after.
bool changedWithin(const std::vector<unsigned char> &before,
                   const unsigned char *after, const Place &place) {
  for (long long bit = 0; bit < static_cast<long long>(before.size()) * 8;
       ++bit) {
    bool inside =
        place.bitfield
            ? bit >= place.first && bit < place.first + place.width
            : bit / 8 >= place.first && bit / 8 < place.first + place.width;
    if (!inside && bitSet(before.data(), bit) != bitSet(after, bit))
      return false;
  }
  return true;
}

std::vector<unsigned char> snapshot(id object, long size) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(object);
  return std::vector<unsigned char>(bytes, bytes + size);
}

void writeBitfield(fake::Script &script, id object, long size,
                   const Place &place) {
  if (place.width < 1 || place.width > 32)
    return;
  const auto *bytes = reinterpret_cast<const unsigned char *>(object);
  std::vector<unsigned char> before = snapshot(object, size);
  std::string error;
  long long ones = (1LL << place.width) - 1;
  if (!zelbridge::setIvar(script, object, place.name.c_str(),
                          script.integer(ones), error))
    std::abort(); // a bitfield the class has is placed
  if (!changedWithin(before, bytes, place))
    std::abort();
  for (long long bit = place.first; bit < place.first + place.width; ++bit)
    if (!bitSet(bytes, bit))
      std::abort();
  ScriptValue back = nullptr;
  if (!zelbridge::getIvar(script, object, place.name.c_str(), back, error) ||
      fake::Script::of(back).integer != ones)
    std::abort();
  if (!zelbridge::setIvar(script, object, place.name.c_str(), script.integer(0),
                          error) ||
      !changedWithin(before, bytes, place))
    std::abort();
}

void writeValue(fake::Script &script, id object, long size, const Place &place,
                Choices &choices) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(object);
  std::vector<unsigned char> before = snapshot(object, size);
  Maker maker(script, choices);
  std::string error;
  bool written = zelbridge::setIvar(script, object, place.name.c_str(),
                                    maker.value(place.type.c_str(), 0), error);
  if (!changedWithin(before, bytes, place))
    std::abort();
  if (!written)
    return;
  ScriptValue first = nullptr;
  ScriptValue second = nullptr;
  if (!zelbridge::getIvar(script, object, place.name.c_str(), first, error) ||
      !zelbridge::setIvar(script, object, place.name.c_str(), first, error) ||
      !zelbridge::getIvar(script, object, place.name.c_str(), second, error) ||
      !fake::Script::same(first, second))
    std::abort(); // read back as written
}

// Names used once in the whole chain: a lookup by name finds them alone.
bool unique(const std::vector<Place> &all, const std::string &name) {
  int uses = 0;
  for (const Place &place : all)
    uses += place.name == name;
  return uses == 1 && !name.empty();
}

void writeEach(Class cls, const std::vector<Place> &all, Choices &choices) {
  id object = objc_send(reinterpret_cast<id>(cls), "new");
  if (!object)
    return;
  fake::Script script;
  for (const Place &place : all) {
    if (!unique(all, place.name))
      continue;
    if (place.bitfield)
      writeBitfield(script, object, cls->instance_size, place);
    else
      writeValue(script, object, cls->instance_size, place, choices);
  }
  objc_send<void>(object, "release");
}

// Defines the class through the core and checks its layout against the
// reference; null when the core refused it.
Class define(const std::string &name, Class superclass,
             const std::string &description, std::vector<Place> &all) {
  std::string error;
  Class cls = zelbridge::defineClass(name.c_str(), superclass,
                                     description.c_str(), error);
  if (!cls) {
    if (error.empty())
      std::abort();
    return nullptr;
  }
  Reference reference(superclass->instance_size);
  if (!reference.read(description.c_str(), all) ||
      reference.size() != cls->instance_size)
    std::abort(); // the class and the reference disagree on its size
  return cls;
}

void destroy(Class cls) {
  if (cls && !ZelObjC_DestroyClass(cls))
    std::abort();
}

} // namespace

// Line one names the classes (a leading '!' hides the subclass); lines two
// and three describe the class and its subclass; the rest drives values.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    std::size_t newline = input.find('\n', start);
    if (newline == std::string::npos)
      return 0;
    lines.push_back(input.substr(start, newline - start));
    start = newline + 1;
  }
  for (const std::string &line : lines)
    if (line.find('\0') != std::string::npos)
      return 0;
  Choices choices(data + start, size - start);
  bool hidden = !lines[0].empty() && lines[0][0] == '!';
  std::string base = "ZelIvar" + lines[0].substr(hidden ? 1 : 0);
  std::string sub = (hidden ? "!" : "") + base + "Sub";
  id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  std::vector<Place> all;
  Class root = reinterpret_cast<Class>(objc_getClass("NSObject"));
  if (Class cls = define(base, root, lines[1], all)) {
    std::vector<Place> own = all;
    if (cls->instance_size <= (1 << 16))
      writeEach(cls, own, choices);
    Class subclass = define(sub, cls, lines[2], all);
    if (subclass && subclass->instance_size <= (1 << 16))
      writeEach(subclass, all, choices);
    destroy(subclass);
    destroy(cls);
  }
  objc_send<void>(pool, "release");
  return 0;
}
