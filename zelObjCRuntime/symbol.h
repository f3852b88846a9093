/* symbol: the record behind a symbol-table handle and the map callbacks
   its tables are made with. Internal to zelObjCRuntime. */
#ifndef ZELOBJCRUNTIME_SYMBOL_H
#define ZELOBJCRUNTIME_SYMBOL_H

#include <cstddef>
#include <zelObjCRuntime/zelObjCRuntime.h>

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

#endif
