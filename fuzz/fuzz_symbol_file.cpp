// Symbol table files of arbitrary bytes: a file that loads must hold what
// a plain reading of its records says, and must survive a save and a
// reload unchanged.
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

std::string scratchPath(const char *which) {
  return "/tmp/zel_fuzz_" + std::to_string(getpid()) + "_" + which + ".sym";
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
      : pool_(objc_send(objc_send_class("NSAutoreleasePool", "alloc"),
                        "init")) {}
  ~Pool() { objc_send<void>(pool_, "release"); }

private:
  id pool_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  Pool pool;
  const std::string original = scratchPath("in");
  const std::string copy = scratchPath("out");
  if (!writeFile(original, data, size))
    return 0;
  SymbolTable *table = ZelObjC_LoadSymbolTable(original.c_str());
  std::remove(original.c_str());
  if (!table)
    return 0; // refused as malformed
  const Definitions loaded = enumerate(table);
  if (loaded != readRecords(data, size))
    std::abort();
  if (!ZelObjC_SaveSymbolTable(table, copy.c_str()))
    std::abort();
  ZelObjC_DestroySymbolTable(table);

  SymbolTable *reloaded = ZelObjC_LoadSymbolTable(copy.c_str());
  std::remove(copy.c_str());
  if (!reloaded || enumerate(reloaded) != loaded)
    std::abort();
  ZelObjC_DestroySymbolTable(reloaded);
  return 0;
}
