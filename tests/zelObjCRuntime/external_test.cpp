// External symbol lookup: the main program, the underscore candidate,
// named modules (file name, soname or any path to the module's file),
// first loaded module wins, imports do not count, and modules loaded
// between searches.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

#include <zelObjCRuntime/zelObjCRuntime.h>

#define ZEL_VISIBLE extern "C" __attribute__((visibility("default")))

// Exported for the lookup to find: declared first, as a header would.
ZEL_VISIBLE int zelsym_main_marker(void);
ZEL_VISIBLE int _zelsym_underscored(void);
ZEL_VISIBLE int zelsym_both(void);
ZEL_VISIBLE int _zelsym_both(void);
ZEL_VISIBLE int _zelsym_order(void);

ZEL_VISIBLE int zelsym_main_marker(void) { return 'm'; }
ZEL_VISIBLE int zelsym_main_variable;
int zelsym_main_variable = 17;
ZEL_VISIBLE int _zelsym_underscored(void) { return 'u'; }
ZEL_VISIBLE int zelsym_both(void) { return 'p'; }
ZEL_VISIBLE int _zelsym_both(void) { return '_'; }
// The helper library zelsym_a exports zelsym_order; the main program, listed
// first, has only the underscored form.
ZEL_VISIBLE int _zelsym_order(void) { return 'M'; }

// From the helper libraries (the program imports these).
extern "C" int zelsym_shared(void);
extern "C" int zelsym_a_calls_b(void);

namespace {

using Function = int (*)(void);

int callFound(const char *name) {
  void *address = ZelObjC_LookupExternalSymbol(name);
  return address ? reinterpret_cast<Function>(address)() : 0;
}

// Takes strlen's address so that the program surely imports it.
size_t (*volatile importedStrlen)(const char *) = &std::strlen;

TEST(ExternalSymbol, MainProgramSymbolsAreFound) {
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("zelsym_main_marker"),
            reinterpret_cast<void *>(&zelsym_main_marker));
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("zelsym_main_variable"),
            static_cast<void *>(&zelsym_main_variable));
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("external_test:zelsym_main_marker"),
            reinterpret_cast<void *>(&zelsym_main_marker));
}

TEST(ExternalSymbol, UnderscoredNameIsTheSecondCandidate) {
  EXPECT_EQ(callFound("zelsym_underscored"), 'u');
  EXPECT_EQ(callFound("zelsym_both"), 'p');
  EXPECT_EQ(callFound("_zelsym_both"), '_');
  // Both candidates are tried in one module before the next one.
  EXPECT_EQ(callFound("zelsym_order"), 'M');
  EXPECT_EQ(callFound("libzelsym_a.so:zelsym_order"), 'a');
}

TEST(ExternalSymbol, NamedSystemLibrary) {
  void *libc = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
  ASSERT_NE(libc, nullptr);
  void *found = ZelObjC_LookupExternalSymbol("libc.so.6:strlen");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found, dlsym(libc, "strlen"));
  using Strlen = size_t (*)(const char *);
  EXPECT_EQ(reinterpret_cast<Strlen>(found)("four"), 4u);
  // Unqualified, the first module that exports it answers (a sanitizer's
  // runtime may come before the C library).
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("strlen"),
            dlsym(RTLD_DEFAULT, "strlen"));
  dlclose(libc);
}

TEST(ExternalSymbol, ImportsDoNotCount) {
  ASSERT_EQ(importedStrlen("x"), 1u);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("external_test:strlen"), nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("external_test:zelsym_shared"),
            nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("libzelsym_a.so:zelsym_b_only"),
            nullptr);
  EXPECT_EQ(callFound("libzelsym_b.so:zelsym_b_only"), 'B');
  EXPECT_EQ(zelsym_a_calls_b(), 'B');
}

TEST(ExternalSymbol, FirstLoadedModuleWins) {
  EXPECT_EQ(zelsym_shared(), 'a');
  EXPECT_EQ(callFound("zelsym_shared"), 'a');
  EXPECT_EQ(callFound("libzelsym_a.so:zelsym_shared"), 'a');
  EXPECT_EQ(callFound("libzelsym_b.so:zelsym_shared"), 'b');
}

TEST(ExternalSymbol, ModuleNameEndsAtTheFirstColon) {
  void *colon = ZelObjC_LookupExternalSymbol("libzelsym_a.so:zelsym:colon");
  ASSERT_NE(colon, nullptr);
  EXPECT_EQ(*static_cast<int *>(colon), 58);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("zelsym:colon"), nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("libzelsym_a.so:zelsym:x:colon"),
            nullptr);
}

