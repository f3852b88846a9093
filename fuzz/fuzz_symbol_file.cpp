// Symbol table files of arbitrary bytes: a well-formed file must load, a
// file that loads must hold what a plain reading of its records says, and
// must survive a save and a reload unchanged, the saved file as long as
// its definitions laid end to end. Definitions made on top of a loaded
// table stand beside the loaded ones, and saving over the file the table
// was loaded from keeps both.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

using Definitions = std::map<std::string, std::pair<int, std::string>>;

// In memory where the machine has such a folder: a save waits for its file
// to reach the disk, which would slow every run down many times over.
std::string scratchPath(const char *which) {
  const char *folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(folder) + "/zel_fuzz_" + std::to_string(getpid()) + "_" +
         which + ".sym";
}

bool writeFile(const std::string &path, const std::uint8_t *data,
               std::size_t size) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (!file)
    return false;
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

void collect(int kind, const char *name, const char *type, void *context) {
  auto &definitions = *static_cast<Definitions *>(context);
  if (!definitions.emplace(name, std::make_pair(kind, type)).second)
    std::abort(); // a name enumerated twice
}

Definitions enumerate(SymbolTable *table) {
  Definitions definitions;
  ZelObjC_EnumerateSymbols(table, collect, &definitions);
  for (const auto &entry : definitions) {
    const char *type = nullptr;
    if (ZelObjC_LookupSymbol(table, entry.first.c_str(), &type) !=
            entry.second.first ||
        !type || entry.second.second != type)
      std::abort(); // lookup disagrees with enumeration
  }
  return definitions;
}

// True when the bytes follow the format: empty, or records of a zero, a
// non-empty name, a zero, a kind 1 to 6 and a type text, then a zero.
bool isWellFormed(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return true;
  if (data[0] != 0 || data[size - 1] != 0)
    return false;
  std::size_t i = 0;
  while (i + 1 < size) { // data[i] is a record's lead zero
    const std::size_t name = i + 1;
    std::size_t end = name;
    while (end < size && data[end] != 0)
      ++end;
    if (end == name || end + 1 >= size) // empty name, or no kind
      return false;
    if (data[end + 1] < 1 || data[end + 1] > 6) // the terminator included
      return false;
    std::size_t type = end + 2;
    while (type < size && data[type] != 0)
      ++type;
    if (type >= size)
      return false;
    i = type;
  }
  return true;
}

// The length of the file that saves these definitions.
std::size_t savedLength(const Definitions &definitions) {
  std::size_t length = 1;
  for (const auto &entry : definitions)
    length += 1 + entry.first.size() + 1 + 1 + entry.second.second.size();
  return length;
}

long fileLength(const std::string &path) {
  FILE *file = std::fopen(path.c_str(), "rb");
  if (!file)
    return -1;
  std::fseek(file, 0, SEEK_END);
  const long length = std::ftell(file);
  std::fclose(file);
  return length;
}

// The records as the file format lays them out; the later of two records
// for one name wins.
Definitions readRecords(const std::uint8_t *data, std::size_t size) {
  Definitions definitions;
  const char *bytes = reinterpret_cast<const char *>(data);
  for (std::size_t i = 0; i + 1 < size;) {
    const std::string name(bytes + i + 1);
    const std::size_t kindAt = i + 1 + name.size() + 1;
    const std::string type(bytes + kindAt + 1);
    definitions[name] = {static_cast<signed char>(bytes[kindAt]), type};
    i = kindAt + 1 + type.size();
  }
  return definitions;
}

class Pool {
public:
  Pool()
      : pool_(
            objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init")) {}
  ~Pool() { objc_send<void>(pool_, "release"); }

private:
  id pool_;
};

// Definitions made on top of a loaded table, drawn from the input: some
// redefine loaded names (with other kinds and types), some are new.
void defineSome(SymbolTable *table, const std::uint8_t *data, std::size_t size,
                Definitions &expected) {
  std::size_t count = size % 5;
  auto loaded = expected.begin();
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t pick = data[(i * 7) % size];
    std::string name;
    if ((pick & 1) && loaded != expected.end())
      name = (loaded++)->first;
    else
      name = "defined" + std::to_string(pick);
    char kind = static_cast<char>(1 + pick % 6);
    std::string type = "t" + std::to_string(pick ^ i);
    ZelObjC_DefineSymbol(table, name.c_str(), kind, type.c_str());
    expected[name] = {kind, type};
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  Pool pool;
  const std::string original = scratchPath("in");
  const std::string copy = scratchPath("out");
  if (!writeFile(original, data, size))
    return 0;
  SymbolTable *table = ZelObjC_LoadSymbolTable(original.c_str());
  if (!table) {
    std::remove(original.c_str());
    if (isWellFormed(data, size))
      std::abort(); // a well-formed file refused
    return 0;
  }
  if (!isWellFormed(data, size))
    std::abort(); // a malformed file taken
  Definitions expected = readRecords(data, size);
  if (enumerate(table) != expected)
    std::abort();
  if (size > 0)
    defineSome(table, data, size, expected);
  if (enumerate(table) != expected)
    std::abort(); // loaded and defined entries side by side

  // Saved over the very file it was loaded from, and loaded again.
  if (!ZelObjC_SaveSymbolTable(table, original.c_str()))
    std::abort();
  if (fileLength(original) != static_cast<long>(savedLength(expected)))
    std::abort();
  SymbolTable *again = ZelObjC_LoadSymbolTable(original.c_str());
  std::remove(original.c_str());
  if (!again || enumerate(again) != expected)
    std::abort();
  ZelObjC_DestroySymbolTable(again);

  if (!ZelObjC_SaveSymbolTable(table, copy.c_str()))
    std::abort();
  if (fileLength(copy) != static_cast<long>(savedLength(expected)))
    std::abort();
  ZelObjC_DestroySymbolTable(table);
  SymbolTable *reloaded = ZelObjC_LoadSymbolTable(copy.c_str());
  std::remove(copy.c_str());
  if (!reloaded || enumerate(reloaded) != expected)
    std::abort();
  ZelObjC_DestroySymbolTable(reloaded);
  return 0;
}
