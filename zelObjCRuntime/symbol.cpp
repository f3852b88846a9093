/* symbol: tables of C declarations, each name mapped to a kind and a type
   text. Their files are in symbol_file.cpp, the lookup of symbols that
   loaded modules export in symbol_external.cpp. */
#include "symbol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sys/auxv.h>
#include <sys/random.h>
#include <unistd.h>

namespace {

/* Keywords by kind code; 0 is never stored. */
const char *const types[] = {"0",        "MACRO",    "TYPEDEF",
                             "VARIABLE", "FUNCTION", "INLINEFUNCTION",
                             "IMPORTED"};

using zel::storedText;

unsigned hashSymbol(NSMapTable *, const void *key) {
  unsigned h = 0;
  for (const char *p = storedText(key); *p; ++p)
    h = 9 * h + static_cast<unsigned>(static_cast<signed char>(*p));
  return h;
}

/* ---- names hashed under a key of the process ----
   A file's names come from anywhere, and names made to collide under a
   fixed hash would pile up in one probe run of the map, turning a load
   quadratic. The tables hash with a 64-bit key drawn once per process
   (HalfSipHash-1-3, see symbol_hash.h), which a file cannot be made
   against. */

struct DrawnKey {
  zel::NameHashKey words;
};

DrawnKey drawNameHashKey() {
  DrawnKey key{{0, 0}};
  if (getrandom(key.words, sizeof key.words, GRND_NONBLOCK) ==
      static_cast<ssize_t>(sizeof key.words))
    return key;
  /* No entropy yet: the addresses this process was laid out at. */
  key.words[0] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&key)) ^
                 (static_cast<uint32_t>(getpid()) * 0x9E3779B1u);
  key.words[1] =
      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&drawNameHashKey)) ^
      static_cast<uint32_t>(getauxval(AT_RANDOM));
  return key;
}

unsigned keyedHashSymbol(NSMapTable *, const void *key) {
  return zel::keyedNameHash(storedText(key));
}

BOOL isEqualSymbol(NSMapTable *, const void *a, const void *b) {
  return std::strcmp(storedText(a), storedText(b)) == 0 ? YES : NO;
}

void retainSymbol(NSMapTable *, const void *) {}

void releaseSymbol(NSMapTable *, void *stored) {
  if (*static_cast<char *>(stored) != '\0')
    std::free(stored);
}

id describeSymbol(NSMapTable *, const void *key) {
  return objc_send_class("NSString", "stringWithCString:", storedText(key));
}

id describeDefinition(NSMapTable *, const void *value) {
  const char *definition = storedText(value);
  const int kind = static_cast<signed char>(definition[0]);
  const char *keyword = zel::isSymbolKind(kind) ? types[kind] : types[0];
  return objc_send_class("NSString", "stringWithFormat:", NSSTR("%s %s"),
                         keyword, definition + 1);
}

} // namespace

const NSMapTableKeyCallBacks SymbolMapKeyCallBacks = {
    hashSymbol,    isEqualSymbol,  retainSymbol,
    releaseSymbol, describeSymbol, nullptr};

const NSMapTableKeyCallBacks SymbolTableKeyCallBacks = {
    keyedHashSymbol, isEqualSymbol,  retainSymbol,
    releaseSymbol,   describeSymbol, nullptr};

const NSMapTableValueCallBacks SymbolMapValueCallBacks = {
    retainSymbol, releaseSymbol, describeDefinition};

const zel::NameHashKey &zel::nameHashKey() {
  static const DrawnKey key = drawNameHashKey();
  return key.words;
}

uint32_t zel::keyedNameHash(const char *name) {
  return nameHash(nameHashKey(), name, std::strlen(name));
}

char *zel::copySymbolText(const char *text, const char *lead) {
  const size_t length = std::strlen(text);
  const size_t skip = lead ? 1 : 0;
  char *copy = static_cast<char *>(std::malloc(length + skip + 1));
  if (!copy)
    return nullptr;
  if (lead)
    copy[0] = *lead;
  std::memcpy(copy + skip, text, length + 1);
  return copy;
}

SymbolTable *zel::newSymbolTable(unsigned capacity) {
  auto *table = static_cast<SymbolTable *>(std::malloc(sizeof(SymbolTable)));
  if (!table)
    return nullptr;
  table->map = NSCreateMapTable(SymbolTableKeyCallBacks,
                                SymbolMapValueCallBacks, capacity);
  if (!table->map) {
    std::free(table);
    return nullptr;
  }
  table->path = nil;
  table->data = nil;
  table->refCount = 1;
  return table;
}

ZEL_EXPORT SymbolTable *ZelObjC_NewSymbolTable(void) noexcept {
  return zel::newSymbolTable(zel::symbolTableCapacity);
}

/* An empty name or a kind outside 1 to 6 could not be told from an
   in-image string or a keyword, so such a definition is ignored. */
ZEL_EXPORT void ZelObjC_DefineSymbol(SymbolTable *table, const char *name,
                                     char kind, const char *type) noexcept {
  if (!table || !name || !type || name[0] == '\0' || !zel::isSymbolKind(kind))
    return;
  char *ownedName = zel::copySymbolText(name, nullptr);
  char *definition = zel::copySymbolText(type, &kind);
  if (!ownedName || !definition) {
    std::free(ownedName);
    std::free(definition);
    return;
  }
  NSMapInsert(table->map, ownedName, definition);
}

ZEL_EXPORT int ZelObjC_LookupSymbol(SymbolTable *table, const char *name,
                                    const char **type) noexcept {
  /* No name is empty; the marker rule would read past an empty one. */
  if (!table || !name || name[0] == '\0')
    return 0;
  const void *stored = NSMapGet(table->map, name);
  if (!stored)
    return 0;
  const char *definition = storedText(stored);
  if (type)
    *type = definition + 1;
  return static_cast<signed char>(definition[0]);
}

ZEL_EXPORT void ZelObjC_EnumerateSymbols(SymbolTable *table,
                                         SymbolEnumerationFunction function,
                                         void *context) noexcept {
  if (!table || !function)
    return;
  NSMapEnumerator pairs = NSEnumerateMapTable(table->map);
  void *name;
  void *value;
  while (NSNextMapEnumeratorPair(&pairs, &name, &value)) {
    const char *definition = storedText(value);
    function(static_cast<signed char>(definition[0]), storedText(name),
             definition + 1, context);
  }
}

ZEL_EXPORT void ZelObjC_DestroySymbolTable(SymbolTable *table) noexcept {
  if (!table || --table->refCount != 0)
    return;
  if (table->path != nil) {
    zel::unregisterLoadedTable(table->path);
    objc_send<void>(table->path, "release");
  }
  NSFreeMapTable(table->map); /* reads every in-image string: data first */
  if (table->data != nil)
    objc_send<void>(table->data, "release");
  std::free(table);
}
