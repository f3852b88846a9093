// Type encodings on arbitrary text: every walk stays inside the text and
// ends, a type reads nothing past the end its skip gives and measures as
// that spanned text alone, the work stays in proportion to the text, and
// well-formed types built from the input measure as an independent
// reference gives, nested ones too, and are compatible with themselves.
// The walks are compiled in with their work counter.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include <zelObjCRuntime/zelObjCRuntime.h>

#include "encoding.h"

namespace zel {
unsigned long long workDone = 0;
}

namespace {

// A step must move forward and stay inside the text (the NUL included).
const char *checkedStep(const char *from, const char *to,
                        const std::string &text) {
  const char *end = text.c_str() + text.size();
  if (to < from || to > end)
    std::abort();
  return to;
}

void walk(const std::string &text) {
  const char *start = text.c_str();
  checkedStep(start, objc_skip_type_qualifiers(start), text);
  checkedStep(start, objc_skip_typespec(start), text);
  checkedStep(start, objc_skip_offset(start), text);
  // A signature walk ends: each step either moves or reaches the NUL.
  for (const char *p = start; *p;) {
    const char *next = checkedStep(p, objc_skip_argspec(p), text);
    if (next == p)
      break;
    p = next;
  }
}

struct Answers {
  int size, alignment, aligned, promoted;
  int kinds[4], sizes[4], supported[4];
};

// Sizes wrap at 32 bits like the register arithmetic (a count of 2^31
// elements gives a negative one), so only the kind is checked here.
Answers answersFor(const char *type) {
  Answers a = {objc_sizeof_type(type),
               objc_alignof_type(type),
               objc_aligned_size(type),
               objc_promoted_size(type),
               {},
               {},
               {}};
  for (int flags = 0; flags <= (APPLY_ARRAY_AS_POINTER | APPLY_PROMOTE);
       ++flags) {
    ApplyVal val = {-1, -1, nullptr};
    a.supported[flags] = zelObjC_TypeToApplyVal(type, flags, &val);
    if (a.supported[flags] &&
        (val.kind < APPLY_POINTER || val.kind > APPLY_AGGREGATE))
      std::abort();
    a.kinds[flags] = val.kind;
    a.sizes[flags] = val.size;
  }
  return a;
}

// The spanned text copied so that its NUL is the last byte before a page
// that cannot be read: reading past the span faults.
class GuardedCopy {
public:
  explicit GuardedCopy(const std::string &text) {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    length_ = ((text.size() + 1 + page_ - 1) / page_ + 1) * page_;
    void *m = mmap(nullptr, length_, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED)
      std::abort();
    base_ = static_cast<char *>(m);
    mprotect(base_ + length_ - page_, page_, PROT_NONE);
    text_ = base_ + length_ - page_ - text.size() - 1;
    std::memcpy(text_, text.c_str(), text.size() + 1);
  }
  ~GuardedCopy() { munmap(base_, length_); }
  const char *text() const { return text_; }

private:
  size_t page_, length_;
  char *base_;
  char *text_;
};

// Bytes read per byte of text, with room for the fixed cost of a call. A
// walk that went back over nested text (length times depth, or worse)
// passes this bound on inputs of a few hundred bytes.
constexpr unsigned long long workPerByte = 64;
constexpr unsigned long long workPerCall = 256;

template <typename Call> void withinBudget(const std::string &text, Call call) {
  zel::workDone = 0;
  call();
  if (zel::workDone > workPerByte * text.size() + workPerCall)
    std::abort();
}

void measure(const std::string &text) {
  const char *type = text.c_str();
  Answers whole = answersFor(type);
  const std::string span(type, objc_skip_typespec(type));
  GuardedCopy copy(span);
  if (objc_skip_typespec(copy.text()) != copy.text() + span.size())
    std::abort();
  Answers alone = answersFor(copy.text());
  if (std::memcmp(&whole, &alone, sizeof whole) != 0)
    std::abort(); // text after the span changed an answer
  withinBudget(text, [&] { objc_skip_typespec(type); });
  withinBudget(text, [&] { objc_sizeof_type(type); });
  withinBudget(text, [&] {
    ApplyVal val;
    zelObjC_TypeToApplyVal(type, 0, &val);
  });
  withinBudget(text, [&] { zelObjC_CompatibleTypes(type, type); });
}

// ---- Well-formed types built from the input ----

// Reads the input as choices; past its end every choice is 0.
class Choices {
public:
  Choices(const std::uint8_t *data, std::size_t size)
      : data_(data), size_(size) {}
  unsigned next(unsigned range) {
    return pos_ < size_ ? data_[pos_++] % range : 0;
  }

private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// What the layout rules give a generated type, worked out as it is
// generated: the reference the measuring functions are compared with.
struct Reference {
  long long size;
  long long alignment;
};

long long roundUp(long long value, long long alignment) {
  if (value == 0 || alignment <= 0)
    return value;
  return (value + alignment - 1) / alignment * alignment;
}

Reference bitfieldRun(long long bits) {
  long long bytes = bits == 0 ? 0 : (bits + 7) / 8;
  return {bytes, bytes == 1 || bytes == 2 ? bytes : 4};
}

Reference scalarReference(char letter) {
  switch (letter) {
  case 'c':
  case 'C':
    return {1, 1};
  case 's':
  case 'S':
    return {2, 2};
  case 'q':
  case 'Q':
  case 'd':
    return {8, 4};
  default:
    return {4, 4};
  }
}

// A generated type that is not a bitfield (a bitfield's skip takes the
// whole run it belongs to): where it starts and ends, and its layout.
struct Span {
  std::size_t start, end;
  Reference layout;
};

class Generator {
public:
  explicit Generator(Choices &choices) : choices_(choices) {}

