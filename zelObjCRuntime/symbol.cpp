/* symbol: tables of C declarations, their files, and lookup of symbols
   exported by the modules loaded in the process. */
#include "symbol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/auxv.h>
#include <unistd.h>

/* {====================== Symbol tables ====================== */

namespace {

/* Keywords by kind code; 0 is never stored. */
const char *const types[] = {"0",        "MACRO",          "TYPEDEF",
                             "VARIABLE", "FUNCTION",       "INLINEFUNCTION",
                             "IMPORTED"};

constexpr int firstKind = 1;
constexpr int lastKind = 6;

bool isValidKind(int kind) { return kind >= firstKind && kind <= lastKind; }

/* The text of a stored string: in-image strings start at a zero marker. */
const char *textOf(const void *stored) {
  const char *bytes = static_cast<const char *>(stored);
  return *bytes == '\0' ? bytes + 1 : bytes;
}

unsigned hashSymbol(NSMapTable *, const void *key) {
  unsigned h = 0;
  for (const char *p = textOf(key); *p; ++p)
    h = 9 * h + static_cast<unsigned>(static_cast<signed char>(*p));
  return h;
}

BOOL isEqualSymbol(NSMapTable *, const void *a, const void *b) {
  return std::strcmp(textOf(a), textOf(b)) == 0 ? YES : NO;
}

void retainSymbol(NSMapTable *, const void *) {}

void releaseSymbol(NSMapTable *, void *stored) {
  if (*static_cast<char *>(stored) != '\0')
    std::free(stored);
}

id describeSymbol(NSMapTable *, const void *key) {
  return objc_send_class("NSString", "stringWithCString:", textOf(key));
}

id describeDefinition(NSMapTable *, const void *value) {
  const char *definition = textOf(value);
  const int kind = static_cast<signed char>(definition[0]);
  const char *keyword = isValidKind(kind) ? types[kind] : types[0];
  return objc_send_class("NSString", "stringWithFormat:", NSSTR("%s %s"),
                         keyword, definition + 1);
}

/* A malloc'ed copy of text, behind an optional leading byte. */
char *copyText(const char *text, const char *lead) {
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

} // namespace

const NSMapTableKeyCallBacks SymbolMapKeyCallBacks = {
    hashSymbol,     isEqualSymbol,  retainSymbol,
    releaseSymbol,  describeSymbol, nullptr};

const NSMapTableValueCallBacks SymbolMapValueCallBacks = {
    retainSymbol, releaseSymbol, describeDefinition};

namespace {

NSMapTable *loaded; /* path NSString -> SymbolTable, made on first load */

constexpr unsigned initialCapacity = 256;

/* An empty table with room for capacity names, or null. */
SymbolTable *newTable(unsigned capacity) {
  auto *table = static_cast<SymbolTable *>(std::malloc(sizeof(SymbolTable)));
  if (!table)
    return nullptr;
  table->map = NSCreateMapTable(SymbolMapKeyCallBacks,
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

} // namespace

ZEL_EXPORT SymbolTable *ZelObjC_NewSymbolTable(void) noexcept {
  return newTable(initialCapacity);
}

/* An empty name or a kind outside 1 to 6 could not be told from an
   in-image string or a keyword, so such a definition is ignored. */
ZEL_EXPORT void ZelObjC_DefineSymbol(SymbolTable *table, const char *name,
                                     char kind, const char *type) noexcept {
  if (!table || !name || !type || name[0] == '\0' || !isValidKind(kind))
    return;
  char *ownedName = copyText(name, nullptr);
  char *definition = copyText(type, &kind);
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
  const char *definition = textOf(stored);
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
    const char *definition = textOf(value);
    function(static_cast<signed char>(definition[0]), textOf(name),
             definition + 1, context);
  }
}

ZEL_EXPORT void ZelObjC_DestroySymbolTable(SymbolTable *table) noexcept {
  if (!table || --table->refCount != 0)
    return;
  if (table->path != nil) {
    if (loaded)
      NSMapRemove(loaded, table->path);
    objc_send<void>(table->path, "release");
  }
  NSFreeMapTable(table->map); /* reads every in-image string: data first */
  if (table->data != nil)
    objc_send<void>(table->data, "release");
  std::free(table);
}

/* }========================================================== */

/* {=================== Symbol table files =================== */

namespace {

/* Writes one stored string as its text, then its terminating zero. */
void writeStored(FILE *file, const void *stored) {
  std::fputs(textOf(stored), file);
}

void writeTable(FILE *file, SymbolTable *table) {
  NSMapEnumerator pairs = NSEnumerateMapTable(table->map);
  void *name;
  void *value;
  while (NSNextMapEnumeratorPair(&pairs, &name, &value)) {
    std::fputc(0, file);
    writeStored(file, name);
    std::fputc(0, file);
    writeStored(file, value);
  }
  std::fputc(0, file);
}

/* Position of the first zero byte at or after p; the caller guarantees
   one before the end. */
const char *nextZero(const char *p) { return p + std::strlen(p); }

/* The number of records in bytes[0..length), or -1 when it is not a
   well-formed image: every record is a lead zero, a non-empty name, a zero,
   a kind 1 to 6 and the type text, and the last byte is the zero
   terminator. Nothing past the end is read: the terminator stops every
   scan. */
int countRecords(const char *bytes, unsigned length) {
  if (length == 0)
    return 0;
  const char *last = bytes + length - 1;
  if (*last != '\0' || bytes[0] != '\0')
    return -1;
  int records = 0;
  for (const char *cursor = bytes; cursor < last; ++records) {
    if (cursor[1] == '\0')
      return -1; /* empty name */
    const char *separator = nextZero(cursor + 1);
    if (separator >= last)
      return -1; /* no kind byte before the terminator */
    if (!isValidKind(static_cast<signed char>(separator[1])))
      return -1;
    cursor = nextZero(separator + 1);
  }
  return records;
}

/* Enters every record of a well-formed image, in place. */
void enterImage(SymbolTable *table, const char *bytes, unsigned length) {
  if (length == 0)
    return;
  const char *last = bytes + length - 1;
  for (const char *cursor = bytes; cursor < last;) {
    const char *separator = nextZero(cursor + 1);
    NSMapInsert(table->map, cursor, separator);
    cursor = nextZero(separator + 1);
  }
}

/* The whole contents of the file at path, or nil when it cannot be
   opened. */
id readContents(id path) {
  id handle =
      objc_send_class("NSFileHandle", "fileHandleForReadingAtPath:", path);
  if (handle == nil)
    return nil;
  id data = objc_send(handle, "availableData");
  objc_send<void>(handle, "closeFile");
  return data;
}

SymbolTable *tableFromContents(id path, id data) {
  const char *bytes = static_cast<const char *>(objc_send<const void *>(data,
                                                                  "bytes"));
  const unsigned length = objc_send<unsigned>(data, "length");
  const int records = countRecords(bytes, length);
  if (records < 0)
    return nullptr;
  /* Room for every record up front: the inserts then allocate nothing. */
  const unsigned capacity = static_cast<unsigned>(records);
  SymbolTable *table =
      newTable(capacity > initialCapacity ? capacity : initialCapacity);
  if (!table)
    return nullptr;
  table->path = objc_send(path, "retain");
  table->data = objc_send(data, "retain");
  enterImage(table, bytes, length);
  return table;
}

} // namespace

/* Any failed write counts, not only a failed close: a full disk must not
   pass for a saved table. */
ZEL_EXPORT BOOL ZelObjC_SaveSymbolTable(SymbolTable *table,
                                        const char *path) noexcept {
  if (!table || !path)
    return NO;
  FILE *file = std::fopen(path, "wb");
  if (!file)
    return NO;
  writeTable(file, table);
  const bool writeFailed = std::ferror(file) != 0;
  const bool closeFailed = std::fclose(file) != 0;
  return writeFailed || closeFailed ? NO : YES;
}

/* A file that is not a well-formed image is refused like one that cannot
   be opened: in-image strings must start with their zero marker and every
   scan must stop at the terminator. */
ZEL_EXPORT SymbolTable *ZelObjC_LoadSymbolTable(const char *path) noexcept {
  if (!path)
    return nullptr;
  id pathString = objc_send_class("NSString", "stringWithCString:", path);
  if (pathString == nil)
    return nullptr;
  if (loaded) {
    auto *known = static_cast<SymbolTable *>(NSMapGet(loaded, pathString));
    if (known) {
      ++known->refCount;
      return known;
    }
  } else {
    loaded = NSCreateMapTable(NSObjectMapKeyCallBacks,
                              NSNonOwnedPointerMapValueCallBacks, 16);
  }
  id data = readContents(pathString);
  if (data == nil)
    return nullptr;
  SymbolTable *table = tableFromContents(pathString, data);
  if (table)
    NSMapInsert(loaded, pathString, table);
  return table;
}

/* }========================================================== */

/* {================= External symbol lookup ================= */

namespace {

/* The parts of a module's dynamic section that a lookup reads. */
struct DynamicInfo {
  const ElfW(Sym) *symbols = nullptr;
  const char *strings = nullptr;
  const Elf32_Word *gnuHash = nullptr;
  const Elf32_Word *sysvHash = nullptr;
  const ElfW(Half) *versions = nullptr;
  ElfW(Word) soname = 0;
  bool hasSoname = false;
};

/* Loaders relocate these pointers in place, except in read-only dynamic
   sections (the vDSO): there they are still offsets from the base. */
template <typename T> const T *dynamicPointer(ElfW(Addr) base, ElfW(Addr) p) {
  return reinterpret_cast<const T *>(p < base ? p + base : p);
}

const ElfW(Dyn) *dynamicSection(const dl_phdr_info *module) {
  for (ElfW(Half) i = 0; i < module->dlpi_phnum; ++i)
    if (module->dlpi_phdr[i].p_type == PT_DYNAMIC)
      return reinterpret_cast<const ElfW(Dyn) *>(module->dlpi_addr +
                                                 module->dlpi_phdr[i].p_vaddr);
  return nullptr;
}

DynamicInfo readDynamic(const dl_phdr_info *module) {
  DynamicInfo info;
  const ElfW(Dyn) *entry = dynamicSection(module);
  const ElfW(Addr) base = module->dlpi_addr;
  for (; entry && entry->d_tag != DT_NULL; ++entry) {
    const ElfW(Addr) p = entry->d_un.d_ptr;
    switch (entry->d_tag) {
    case DT_SYMTAB: info.symbols = dynamicPointer<ElfW(Sym)>(base, p); break;
    case DT_STRTAB: info.strings = dynamicPointer<char>(base, p); break;
    case DT_GNU_HASH: info.gnuHash = dynamicPointer<Elf32_Word>(base, p);
      break;
    case DT_HASH: info.sysvHash = dynamicPointer<Elf32_Word>(base, p); break;
    case DT_VERSYM: info.versions = dynamicPointer<ElfW(Half)>(base, p);
      break;
    case DT_SONAME:
      info.soname = entry->d_un.d_val;
      info.hasSoname = true;
      break;
    default: break;
    }
  }
  return info;
}

/* True when the entry is a definition the module itself exports: not an
   import, not local, not a hidden version, not thread-local. */
bool isExported(const DynamicInfo &info, Elf32_Word index) {
  const ElfW(Sym) &symbol = info.symbols[index];
  if (symbol.st_shndx == SHN_UNDEF || symbol.st_value == 0)
    return false;
  const unsigned binding = ELF32_ST_BIND(symbol.st_info);
  if (binding != STB_GLOBAL && binding != STB_WEAK &&
      binding != STB_GNU_UNIQUE)
    return false;
  const unsigned type = ELF32_ST_TYPE(symbol.st_info);
  if (type == STT_TLS || type == STT_SECTION || type == STT_FILE)
    return false;
  const unsigned visibility = ELF32_ST_VISIBILITY(symbol.st_other);
  if (visibility == STV_HIDDEN || visibility == STV_INTERNAL)
    return false;
  return !info.versions || (info.versions[index] & 0x8000) == 0;
}

bool isMatch(const DynamicInfo &info, Elf32_Word index, const char *name) {
  return std::strcmp(info.strings + info.symbols[index].st_name, name) == 0 &&
         isExported(info, index);
}

Elf32_Word gnuHashOf(const char *name) {
  Elf32_Word h = 5381;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name);
       *p; ++p)
    h = h * 33 + *p;
  return h;
}

Elf32_Word sysvHashOf(const char *name) {
  Elf32_Word h = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name);
       *p; ++p) {
    h = (h << 4) + *p;
    const Elf32_Word g = h & 0xf0000000u;
    if (g)
      h ^= g >> 24;
    h &= ~g;
  }
  return h;
}

