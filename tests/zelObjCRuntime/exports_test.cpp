// What the library shows the outside: exactly the names of its version
// script in the dynamic symbol table, and the marker class at load.
#include <gtest/gtest.h>

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <objc/objc-load.h>
#include <zelObjCRuntime/zelObjCRuntime.h>

// Linked the way other libraries link: by importing the marker class.
OBJC_IMPORT_CLASS(NSFramework_zelObjCRuntime);

namespace {

std::vector<char> readFile(const char *path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename T>
bool readAt(const std::vector<char> &file, size_t at, T *out) {
  if (at > file.size() || file.size() - at < sizeof(T))
    return false;
  std::memcpy(out, file.data() + at, sizeof(T));
  return true;
}

// Defined global and weak names of a 32-bit ELF file's .dynsym; read from
// the file, since a 32-bit test may not be able to run a host tool.
std::set<std::string> definedDynamicSymbols(const char *path) {
  std::set<std::string> names;
  std::vector<char> file = readFile(path);
  Elf32_Ehdr header;
  if (!readAt(file, 0, &header) ||
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS32)
    return names;
  std::vector<Elf32_Shdr> sections(header.e_shnum);
  for (size_t i = 0; i < sections.size(); ++i)
    if (!readAt(file, header.e_shoff + i * header.e_shentsize, &sections[i]))
      return names;
  for (const Elf32_Shdr &section : sections) {
    if (section.sh_type != SHT_DYNSYM || section.sh_link >= sections.size())
      continue;
    const Elf32_Shdr &strings = sections[section.sh_link];
    for (size_t at = section.sh_offset + sizeof(Elf32_Sym);
         at + sizeof(Elf32_Sym) <= section.sh_offset + section.sh_size;
         at += sizeof(Elf32_Sym)) {
      Elf32_Sym symbol;
      int binding = 0;
      if (!readAt(file, at, &symbol) || symbol.st_shndx == SHN_UNDEF ||
          symbol.st_name >= strings.sh_size)
        continue;
      binding = ELF32_ST_BIND(symbol.st_info);
      if (binding == STB_GLOBAL || binding == STB_WEAK)
        names.insert(file.data() + strings.sh_offset + symbol.st_name);
    }
  }
  return names;
}

// The names between "global:" and "local:" of a version script.
std::set<std::string> versionScriptNames(const char *path) {
  std::vector<char> file = readFile(path);
  std::string text(file.begin(), file.end());
  size_t from = text.find("global:"), to = text.find("local:");
  std::set<std::string> names;
  if (from == std::string::npos || to == std::string::npos)
    return names;
  std::string list = text.substr(from + 7, to - from - 7);
  for (char &c : list)
    if (c == ';' || c == '"')
      c = ' ';
  std::istringstream words(list);
  for (std::string name; words >> name;)
    names.insert(name);
  return names;
}

TEST(Exports, DynamicSymbolsAreExactlyTheVersionScript) {
  std::set<std::string> wanted = versionScriptNames(ZEL_EXPORTS_MAP);
  ASSERT_GT(wanted.size(), 40u);
  std::set<std::string> exported = definedDynamicSymbols(ZEL_LIBRARY_FILE);
  ASSERT_FALSE(exported.empty()) << ZEL_LIBRARY_FILE;
  for (const std::string &name : wanted)
    EXPECT_TRUE(exported.count(name)) << "not exported: " << name;
  for (const std::string &name : exported)
    EXPECT_TRUE(wanted.count(name)) << "exported by mistake: " << name;
}

// The version script itself lists exactly the library's interface.
TEST(Exports, VersionScriptIsTheInterface) {
  const std::set<std::string> interface = {
      "objc_skip_type_qualifiers",
      "objc_sizeof_type",
      "objc_alignof_type",
      "objc_aligned_size",
      "objc_promoted_size",
      "objc_skip_typespec",
      "objc_skip_offset",
      "objc_skip_argspec",
      "apply",
      "zelObjC_TypeToApplyVal",
      "zelObjC_CompatibleTypes",
      "zelObjC_strtoull",
      "zelObjC_lltostr",
      "zelObjC_ulltostr",
      "ZelObjC_LookupMethod",
      "zelObjC_FlushCaches",
      "ZelObjC_SetMultithreaded",
      "ZelObjC_NewClass",
      "ZelObjC_DestroyClass",
      "ZelObjC_IVarStruct",
      "ZelObjC_GetInstanceVariable",
      "ZelObjC_NewProtocol",
      "ZelObjC_LookupProtocol",
      "ZelObjC_EnumerateProtocols",
      "ZelObjC_LookupProtocolMethod",
      "ZelObjC_ImplementsProtocol",
      "ZelObjC_ConformsToProtocol",
      "zelObjC_InstallIdHooks",
      "zelObjC_SetRegistersIdsOnAlloc",
      "zelObjC_RegistersIdsOnAlloc",
      "ZelObjC_RegisterId",
      "ZelObjC_UnregisterId",
      "ZelObjC_NewSymbolTable",
      "ZelObjC_DefineSymbol",
      "ZelObjC_LookupSymbol",
      "ZelObjC_EnumerateSymbols",
      "ZelObjC_DestroySymbolTable",
      "ZelObjC_LoadSymbolTable",
      "ZelObjC_SaveSymbolTable",
      "ZelObjC_LookupExternalSymbol",
      ".objc_class_name_NSFramework_zelObjCRuntime"};
  EXPECT_EQ(versionScriptNames(ZEL_EXPORTS_MAP), interface);
}

TEST(Exports, MarkerClassIsRegisteredAtLoad) {
  Class marker =
      reinterpret_cast<Class>(objc_lookUpClass("NSFramework_zelObjCRuntime"));
  ASSERT_NE(marker, nullptr);
  EXPECT_EQ(marker->super_class, nullptr);
  EXPECT_EQ(marker->version, 0);
  EXPECT_EQ(marker->ivars, nullptr);
  void *iterator = nullptr;
  EXPECT_EQ(class_nextMethodList(marker, &iterator), nullptr);

  Class meta = marker->isa;
  ASSERT_NE(meta, nullptr);
  EXPECT_EQ(meta->instance_size, 40);
  EXPECT_EQ(meta->version, 0);
  iterator = nullptr;
  EXPECT_EQ(class_nextMethodList(meta, &iterator), nullptr);
  ASSERT_NE(meta->ivars, nullptr);
  ASSERT_EQ(meta->ivars->ivar_count, 10);
  const char *expected[10][2] = {{"isa", "^{_objc_class}"},
                                 {"super_class", "^{_objc_class}"},
                                 {"name", "*"},
                                 {"version", "l"},
                                 {"info", "l"},
                                 {"instance_size", "l"},
                                 {"ivars", "^{_objc_ivar_list}"},
                                 {"methods", "^{_objc_method_list}"},
                                 {"cache", "^{objc_cache}"},
                                 {"protocol_list", "^^{_objc_protocol}"}};
  for (int i = 0; i < 10; ++i) {
    const struct objc_ivar &ivar = meta->ivars->ivar_list[i];
    EXPECT_STREQ(ivar.ivar_name, expected[i][0]);
    EXPECT_STREQ(ivar.ivar_type, expected[i][1]);
    EXPECT_EQ(ivar.ivar_offset, 4 * i);
  }
}

} // namespace