  // Appends one type; bits is set for a bitfield (its width), else -1.
  // A pointer's target is no bitfield: its run would take in a bitfield
  // member behind the pointer.
  Reference type(std::string &out, int depth, long long &bits,
                 bool bitfield = true);
  std::vector<Span> spans;

private:
  Reference members(std::string &out, int depth, bool isStruct);

  Choices &choices_;
};

Reference Generator::members(std::string &out, int depth, bool isStruct) {
  unsigned count = choices_.next(4);
  long long offset = 0;
  Reference whole = {0, isStruct ? 4 : 0};
  long long run = -1; // bits of the open bitfield run
  auto place = [&](Reference member) {
    if (isStruct) {
      if (offset != 0)
        offset = roundUp(offset, member.alignment);
      offset += member.size;
    } else {
      whole.size = std::max(whole.size, member.size);
      whole.alignment = std::max(whole.alignment, member.alignment);
    }
  };
  for (unsigned i = 0; i < count; ++i) {
    if (choices_.next(2))
      out += "\"m" + std::to_string(i) + "\"";
    long long bits = -1;
    Reference member = type(out, depth + 1, bits);
    if (bits >= 0) { // adjacent bitfields, names between, are one run
      run = run < 0 ? bits : run + bits;
      continue;
    }
    if (run >= 0)
      place(bitfieldRun(run));
    run = -1;
    place(member);
  }
  if (run >= 0)
    place(bitfieldRun(run));
  if (isStruct)
    whole.size = offset;
  return whole;
}

Reference Generator::type(std::string &out, int depth, long long &bits,
                          bool bitfield) {
  static const char scalars[] = "cCsSiIlLqQfdv*#:?@";
  const std::size_t start = out.size();
  if (choices_.next(4) == 0)
    out += 'r';
  unsigned pick = depth > 12 ? 0 : choices_.next(8);
  if (pick == 6 && !bitfield)
    pick = 0;
  Reference layout = {4, 4};
  long long inner = -1;
  bits = -1;
  switch (pick) {
  case 1:
    out += '^';
    type(out, depth + 1, inner, false);
    break;
  case 2: {
    unsigned count = choices_.next(5);
    out += '[' + std::to_string(count);
    Reference element = type(out, depth + 1, inner);
    if (inner >= 0)
      element = bitfieldRun(inner);
    out += ']';
    layout = {count * roundUp(element.size, element.alignment),
              element.alignment};
    break;
  }
  case 3:
    out += "{s" + std::to_string(depth) + "=";
    layout = members(out, depth, true);
    out += '}';
    break;
  case 4:
    out += "(u=";
    layout = members(out, depth, false);
    out += ')';
    break;
  case 5:
    out += "{xyz}"; // a name alone: its letters measure as members
    layout = {12, 4};
    break;
  case 6:
    bits = choices_.next(33);
    out += 'b' + std::to_string(bits);
    return bitfieldRun(bits);
  default: {
    char letter = scalars[choices_.next(sizeof scalars - 1)];
    out += letter;
    layout = scalarReference(letter);
    break;
  }
  }
  spans.push_back({start, out.size(), layout});
  return layout;
}

// A method signature of well-formed types is compatible with itself; each
// of its types, and every type nested in one, ends where its skip says and
// measures as the layout rules give.
void wellFormed(const std::uint8_t *data, std::size_t size) {
  Choices choices(data, size);
  Generator generator(choices);
  std::string signature;
  unsigned count = 1 + choices.next(4);
  for (unsigned i = 0; i < count; ++i) {
    long long bits = -1;
    generator.type(signature, 0, bits);
    // A '+' keeps the offset's digits apart from a bitfield's width.
    signature += "+" + std::to_string(4 * i);
  }
  const char *text = signature.c_str();
  for (const Span &span : generator.spans) {
    const char *start = text + span.start;
    if (objc_skip_typespec(start) != text + span.end ||
        objc_sizeof_type(start) != span.layout.size ||
        objc_alignof_type(start) != span.layout.alignment)
      std::abort();
  }
  if (zelObjC_CompatibleTypes(text, text) != 1)
    std::abort();
}

} // namespace

// The input is one encoding, or two (offered and declared) split at the
// first newline.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  const std::string text = input.substr(0, input.find('\0'));
  walk(text);
  measure(text);
  const std::size_t newline = text.find('\n');
  const std::string offered = text.substr(0, newline);
  const std::string declared =
      newline == std::string::npos ? text : text.substr(newline + 1);
  const int compatible =
      zelObjC_CompatibleTypes(offered.c_str(), declared.c_str());
  if (compatible != 0 && compatible != 1)
    std::abort();
  wellFormed(data, size);
  return 0;
}
