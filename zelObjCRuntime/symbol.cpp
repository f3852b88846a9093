/* symbol: tables of C declarations, their files, and lookup of symbols
   exported by the modules loaded in the process. */
#include "symbol.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/random.h>
#include <sys/stat.h>
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

/* ---- names hashed under a key of the process ----
   A file's names come from anywhere, and names made to collide under a
   fixed hash would pile up in one probe run of the map, turning a load
   quadratic. The tables hash with a 64-bit key drawn once per process
   (a 32-bit keyed hash of the SipHash family, one round per word and
   three to finish), which a file cannot be made against. */

struct HashKey {
  uint32_t k0;
  uint32_t k1;
};

HashKey drawHashKey() {
  HashKey key{0, 0};
  if (getrandom(&key, sizeof key, GRND_NONBLOCK) ==
      static_cast<ssize_t>(sizeof key))
    return key;
  /* No entropy yet: the addresses this process was laid out at. */
  key.k0 = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&key)) ^
           (static_cast<uint32_t>(getpid()) * 0x9E3779B1u);
  key.k1 = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&drawHashKey)) ^
           static_cast<uint32_t>(getauxval(AT_RANDOM));
  return key;
}

const HashKey &hashKey() {
  static const HashKey key = drawHashKey();
  return key;
}

uint32_t rotl(uint32_t x, int bits) { return (x << bits) | (x >> (32 - bits)); }

struct SipState {
  uint32_t v0, v1, v2, v3;

  void round() {
    v0 += v1; v1 = rotl(v1, 5); v1 ^= v0; v0 = rotl(v0, 16);
    v2 += v3; v3 = rotl(v3, 8); v3 ^= v2;
    v0 += v3; v3 = rotl(v3, 7); v3 ^= v0;
    v2 += v1; v1 = rotl(v1, 13); v1 ^= v2; v2 = rotl(v2, 16);
  }
  void absorb(uint32_t word) {
    v3 ^= word;
    round();
    v0 ^= word;
  }
};

/* The keyed hash of a zero-terminated text, read four bytes at a time. */
unsigned keyedHash(const char *text) {
  const HashKey &key = hashKey();
  SipState state{key.k0, key.k1, 0x6c796765u ^ key.k0, 0x74656462u ^ key.k1};
  const auto *p = reinterpret_cast<const unsigned char *>(text);
  uint32_t length = 0;
  for (;;) {
    uint32_t word = 0;
    int n = 0;
    while (n < 4 && p[n] != 0) {
      word |= static_cast<uint32_t>(p[n]) << (8 * n);
      ++n;
    }
    length += static_cast<uint32_t>(n);
    p += n;
    if (n < 4) {
      state.absorb(word | (length << 24));
      state.v2 ^= 0xff;
      state.round();
      state.round();
      state.round();
      return state.v1 ^ state.v3;
    }
    state.absorb(word);
  }
}