TEST(ExternalSymbol, UnknownNamesAndModules) {
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("zelsym_nowhere"), nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("libnowhere.so.1:strlen"), nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol(":strlen"), nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("libc.so.6:"), nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol(""), nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol(nullptr), nullptr);
}

// The library exists on disk but is loaded only by the test: searches
// before that find nothing and load nothing; later ones see it.
TEST(ExternalSymbol, ModuleLoadedBetweenSearches) {
  ASSERT_EQ(dlopen(ZEL_LATE_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("zelsym_late_marker"), nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol(ZEL_LATE_FILE ":zelsym_late_marker"),
            nullptr);
  EXPECT_EQ(dlopen(ZEL_LATE_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr)
      << "the search loaded the library";

  void *handle = dlopen(ZEL_LATE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  EXPECT_EQ(callFound("zelsym_late_marker"), 'L');
  EXPECT_EQ(callFound(ZEL_LATE_FILE ":zelsym_late_marker"), 'L');
  EXPECT_EQ(callFound("zelsym-late-soname:zelsym_late_marker"), 'L');
  EXPECT_EQ(callFound(ZEL_LATE_LIBRARY ":zelsym_late_marker"), 'L');

  ASSERT_EQ(dlclose(handle), 0);
  if (dlopen(ZEL_LATE_LIBRARY, RTLD_NOW | RTLD_NOLOAD) == nullptr) {
    EXPECT_EQ(ZelObjC_LookupExternalSymbol("zelsym_late_marker"), nullptr)
        << "an unloaded module is still searched";
  }
}

std::string realPathOf(const char *path) {
  char *real = realpath(path, nullptr);
  std::string text = real ? real : "";
  std::free(real);
  return text;
}

std::string folderOf(const std::string &path) {
  return path.substr(0, path.rfind('/'));
}

// The main program by any path that leads to its file: in full, from the
// working folder, and through a link elsewhere. Files that are not loaded
// still give null.
TEST(ExternalSymbol, MainProgramByThePathsToItsFile) {
  const std::string program = realPathOf("/proc/self/exe");
  ASSERT_FALSE(program.empty());
  void *marker = reinterpret_cast<void *>(&zelsym_main_marker);
  EXPECT_EQ(
      ZelObjC_LookupExternalSymbol((program + ":zelsym_main_marker").c_str()),
      marker);

  char previous[PATH_MAX];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(folderOf(program).c_str()), 0);
  const std::string relative =
      "./" + program.substr(program.rfind('/') + 1) + ":zelsym_main_marker";
  void *fromHere = ZelObjC_LookupExternalSymbol(relative.c_str());
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(fromHere, marker);

  char folder[] = "/tmp/zelextXXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string link = std::string(folder) + "/other-name";
  ASSERT_EQ(symlink(program.c_str(), link.c_str()), 0);
  EXPECT_EQ(
      ZelObjC_LookupExternalSymbol((link + ":zelsym_main_marker").c_str()),
      marker);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("other-name:zelsym_main_marker"),
            nullptr)
      << "a bare name is looked for beside each module only";
  unlink(link.c_str());
  rmdir(folder);

  EXPECT_EQ(ZelObjC_LookupExternalSymbol("/bin/sh:zelsym_main_marker"),
            nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("./:zelsym_main_marker"), nullptr);
}

// A library by its linker name (the link beside it that the linker reads)
// and by its real path, as well as by its soname.
TEST(ExternalSymbol, LibraryByThePathsToItsFile) {
  Dl_info info{};
  ASSERT_NE(
      dladdr(reinterpret_cast<void *>(&ZelObjC_LookupExternalSymbol), &info),
      0);
  const std::string library = realPathOf(info.dli_fname);
  const std::string linkerName = folderOf(library) + "/libzelObjCRuntime.so";
  void *expected = dlsym(RTLD_DEFAULT, "ZelObjC_NewSymbolTable");
  ASSERT_NE(expected, nullptr);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol(
                "libzelObjCRuntime.so.1:ZelObjC_NewSymbolTable"),
            expected);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol(
                (library + ":ZelObjC_NewSymbolTable").c_str()),
            expected);
  if (realPathOf(linkerName.c_str()) != library)
    GTEST_SKIP() << "no linker name beside " << library;
  EXPECT_EQ(ZelObjC_LookupExternalSymbol(
                "libzelObjCRuntime.so:ZelObjC_NewSymbolTable"),
            expected);
  EXPECT_EQ(ZelObjC_LookupExternalSymbol("libzelObjCRuntime.so:strlen"),
            nullptr)
      << "the named module only";
}

} // namespace
