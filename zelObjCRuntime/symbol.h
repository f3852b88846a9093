/* symbol: the record behind a symbol-table handle, the map callbacks its
   tables are made with, and what the module's three files share: tables
   (symbol.cpp), their files (symbol_file.cpp) and the lookup of symbols
   that loaded modules export (symbol_external.cpp). Internal to
   zelObjCRuntime. */
#ifndef ZELOBJCRUNTIME_SYMBOL_H
#define ZELOBJCRUNTIME_SYMBOL_H

#include <cstddef>
#include <cstdint>
#include <zelObjCRuntime/zelObjCRuntime.h>

#include "symbol_hash.h"

OBJC_BEGIN_DECLS

/* One table, from malloc. Stored names and definitions are either owned
   (malloc'ed, first byte non-zero) or in-image (they address the zero
   byte before their text inside data, and die with it). */
struct SymbolTable {
  id path;         /* 0: NSString the table was loaded from, or nil */
  id data;         /* 4: NSData holding every in-image string, or nil */
  NSMapTable *map; /* 8: name -> kind byte followed by the type text */
  int refCount;    /* 12: holders; the last destroy frees the table */
};

static_assert(offsetof(SymbolTable, path) == 0, "i386 layout");
static_assert(offsetof(SymbolTable, data) == 4, "i386 layout");
static_assert(offsetof(SymbolTable, map) == 8, "i386 layout");
static_assert(offsetof(SymbolTable, refCount) == 12, "i386 layout");
static_assert(sizeof(SymbolTable) == 16, "i386 layout");

/* Keys are names, values definitions; both taken over by the table.
   SymbolMapKeyCallBacks hash a name's bytes as 9 h + b; the tables' maps
   are made with SymbolTableKeyCallBacks, alike but for a hash keyed once
   per process, so that names made to collide cannot slow a table down. */
extern const NSMapTableKeyCallBacks SymbolMapKeyCallBacks;
extern const NSMapTableKeyCallBacks SymbolTableKeyCallBacks;
extern const NSMapTableValueCallBacks SymbolMapValueCallBacks;

OBJC_END_DECLS

namespace zel {

inline constexpr int firstSymbolKind = 1;
inline constexpr int lastSymbolKind = 6;

constexpr bool isSymbolKind(int kind) {
  return kind >= firstSymbolKind && kind <= lastSymbolKind;
}

/* The text of a stored string: in-image strings start at a zero marker. */
inline const char *storedText(const void *stored) {
  const char *bytes = static_cast<const char *>(stored);
  return *bytes == '\0' ? bytes + 1 : bytes;
}

/* A malloc'ed copy of text behind an optional leading byte; null when
   memory runs out. */
char *copySymbolText(const char *text, const char *lead);

/* The key the tables hash names under, drawn once per process. */
const NameHashKey &nameHashKey();
/* The keyed hash of a zero-terminated name under that key. */
uint32_t keyedNameHash(const char *name);

/* Room a new table's map starts with. */
inline constexpr unsigned symbolTableCapacity = 256;
/* An empty table with room for capacity names, or null. */
SymbolTable *newSymbolTable(unsigned capacity);

/* Takes a loaded table's path out of the registry of loaded tables. */
void unregisterLoadedTable(id path);

} // namespace zel

#endif
