/* The one walk over an aggregate's members, the check that makes it safe,
   quoting for messages and the bound on native nesting. */
#include "bridge.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>

namespace zelbridge {

/* ---- quoting ---- */

std::string quote(const std::string &text) {
  if (text.size() <= maxQuoted)
    return "\"" + text + "\"";
  return "\"" + text.substr(0, maxQuoted) + "...\"";
}

std::string quote(const char *text) {
  return quote(std::string(text ? text : "", text ? std::strlen(text) : 0));
}

std::string cut(const std::string &text) {
  if (text.size() <= maxQuoted)
    return text;
  return text.substr(0, maxQuoted) + "...";
}

std::string cut(const char *text) { return cut(std::string(text ? text : "")); }

/* Reads no further than the quoting bound needs. */
std::string quoteType(const char *type) {
  const char *end = objc_skip_typespec(type);
  size_t length = static_cast<size_t>(end - type);
  return quote(std::string(type, std::min(length, maxQuoted + 1)));
}

/* ---- the member walk ---- */

const char *firstMember(const char *body) {
  char closer = *body == '{' ? '}' : ')';
  for (const char *p = body + 1; *p; ++p) {
    if (*p == '=')
      return p + 1;
    if (*p == closer || *p == '{' || *p == '(')
      return nullptr;
  }
  return nullptr;
}

int roundUp(int value, int alignment) {
  if (value == 0 || alignment <= 0)
    return value;
  return (value + alignment - 1) / alignment * alignment;
}

bool arrayCount(const char *body, long long &count, const char *&element) {
  count = 0;
  bool fits = true;
  const char *p = body + 1;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (count <= maxItems)
      count = count * 10 + (*p - '0');
    else
      fits = false; /* already past the bound: stop before 64 bits wrap */
  }
  element = p;
  return fits && count <= maxItems;
}

/* A union converts its first member only. */
bool holdsCString(const char *type) {
  const char *body = objc_skip_type_qualifiers(type);
  switch (*body) {
  case '*':
    return true;
  case '[': {
    long long count = 0;
    const char *element = nullptr;
    arrayCount(body, count, element);
    return count > 0 && holdsCString(element);
  }
  case '(':
    return holdsCString(firstMember(body));
  case '{': {
    bool found = false;
    eachMember(body, [&](const char *member, int) {
      found = holdsCString(member);
      return !found;
    });
    return found;
  }
  default:
    return false;
  }
}

namespace {

bool isConvertibleScalar(char letter) {
  switch (letter) {
  case 'c':
  case 'C':
  case 's':
  case 'S':
  case 'i':
  case 'I':
  case 'l':
  case 'L':
  case 'q':
  case 'Q':
  case 'f':
  case 'd':
  case '*':
  case ':':
  case '@':
  case '#':
  case '^':
  case '?':
    return true;
  default:
    return false;
  }
}

long long roundUp64(long long value, int alignment) {
  if (value == 0 || alignment <= 0)
    return value;
  return (value + alignment - 1) / alignment * alignment;
}

/* One check over one type, recursing into aggregates (at most
   maxTypeNesting deep). */
class Checker {
public:
  Checker(TypeUse use, TypeCheck &check, std::string &error)
      : use_(use), check_(check), error_(error) {}

  bool type(const char *type, int depth);

private:
  bool fail(const char *type, const std::string &why) {
    error_ = "unsupported type encoding " + quoteType(type);
    if (!why.empty())
      error_ += ": " + why;
    return false;
  }
  bool count(long long items, const char *type);
  bool aggregate(const char *body, int depth);
  bool array(const char *body, int depth);