/* A name with its two hashes, computed once for every module searched. */
struct HashedName {
  const char *name;
  Elf32_Word gnu;
  Elf32_Word sysv;
};

HashedName hashed(const char *name) {
  return {name, gnuHashOf(name), sysvHashOf(name)};
}

/* False when the module's Bloom filter rules the hash out. */
bool mayHold(const Elf32_Word *table, Elf32_Word h) {
  const Elf32_Word bloomWords = table[2];
  const Elf32_Word shift = table[3];
  if (bloomWords == 0)
    return true;
  constexpr Elf32_Word bits = sizeof(ElfW(Addr)) * 8;
  const auto *bloom = reinterpret_cast<const ElfW(Addr) *>(table + 4);
  const ElfW(Addr) word = bloom[(h / bits) % bloomWords];
  const ElfW(Addr) mask = (ElfW(Addr)(1) << (h % bits)) |
                          (ElfW(Addr)(1) << ((h >> shift) % bits));
  return (word & mask) == mask;
}

/* Index of the exported entry for name, or 0 (the null symbol). */
Elf32_Word findInGnuHash(const DynamicInfo &info, const HashedName &hashes) {
  const Elf32_Word *table = info.gnuHash;
  const Elf32_Word buckets = table[0];
  const Elf32_Word firstIndex = table[1];
  const Elf32_Word bloomWords = table[2];
  const Elf32_Word h = hashes.gnu;
  if (buckets == 0 || !mayHold(table, h))
    return 0;
  const char *name = hashes.name;
  const Elf32_Word *bucket =
      table + 4 + bloomWords * (sizeof(ElfW(Addr)) / sizeof(Elf32_Word));
  const Elf32_Word *chain = bucket + buckets;
  for (Elf32_Word index = bucket[h % buckets]; index >= firstIndex; ++index) {
    const Elf32_Word entry = chain[index - firstIndex];
    if ((entry | 1) == (h | 1) && isMatch(info, index, name))
      return index;
    if (entry & 1)
      break;
  }
  return 0;
}

