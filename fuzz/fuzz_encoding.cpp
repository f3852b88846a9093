// Type encodings on arbitrary text: every walk stays inside the text and
// ends, and the conversions answer without reading past the NUL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <zelObjCRuntime/zelObjCRuntime.h>

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

void measure(const char *type) {
  volatile int sink = objc_sizeof_type(type);
  sink = objc_alignof_type(type);
  sink = objc_aligned_size(type);
  sink = objc_promoted_size(type);
  (void)sink;
  for (int flags = 0; flags <= (APPLY_ARRAY_AS_POINTER | APPLY_PROMOTE);
       ++flags) {
    ApplyVal val = {-1, -1, nullptr};
    // Sizes wrap at 32 bits like the register arithmetic (a count of
    // 2^31 elements gives a negative one), so only the kind is checked.
    if (zelObjC_TypeToApplyVal(type, flags, &val) &&
        (val.kind < APPLY_POINTER || val.kind > APPLY_AGGREGATE))
      std::abort();
  }
}

} // namespace

// The input is one encoding, or two (offered and declared) split at the
// first newline.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  const std::string text = input.substr(0, input.find('\0'));
  walk(text);
  measure(text.c_str());
  const std::size_t newline = text.find('\n');
  const std::string offered = text.substr(0, newline);
  const std::string declared =
      newline == std::string::npos ? text : text.substr(newline + 1);
  const int compatible =
      zelObjC_CompatibleTypes(offered.c_str(), declared.c_str());
  if (compatible != 0 && compatible != 1)
    std::abort();
  return 0;
}