  TypeUse use_;
  TypeCheck &check_;
  std::string &error_;
};

bool Checker::count(long long items, const char *type) {
  if (use_ == TypeUse::layout) /* a room is never converted whole */
    return true;
  check_.items += items;
  if (check_.items <= maxItems)
    return true;
  check_.tooMany = true;
  return fail(type, "more than " + std::to_string(maxItems) + " items");
}

bool Checker::type(const char *type, int depth) {
  const char *body = objc_skip_type_qualifiers(type);
  switch (*body) {
  case '{':
  case '(':
    return aggregate(body, depth);
  case '[':
    return array(body, depth);
  default:
    if (use_ == TypeUse::layout)
      return true;
    if (!isConvertibleScalar(*body))
      return fail(body, *body ? "" : "no type where one was expected");
    return count(1, body);
  }
}

bool Checker::aggregate(const char *body, int depth) {
  const bool isStruct = *body == '{';
  const char closer = isStruct ? '}' : ')';
  if (depth >= maxTypeNesting)
    return fail(body, "nested more than " + std::to_string(maxTypeNesting) +
                          " aggregates deep");
  const char *member = firstMember(body);
  if (!member) {
    if (use_ == TypeUse::layout)
      return true; /* only its measured room matters */
    return fail(body, isStruct ? "a struct without a member list"
                               : "a union without a member list");
  }
  if (!count(1, body))
    return false;
  const char *end = objc_skip_typespec(body);
  long long extent = 0; /* end of the last member, or the largest */
  int members = 0;
  while (*member && *member != closer && member < end) {
    if (!type(member, depth + 1))
      return false;
    long long size = objc_sizeof_type(member);
    if (isStruct)
      extent = roundUp64(extent, objc_alignof_type(member)) + size;
    else
      extent = std::max(extent, size);
    member = objc_skip_typespec(member);
    ++members;
  }
  if (member + 1 != end || *member != closer)
    return fail(body, "its members do not end where its text ends");
  if (!isStruct && members == 0 && use_ == TypeUse::convert)
    return fail(body, "a union without members");
  long long measured = objc_sizeof_type(body);
  if (extent != measured)
    return fail(body, "its members take " + std::to_string(extent) +
                          " bytes where it measures " +
                          std::to_string(measured));
  return true;
}

bool Checker::array(const char *body, int depth) {
  long long elements = 0;
  const char *element = nullptr;
  bool counted = arrayCount(body, elements, element);
  if (!counted && use_ == TypeUse::convert) {
    check_.tooMany = true;
    return fail(body, "more than " + std::to_string(maxItems) + " elements");
  }
  if (depth >= maxTypeNesting)
    return fail(body, "nested more than " + std::to_string(maxTypeNesting) +
                          " aggregates deep");
  long long before = check_.items;
  if (!type(element, depth + 1))
    return false;
  long long each = check_.items - before;
  check_.items = before;
  const char *close = objc_skip_typespec(element);
  if (*close != ']' || close + 1 != objc_skip_typespec(body))
    return fail(body, "its element does not end where its text ends");
  if (!counted) /* a room only: measurable() bounds it */
    return true;
  long long room = elements * objc_aligned_size(element);
  long long measured = objc_sizeof_type(body);
  if (room != measured)
    return fail(body, "its elements take " + std::to_string(room) +
                          " bytes where it measures " +
                          std::to_string(measured));
  if (!count(1, body))
    return false;
  if (use_ == TypeUse::convert && each > 0 && elements > maxItems / each) {
    check_.tooMany = true;
    return fail(body, "more than " + std::to_string(maxItems) + " items");
  }
  return count(elements * each, body);
}

/* Nested too deep, cut short or past 32 bits for the toolkit: such a type
   has no storage size at all. */
bool measurable(const char *body) {
  ApplyVal val;
  return zelObjC_TypeToApplyVal(body, 0, &val) != 0;
}

} // namespace

bool checkType(const char *type, TypeUse use, TypeCheck &check,
               std::string &error) {
  check = TypeCheck();
  /* A plain scalar, as nearly every argument and result is: no qualifier
     to skip, nothing to walk. */
  if (isConvertibleScalar(*type)) {
    check.items = use == TypeUse::convert ? 1 : 0;
    return true;
  }
  if (!Checker(use, check, error).type(type, 0))
    return false;
  const char *body = objc_skip_type_qualifiers(type);
  if ((*body == '{' || *body == '(' || *body == '[') && !measurable(body)) {
    error = "unsupported type encoding " + quoteType(body) +
            ": cut short, nested too deep or too large to measure";
    return false;
  }
  return true;
}

bool checkType(const char *type, TypeUse use, std::string &error) {
  TypeCheck check;
  return checkType(type, use, check, error);
}

/* ---- native depth ---- */

namespace {

/* The calling thread's stack: its lowest address and its size, when the
   thread library can tell them. */
struct StackBounds {
  const char *low = nullptr;
  size_t size = 0;
};

StackBounds findStackBounds() {
  StackBounds bounds;
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0)
    return bounds;
  void *low = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
    bounds.low = static_cast<const char *>(low);
    bounds.size = size;
  }
  pthread_attr_destroy(&attributes);
  return bounds;
}

/* Where the thread's stack cannot be found, nesting alone is bounded. */
constexpr int maxUnknownNesting = 1000;
constexpr size_t maxStackReserve = 1024 * 1024;

} // namespace

int nativeNesting = 0;
KnownStack knownStack;

/* The first thread to call through the bridge (the one that drives it) has
   its stack found once and kept in knownStack; any other frame is
   measured here, each time. */
bool stackHasRoomElsewhere(const char *here) {
  const StackBounds bounds = findStackBounds();
  if (!bounds.low)
    return nativeNesting < maxUnknownNesting;
  const size_t reserve = std::min(bounds.size / 4, maxStackReserve);
  if (!knownStack.low) {
    knownStack.low = bounds.low;
    knownStack.limit = bounds.low + reserve;
    knownStack.high = bounds.low + bounds.size;
  }
  if (here < bounds.low || here > bounds.low + bounds.size) /* a coroutine's */
    return nativeNesting < maxUnknownNesting;
  return static_cast<size_t>(here - bounds.low) > reserve;
}

bool NativeDepth::refuse(std::string &error) {
  error = "calls through the bridge nested too deep (" +
          std::to_string(nativeNesting) +
          " levels): the thread's stack is "
          "nearly used up";
  return false;
}

} // namespace zelbridge