Elf32_Word findInSysvHash(const DynamicInfo &info, const HashedName &hashes) {
  const Elf32_Word *table = info.sysvHash;
  const Elf32_Word buckets = table[0];
  if (buckets == 0)
    return 0;
  const Elf32_Word *bucket = table + 2;
  const Elf32_Word *chain = bucket + buckets;
  for (Elf32_Word index = bucket[hashes.sysv % buckets]; index != 0;
       index = chain[index])
    if (isMatch(info, index, hashes.name))
      return index;
  return 0;
}

/* The address name has in the module, or null when the module does not
   itself export it. */
void *exportedAddress(const dl_phdr_info *module, const DynamicInfo &info,
                      const HashedName &name) {
  if (!info.symbols || !info.strings)
    return nullptr;
  Elf32_Word index = 0;
  if (info.gnuHash)
    index = findInGnuHash(info, name);
  else if (info.sysvHash)
    index = findInSysvHash(info, name);
  if (index == 0)
    return nullptr;
  const ElfW(Sym) &symbol = info.symbols[index];
  ElfW(Addr) address = symbol.st_value;
  if (symbol.st_shndx != SHN_ABS)
    address += module->dlpi_addr;
  if (ELF32_ST_TYPE(symbol.st_info) == STT_GNU_IFUNC)
    address = reinterpret_cast<ElfW(Addr) (*)(void)>(address)();
  return reinterpret_cast<void *>(address);
}