unsigned keyedHashSymbol(NSMapTable *, const void *key) {
  return keyedHash(textOf(key));
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

const NSMapTableKeyCallBacks SymbolTableKeyCallBacks = {
    keyedHashSymbol, isEqualSymbol,  retainSymbol,
    releaseSymbol,   describeSymbol, nullptr};

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

/* ---- reading ---- */

/* Position of the first zero byte at or after p; the caller guarantees
   one before the end. */
const char *nextZero(const char *p) { return p + std::strlen(p); }

/* An estimate of how many distinct names a file holds, from the keyed
   hashes of its records, in fixed room: 1,024 registers of the largest
   run of leading zeros seen (the estimate is within a few per cent). A
   load sizes its map by it, so a file of one name repeated a million
   times costs the room of one name, not of a million. */
class DistinctNames {
public:
  void add(const char *name) {
    const uint32_t h = keyedHash(name);
    const uint32_t rest = h << indexBits;
    const unsigned rank =
        rest ? static_cast<unsigned>(__builtin_clz(rest)) + 1
             : 32 - indexBits + 1;
    unsigned char &best = registers_[h >> (32 - indexBits)];
    if (rank > best)
      best = static_cast<unsigned char>(rank);
  }

  unsigned estimate() const {
    constexpr double m = registerCount;
    double sum = 0;
    unsigned empty = 0;
    for (unsigned char rank : registers_) {
      sum += std::ldexp(1.0, -static_cast<int>(rank));
      empty += rank == 0 ? 1 : 0;
    }
    double e = 0.7213 / (1 + 1.079 / m) * m * m / sum;
    if (e <= 2.5 * m && empty != 0)
      e = m * std::log(m / empty); /* few names: count the empty registers */
    return e < 4294967295.0 ? static_cast<unsigned>(e) : ~0u;
  }

private:
  static constexpr unsigned indexBits = 10;
  static constexpr unsigned registerCount = 1u << indexBits;
  unsigned char registers_[registerCount] = {};
};

/* The number of records in bytes[0..length), or -1 when it is not a
   well-formed image: every record is a lead zero, a non-empty name, a zero,
   a kind 1 to 6 and the type text, and the last byte is the zero
   terminator. Nothing past the end is read: the terminator stops every
   scan. The names go to distinct on the way. */
long countRecords(const char *bytes, unsigned length, DistinctNames *distinct) {
  if (length == 0)
    return 0;
  const char *last = bytes + length - 1;
  if (*last != '\0' || bytes[0] != '\0')
    return -1;
  long records = 0;
  for (const char *cursor = bytes; cursor < last; ++records) {
    if (cursor[1] == '\0')
      return -1; /* empty name */
    const char *separator = nextZero(cursor + 1);
    if (separator >= last)
      return -1; /* no kind byte before the terminator */
    if (!isValidKind(static_cast<signed char>(separator[1])))
      return -1;
    distinct->add(cursor + 1);
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

/* Map room for a file's names: the estimate with an eighth to spare (the
   map grows should it still fall short), never more than its records. */
unsigned capacityFor(long records, const DistinctNames &distinct) {
  const unsigned estimate = distinct.estimate();
  unsigned capacity = estimate + estimate / 8 + 16;
  if (capacity < estimate || static_cast<unsigned long>(records) < capacity)
    capacity = static_cast<unsigned>(records);
  return capacity > initialCapacity ? capacity : initialCapacity;
}

/* Lengths are 32-bit (NSData's), and one byte more is read to see the
   end of the file: larger files cannot be held. */
constexpr unsigned long long largestImage = 0xfffffffeull;

/* A file's contents in one malloc'ed block. */
struct Contents {
  char *bytes = nullptr;
  unsigned length = 0;
};

/* Reads to the end of the file into contents (expecting about expected
   bytes); false on a read error or past largestImage. */
bool readAll(int descriptor, unsigned long long expected,
             Contents *contents) {
  unsigned long long room = expected + 1; /* one more shows the end */
  for (;;) {
    if (room > largestImage + 1)
      room = largestImage + 1;
    char *grown = static_cast<char *>(
        std::realloc(contents->bytes, static_cast<size_t>(room)));
    if (!grown)
      return false;
    contents->bytes = grown;
    while (contents->length < room) {
      const ssize_t got = read(descriptor, grown + contents->length,
                               static_cast<size_t>(room - contents->length));
      if (got == 0)
        return true;
      if (got < 0 && errno == EINTR)
        continue;
      if (got < 0)
        return false;
      contents->length += static_cast<unsigned>(got);
    }
    if (room > largestImage)
      return false; /* the file grew past what a table can address */
    room *= 2;
  }
}

/* The whole contents of the regular file at path, or false when it cannot
   be read. Pipes, devices and sockets are refused before they are opened
   (and opened without waiting, should one take the file's place
   meanwhile): none of them is a table, and reading one may never end. So
   are files larger than a table can address. */
bool readRegularFile(const char *path, Contents *contents) {
  struct stat64 info;
  if (stat64(path, &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<unsigned long long>(info.st_size) > largestImage)
    return false;
  const int descriptor = open(
      path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_LARGEFILE);
  if (descriptor < 0)
    return false;
  bool whole = fstat64(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
               static_cast<unsigned long long>(info.st_size) <= largestImage;
  if (whole)
    whole = readAll(descriptor,
                    static_cast<unsigned long long>(info.st_size), contents);
  close(descriptor);
  if (!whole) {
    std::free(contents->bytes);
    *contents = Contents{};
  }
  return whole;
}

/* Holds the image's bytes in the table's data and enters its records.
   Runs inside an exception frame: nothing here has a destructor. */
void fillTable(SymbolTable *table, id path, const Contents &contents) {
  id data = objc_send_class("NSData", "dataWithBytes:length:",
                            static_cast<const void *>(contents.bytes),
                            contents.length);
  table->data = objc_send(data, "retain");
  table->path = objc_send(path, "retain");
  enterImage(table,
             static_cast<const char *>(objc_send<const void *>(data, "bytes")),
             contents.length);
}

/* The table of an image already checked, its map sized by its distinct
   names; null when memory runs out. Foundation raises when it runs out of
   memory: that is caught here, so that the load answers null instead of
   unwinding through its caller. */
SymbolTable *tableOfImage(id path, const Contents &contents, long records,
                          const DistinctNames &distinct) {
  SymbolTable *table = newTable(capacityFor(records, distinct));
  if (!table)
    return nullptr;
  volatile bool filled = false;
  NS_DURING
    fillTable(table, path, contents);
    filled = true;
  NS_HANDLER
  NS_ENDHANDLER
  if (!filled) {
    ZelObjC_DestroySymbolTable(table); /* not registered yet */
    return nullptr;
  }
  return table;
}

/* The table of the file at path, or null when the file cannot be read or
   is not a well-formed image. */
SymbolTable *readTable(id pathString, const char *path) {
  Contents contents;
  if (!readRegularFile(path, &contents))
    return nullptr;
  DistinctNames distinct;
  const long records = countRecords(contents.bytes, contents.length,
                                    &distinct);
  SymbolTable *table =
      records >= 0 ? tableOfImage(pathString, contents, records, distinct)
                   : nullptr;
  std::free(contents.bytes);
  return table;
}

/* ---- writing ---- */

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

/* Writes the table to an open descriptor and closes it; false when any
   write, the flush to the disk or the close failed. */
bool writeAndClose(int descriptor, SymbolTable *table, bool toDisk) {
  FILE *file = fdopen(descriptor, "wb");
  if (!file) {
    close(descriptor);
    return false;
  }
  writeTable(file, table);
  bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
  if (written && toDisk)
    written = fsync(fileno(file)) == 0;
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

/* Devices and pipes hold no previous file to keep: they are written in
   place, as they stand, without waiting for a pipe's reader. */
bool saveInPlace(const char *path, SymbolTable *table) {
  const int descriptor =
      open(path, O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_LARGEFILE);
  if (descriptor < 0)
    return false;
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags == -1 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    close(descriptor);
    return false;
  }
  return writeAndClose(descriptor, table, false);
}

/* The file a save replaces: the path itself, or the file a symbolic link
   there leads to (the link stays). Malloc'ed; null when memory runs out. */
char *replacedFile(const char *path) {
  struct stat64 link;
  if (lstat64(path, &link) == 0 && S_ISLNK(link.st_mode))
    if (char *target = realpath(path, nullptr))
      return target;
  return copyText(path, nullptr);
}

/* A fresh file beside target for the new contents, named
   ".<file name>.<process>.<count>~" and made like fopen's (mode 0666 less
   the umask); its descriptor, or -1. temporary receives its name
   (malloc'ed). */
int createBeside(const char *target, char **temporary) {
  static unsigned saves; /* tells apart the saves of one process */
  const char *slash = std::strrchr(target, '/');
  const size_t folderLength = slash ? static_cast<size_t>(slash - target) + 1
                                    : 0;
  const size_t room = std::strlen(target) + 40;
  char *name = static_cast<char *>(std::malloc(room));
  if (!name)
    return -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned count = __atomic_fetch_add(&saves, 1, __ATOMIC_RELAXED);
    std::snprintf(name, room, "%.*s.%s.%ld.%u~",
                  static_cast<int>(folderLength), target,
                  target + folderLength, static_cast<long>(getpid()), count);
    const int descriptor =
        open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_LARGEFILE,
             0666);
    if (descriptor >= 0) {
      *temporary = name;
      return descriptor;
    }
    if (errno != EEXIST)
      break;
  }
  std::free(name);
  return -1;
}

/* Writes the table beside target and renames it over target once every
   byte is written, on the disk and closed: until then target is left as it
   was, and readers see the old file or the new one, never a part. A
   target that exists keeps its permission bits, and one that may not be
   written is refused, as opening it for writing would be. */
bool saveReplacing(const char *target, SymbolTable *table) {
  struct stat64 old;
  const bool exists = stat64(target, &old) == 0;
  if (exists) {
    const int probe = open(target, O_WRONLY | O_CLOEXEC | O_NOCTTY |
                                       O_NONBLOCK | O_LARGEFILE);
    if (probe < 0)
      return false;
    close(probe);
  }
  char *temporary = nullptr;
  const int descriptor = createBeside(target, &temporary);
  if (descriptor < 0)
    return false;
  if (exists) { /* as far as this process may: the owner only for root */
    (void)fchown(descriptor, old.st_uid, old.st_gid);
    (void)fchmod(descriptor, old.st_mode & 07777);
  }
  bool saved = writeAndClose(descriptor, table, true);
  if (saved)
    saved = rename(temporary, target) == 0;
  if (!saved)
    unlink(temporary);
  std::free(temporary);
  return saved;
}

} // namespace

/* A failed save leaves the previous file as it was: the new contents are
   written beside it and take its place only when complete. */
ZEL_EXPORT BOOL ZelObjC_SaveSymbolTable(SymbolTable *table,
                                        const char *path) noexcept {
  if (!table || !path || path[0] == '\0')
    return NO;
  struct stat64 info;
  if (stat64(path, &info) == 0 && !S_ISREG(info.st_mode))
    return S_ISDIR(info.st_mode) ? NO : saveInPlace(path, table) ? YES : NO;
  char *target = replacedFile(path);
  if (!target)
    return NO;
  const bool saved = saveReplacing(target, table);
  std::free(target);
  return saved ? YES : NO;
}

/* A file that is not a well-formed image is refused like one that cannot
   be read: in-image strings must start with their zero marker and every
   scan must stop at the terminator. A refused file registers nothing. */
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
  SymbolTable *table = readTable(pathString, path);
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

/* ---- the index of loaded modules ----
   Reading every module's program headers and dynamic section again on
   each search would cost more than the search itself. The index keeps
   what a search reads of each module and is listed anew only when the
   loader's counters of loaded and unloaded modules have moved, so a
   search still sees the modules as they are loaded at that moment. It is
   read, listed anew and replaced only inside dl_iterate_phdr's callback,
   under the loader's own lock, so a module cannot go away while a search
   reads it. */

/* What a search by module name needs of a module's file, looked up at the
   first such search. */
struct ModuleFile {
  signed char state = 0; /* 0 not looked up yet, 1 known, -1 no file */
  unsigned long long device = 0;
  unsigned long long inode = 0;
  char *folder = nullptr; /* malloc'ed real folder of the file, or null */
  char *path = nullptr;   /* main program: malloc'ed path of the file */
};

struct Module {
  ElfW(Addr) base;
  const ElfW(Phdr) *headers;
  const char *path; /* as loaded: the loader's own string */
  DynamicInfo info;
  bool isMain; /* the loader lists the main program first */
  ModuleFile file;
};

struct LoaderCounters {
  unsigned long long adds;
  unsigned long long subs;

  bool operator==(const LoaderCounters &other) const {
    return adds == other.adds && subs == other.subs;
  }
};

struct ModuleIndex {
  LoaderCounters counters;
  Module *modules;
  unsigned count;
  unsigned room;
};

ModuleIndex *moduleIndex; /* made at the first search; the last never freed */

void freeModuleFile(ModuleFile *file) {
  std::free(file->folder);
  std::free(file->path);
  *file = ModuleFile{};
}

void freeIndex(ModuleIndex *index) {
  if (!index)
    return;
  for (unsigned i = 0; i < index->count; ++i)
    freeModuleFile(&index->modules[i].file);
  std::free(index->modules);
  std::free(index);
}

ModuleIndex *newIndex(const LoaderCounters &counters) {
  auto *index = static_cast<ModuleIndex *>(std::malloc(sizeof(ModuleIndex)));
  if (!index)
    return nullptr;
  *index = ModuleIndex{counters, nullptr, 0, 0};
  return index;
}

bool addModule(ModuleIndex *index, const dl_phdr_info *module) {
  if (index->count == index->room) {
    const unsigned room = index->room ? index->room * 2 : 32;
    auto *grown = static_cast<Module *>(
        std::realloc(index->modules, room * sizeof(Module)));
    if (!grown)
      return false;
    index->modules = grown;
    index->room = room;
  }
  Module &entry = index->modules[index->count];
  entry.base = module->dlpi_addr;
  entry.headers = module->dlpi_phdr;
  entry.path = module->dlpi_name ? module->dlpi_name : "";
  entry.info = readDynamic(module);
  entry.isMain = index->count == 0;
  entry.file = ModuleFile{};
  ++index->count;
  return true;
}

/* Compares addresses only: the strings of a module unloaded since are
   gone. */
bool isSameModule(const Module &a, const Module &b) {
  return a.base == b.base && a.headers == b.headers && a.path == b.path &&
         a.info.symbols == b.info.symbols && a.info.strings == b.info.strings;
}

/* A module still loaded keeps the file it was found to have. */
void carryFilesOver(ModuleIndex *from, ModuleIndex *to) {
  if (!from)
    return;
  for (unsigned i = 0; i < to->count; ++i)
    for (unsigned j = 0; j < from->count; ++j)
      if (from->modules[j].file.state != 0 &&
          isSameModule(to->modules[i], from->modules[j])) {
        to->modules[i].file = from->modules[j].file;
        from->modules[j].file = ModuleFile{};
        break;
      }
}

/* ---- names of modules ---- */

const char *baseName(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

/* The path of the running executable (malloc'ed), or null. Read from the
   link rather than through it: an emulator answers the link for its
   guest. */
char *executablePath() {
  char target[4096];
  const ssize_t length =
      readlink("/proc/self/exe", target, sizeof target - 1);
  if (length <= 0)
    return nullptr;
  target[length] = '\0';
  return copyText(target, nullptr);
}

/* The file behind a module: the main program's from /proc, a library's
   by the path it was loaded with. */
void lookUpFile(Module *module) {
  ModuleFile &file = module->file;
  if (file.state != 0)
    return;
  file.state = -1;
  if (module->isMain)
    file.path = executablePath();
  const char *path = module->isMain ? file.path : module->path;
  struct stat64 info;
  if (!path || path[0] == '\0' || stat64(path, &info) != 0)
    return;
  file.state = 1;
  file.device = info.st_dev;
  file.inode = info.st_ino;
  if (char *real = realpath(path, nullptr)) {
    *const_cast<char *>(baseName(real)) = '\0'; /* keeps the last slash */
    file.folder = real;
  }
}

/* True when text is the file name of the running executable. */
bool namesExecutable(Module *main, const char *text) {
  lookUpFile(main);
  if (main->file.path && std::strcmp(baseName(main->file.path), text) == 0)
    return true;
  const char *invoked =
      reinterpret_cast<const char *>(getauxval(AT_EXECFN));
  return invoked && std::strcmp(baseName(invoked), text) == 0;
}

/* A library is named by its path as loaded, its file name or its
   soname. */
bool isNamed(const Module &module, const char *moduleName) {
  const char *path = module.path;
  if (path[0] != '\0' && (std::strcmp(path, moduleName) == 0 ||
                          std::strcmp(baseName(path), moduleName) == 0))
    return true;
  const DynamicInfo &info = module.info;
  return info.hasSoname && info.strings &&
         std::strcmp(info.strings + info.soname, moduleName) == 0;
}

struct FileIdentity {
  bool known = false;
  unsigned long long device = 0;
  unsigned long long inode = 0;
};

FileIdentity identityOf(const char *path) {
  FileIdentity identity;
  struct stat64 info;
  if (stat64(path, &info) == 0)
    identity = {true, info.st_dev, info.st_ino};
  return identity;
}

bool isFileOf(const FileIdentity &identity, const Module &module) {
  return identity.known && module.file.state == 1 &&
         identity.device == module.file.device &&
         identity.inode == module.file.inode;
}

/* True when the file name, taken in the module's own folder, leads to
   the module's file: a link such as the linker's name of a library. */
bool namesFileInFolder(const Module &module, const char *fileName) {
  if (!module.file.folder)
    return false;
  const size_t folder = std::strlen(module.file.folder);
  const size_t name = std::strlen(fileName);
  char *path = static_cast<char *>(std::malloc(folder + name + 1));
  if (!path)
    return false;
  std::memcpy(path, module.file.folder, folder);
  std::memcpy(path + folder, fileName, name + 1);
  const bool found = isFileOf(identityOf(path), module);
  std::free(path);
  return found;
}

/* The first module that the text names: by the names the module is known
   by, or else by the file the text leads to (from the working folder, or
   a bare file name in the module's folder), so that "./prog", a full path
   and a library's other names find their module too. */
Module *namedModule(ModuleIndex *index, const char *moduleName) {
  for (unsigned i = 0; i < index->count; ++i) {
    Module *module = &index->modules[i];
    if (module->isMain ? namesExecutable(module, moduleName)
                       : isNamed(*module, moduleName))
      return module;
  }
  const FileIdentity given = identityOf(moduleName);
  const bool bare = std::strchr(moduleName, '/') == nullptr;
  for (unsigned i = 0; i < index->count; ++i) {
    Module *module = &index->modules[i];
    lookUpFile(module);
    if (isFileOf(given, *module) ||
        (bare && namesFileInFolder(*module, moduleName)))
      return module;
  }
  return nullptr;
}

/* ---- the search ---- */

/* The address name has in the module, or null when the module does not
   itself export it. */
void *exportedAddress(const Module &module, const HashedName &name) {
  const DynamicInfo &info = module.info;
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
    address += module.base;
  if (ELF32_ST_TYPE(symbol.st_info) == STT_GNU_IFUNC)
    address = reinterpret_cast<ElfW(Addr) (*)(void)>(address)();
  return reinterpret_cast<void *>(address);
}

struct Search {
  HashedName asWritten;   /* "symbol" */
  HashedName underscored; /* "_symbol" */
  const char *moduleName;  /* null: every module */
  ModuleIndex *listed = nullptr; /* listed by this search, not yet in use */
  bool listing = false;
  bool done = false;
  void *address = nullptr;
};

/* Tries the name as written, then with one underscore in front. */
void *candidateAddress(const Module &module, const Search &search) {
  if (void *address = exportedAddress(module, search.asWritten))
    return address;
  return exportedAddress(module, search.underscored);
}

void searchIndex(Search *search) {
  ModuleIndex *index = moduleIndex;
  if (search->moduleName) {
    if (Module *module = namedModule(index, search->moduleName))
      search->address = candidateAddress(*module, *search);
    return;
  }
  for (unsigned i = 0; i < index->count && !search->address; ++i)
    search->address = candidateAddress(index->modules[i], *search);
}

/* dl_iterate_phdr callback: non-zero ends the walk. The first module of a
   walk tells whether the index is current; if not, the walk lists every
   module for a new index, which the next walk puts in place once the
   counters show nothing changed in between. */
int visitModule(dl_phdr_info *module, size_t size, void *context) {
  auto *search = static_cast<Search *>(context);
  if (search->listing) {
    if (addModule(search->listed, module))
      return 0;
    freeIndex(search->listed); /* out of memory: an index in part is none */
    search->listed = nullptr;
    return 1;
  }
  /* A loader without counters: the index could not be trusted. */
  if (size < offsetof(dl_phdr_info, dlpi_subs) + sizeof module->dlpi_subs)
    return 1;
  const LoaderCounters now{module->dlpi_adds, module->dlpi_subs};
  if (search->listed && search->listed->counters == now) {
    carryFilesOver(moduleIndex, search->listed);
    std::swap(moduleIndex, search->listed); /* the old one is freed later */
  }
  if (moduleIndex && moduleIndex->counters == now) {
    searchIndex(search);
    search->done = true;
    return 1;
  }
  freeIndex(search->listed);
  search->listed = newIndex(now);
  if (!search->listed)
    return 1;
  search->listing = true;
  return visitModule(module, size, context);
}

/* Searches the modules as loaded now. A walk that found the index out of
   date lists it anew, and the next one searches; loads and unloads on
   other threads could make that happen again, a few times at most. */
void *searchLoadedModules(Search *search) {
  for (int walk = 0; walk < 4 && !search->done; ++walk) {
    dl_iterate_phdr(visitModule, search);
    search->listing = false;
  }
  freeIndex(search->listed);
  return search->address;
}

} // namespace

/* "module:symbol" searches the first loaded module of that name, "symbol"
   every module in the loader's order (main program first); in each the
   name as written wins over the underscored one. Nothing is loaded. */
ZEL_EXPORT void *ZelObjC_LookupExternalSymbol(const char *name) noexcept {
  if (!name)
    return nullptr;
  const size_t length = std::strlen(name);
  /* "_symbol" then the module name: on the stack when short. */
  char local[256];
  char *buffer = length + 2 <= sizeof local
                     ? local
                     : static_cast<char *>(std::malloc(length + 2));
  if (!buffer)
    return nullptr;
  buffer[0] = '_';
  Search lookup;
  lookup.moduleName = nullptr;
  if (const char *colon = std::strchr(name, ':')) {
    const size_t moduleLength = static_cast<size_t>(colon - name);
    char *symbol = buffer + 1;
    std::memcpy(symbol, colon + 1, length - moduleLength);
    char *module = symbol + (length - moduleLength);
    std::memcpy(module, name, moduleLength);
    module[moduleLength] = '\0';
    lookup.moduleName = module;
  } else {
    std::memcpy(buffer + 1, name, length + 1);
  }
  lookup.asWritten = hashed(buffer + 1);
  lookup.underscored = hashed(buffer);
  void *address = nullptr;
  if (!lookup.moduleName || lookup.moduleName[0] != '\0')
    address = searchLoadedModules(&lookup);
  if (buffer != local)
    std::free(buffer);
  return address;
}

/* }========================================================== */
