/* Selectors: each name is interned once, and the address of the interned
   text is the selector. Names are packed back to back in large blocks, so
   that selector addresses spread over the low bits that caches hash on. */
#include "runtime.h"

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace {

constexpr size_t blockSize = 16384;

struct SelectorTable {
  std::unordered_map<std::string_view, const char *> names;
  char *block = nullptr;
  size_t left = 0;
};

/* Made on first use and never destroyed: modules register from
   constructors that may run before this library's own initialisers. */
SelectorTable &table() {
  static SelectorTable *selectors = new SelectorTable;
  return *selectors;
}

const char *intern(SelectorTable &t, std::string_view name) {
  size_t size = name.size() + 1;
  char *text;
  if (size > blockSize / 4) {
    text = static_cast<char *>(malloc(size));
  } else {
    if (size > t.left) {
      t.block = static_cast<char *>(malloc(blockSize));
      t.left = t.block ? blockSize : 0;
    }
    text = t.block;
    if (text) {
      t.block += size;
      t.left -= size;
    }
  }
  if (!text)
    abort();
  memcpy(text, name.data(), name.size());
  text[name.size()] = '\0';
  t.names.emplace(std::string_view(text, name.size()), text);
  return text;
}

} // namespace

extern "C" {

OBJC_EXPORT SEL sel_registerName(const char *name) noexcept {
  if (!name)
    return nullptr;
  nextpdo::lock();
  SelectorTable &t = table();
  auto found = t.names.find(name);
  const char *text = found != t.names.end() ? found->second : intern(t, name);
  nextpdo::unlock();
  return reinterpret_cast<SEL>(text);
}

OBJC_EXPORT SEL sel_getUid(const char *name) noexcept {
  return sel_registerName(name);
}

OBJC_EXPORT const char *sel_getName(SEL sel) noexcept {
  return reinterpret_cast<const char *>(sel);
}

OBJC_EXPORT BOOL sel_isMapped(SEL sel) noexcept {
  if (!sel)
    return NO;
  nextpdo::lock();
  SelectorTable &t = table();
  /* The interned text itself, not another copy of the same name. */
  const char *text = reinterpret_cast<const char *>(sel);
  auto found = t.names.find(text);
  BOOL mapped = found != t.names.end() && found->second == text ? YES : NO;
  nextpdo::unlock();
  return mapped;
}

} // extern "C"