const char *baseName(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

/* True when text is the file name of the running executable. */
bool namesExecutable(const char *text) {
  char target[4096];
  const ssize_t length = readlink("/proc/self/exe", target,
                                  sizeof target - 1);
  if (length > 0) {
    target[length] = '\0';
    if (std::strcmp(baseName(target), text) == 0)
      return true;
  }
  const char *invoked =
      reinterpret_cast<const char *>(getauxval(AT_EXECFN));
  return invoked && std::strcmp(baseName(invoked), text) == 0;
}

/* A library is named by its path as loaded, its file name or its
   soname. */
bool isNamed(const dl_phdr_info *module, const DynamicInfo &info,
             const char *moduleName) {
  const char *path = module->dlpi_name ? module->dlpi_name : "";
  if (path[0] != '\0' && (std::strcmp(path, moduleName) == 0 ||
                          std::strcmp(baseName(path), moduleName) == 0))
    return true;
  return info.hasSoname && info.strings &&
         std::strcmp(info.strings + info.soname, moduleName) == 0;
}

struct Search {
  HashedName asWritten;   /* "symbol" */
  HashedName underscored; /* "_symbol" */
  const char *moduleName;  /* null: every module */
  bool isFirst = true;     /* the loader lists the main program first */
  bool moduleSeen = false;
  void *address = nullptr;
};

/* Tries the name as written, then with one underscore in front. */
void *candidateAddress(const dl_phdr_info *module, const DynamicInfo &info,
                       const Search &search) {
  if (void *address = exportedAddress(module, info, search.asWritten))
    return address;
  return exportedAddress(module, info, search.underscored);
}

/* dl_iterate_phdr callback: non-zero ends the walk. */
int searchModule(dl_phdr_info *module, size_t, void *context) {
  auto *search = static_cast<Search *>(context);
  const bool isMain = search->isFirst;
  search->isFirst = false;
  const DynamicInfo info = readDynamic(module);
  if (search->moduleName) {
    if (isMain ? !namesExecutable(search->moduleName)
               : !isNamed(module, info, search->moduleName))
      return 0;
    search->moduleSeen = true;
  }
  search->address = candidateAddress(module, info, *search);
  return search->address || search->moduleSeen ? 1 : 0;
}

} // namespace

