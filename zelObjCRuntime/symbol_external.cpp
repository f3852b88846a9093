/* symbol: the lookup of symbols exported by the modules loaded in the
   process, by reading each module's dynamic section and hash tables (ELF)
   as the loader lists them. Nothing is loaded. */
#include "symbol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

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

const ElfW(Dyn) * dynamicSection(const dl_phdr_info *module) {
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
    case DT_SYMTAB:
      info.symbols = dynamicPointer<ElfW(Sym)>(base, p);
      break;
    case DT_STRTAB:
      info.strings = dynamicPointer<char>(base, p);
      break;
    case DT_GNU_HASH:
      info.gnuHash = dynamicPointer<Elf32_Word>(base, p);
      break;
    case DT_HASH:
      info.sysvHash = dynamicPointer<Elf32_Word>(base, p);
      break;
    case DT_VERSYM:
      info.versions = dynamicPointer<ElfW(Half)>(base, p);
      break;
    case DT_SONAME:
      info.soname = entry->d_un.d_val;
      info.hasSoname = true;
      break;
    default:
      break;
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
  if (binding != STB_GLOBAL && binding != STB_WEAK && binding != STB_GNU_UNIQUE)
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
  const ElfW(Addr) mask =
      (ElfW(Addr)(1) << (h % bits)) | (ElfW(Addr)(1) << ((h >> shift) % bits));
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
  const ElfW(Phdr) * headers;
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
  const ssize_t length = readlink("/proc/self/exe", target, sizeof target - 1);
  if (length <= 0)
    return nullptr;
  target[length] = '\0';
  return zel::copySymbolText(target, nullptr);
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
  const char *invoked = reinterpret_cast<const char *>(getauxval(AT_EXECFN));
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
  HashedName asWritten;          /* "symbol" */
  HashedName underscored;        /* "_symbol" */
  const char *moduleName;        /* null: every module */
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