/* "module:symbol" searches the first loaded module of that name, "symbol"
   every module in the loader's order (main program first); in each the
   name as written wins over the underscored one. Nothing is loaded. */
ZEL_EXPORT void *ZelObjC_LookupExternalSymbol(const char *name) noexcept {
  if (!name)
    return nullptr;
  const size_t length = std::strlen(name);
  char *buffer = static_cast<char *>(std::malloc(length + 2));
  if (!buffer)
    return nullptr;
  buffer[0] = '_';
  Search search;
  search.moduleName = nullptr;
  if (const char *colon = std::strchr(name, ':')) {
    const size_t moduleLength = static_cast<size_t>(colon - name);
    char *symbol = buffer + 1;
    std::memcpy(symbol, colon + 1, length - moduleLength);
    char *module = symbol + (length - moduleLength);
    std::memcpy(module, name, moduleLength);
    module[moduleLength] = '\0';
    search.moduleName = module;
  } else {
    std::memcpy(buffer + 1, name, length + 1);
  }
  search.asWritten = hashed(buffer + 1);
  search.underscored = hashed(buffer);
  if (!search.moduleName || search.moduleName[0] != '\0')
    dl_iterate_phdr(searchModule, &search);
  std::free(buffer);
  return search.address;
}

/* }========================================================== */
