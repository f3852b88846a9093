// Symbol tables and their files: definitions, holders, the byte-exact
// format, shared zero-copy loads and refusal of malformed files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zelObjCRuntime/zelObjCRuntime.h>
#include "zelObjCRuntime/symbol.h"

#include "support/allocation_counter.h"

#ifdef ZEL_COUNTS_ALLOCATIONS
// Name comparisons, counted while countingComparisons is set: the program
// defines strcmp, which the loader binds ahead of the C library's for the
// libraries too.
namespace {
unsigned long comparisons;
bool countingComparisons;
} // namespace

extern "C" int strcmp(const char *a, const char *b) {
  if (countingComparisons)
    ++comparisons;
  const auto *p = reinterpret_cast<const unsigned char *>(a);
  const auto *q = reinterpret_cast<const unsigned char *>(b);
  while (*p != 0 && *p == *q) {
    ++p;
    ++q;
  }
  return *p - *q;
}
#endif

namespace {

using Definitions = std::map<std::string, std::pair<int, std::string>>;

void collect(int kind, const char *name, const char *type, void *context) {
  auto *seen = static_cast<Definitions *>(context);
  EXPECT_EQ(seen->count(name), 0u) << "reported twice: " << name;
  (*seen)[name] = {kind, type};
}

Definitions contents(SymbolTable *table) {
  Definitions seen;
  ZelObjC_EnumerateSymbols(table, collect, &seen);
  return seen;
}

std::string readFile(const std::string &path) {
  std::string bytes;
  if (FILE *file = std::fopen(path.c_str(), "rb")) {
    for (int c; (c = std::fgetc(file)) != EOF;)
      bytes.push_back(static_cast<char>(c));
    std::fclose(file);
  }
  return bytes;
}

void writeFile(const std::string &path, const std::string &bytes) {
  FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

// The names in a folder, but for "." and "..".
// readdir64: under qemu-i386 the host's 64-bit directory offsets make the
// 32-bit readdir fail with EOVERFLOW.
std::vector<std::string> folderEntries(const std::string &folder) {
  std::vector<std::string> names;
  if (DIR *listing = opendir(folder.c_str())) {
    while (dirent64 *entry = readdir64(listing))
      if (std::strcmp(entry->d_name, ".") != 0 &&
          std::strcmp(entry->d_name, "..") != 0)
        names.push_back(entry->d_name);
    closedir(listing);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A table of count names n<first>, n<first+1>, ... of kind MACRO.
SymbolTable *numberedTable(int first, int count) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  for (int i = first; i < first + count; ++i)
    ZelObjC_DefineSymbol(table, ("n" + std::to_string(i)).c_str(),
                         ZEL_SYMBOL_MACRO, "0123456789");
  return table;
}

class SymbolTest : public ::testing::Test {
protected:
  void SetUp() override {
    pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    char pattern[] = "/tmp/zelsymXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    objc_send<void>(pool, "release");
  }
  std::string file(const char *name) const { return dir + "/" + name; }

  id pool = nil;
  std::string dir;
};

// ---------------------------------------------------------------- tables

TEST_F(SymbolTest, NewTableIsEmptyWithOneHolder) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->refCount, 1);
  EXPECT_EQ(table->path, nil);
  EXPECT_EQ(table->data, nil);
  const char *type = "untouched";
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "anything", &type), 0);
  EXPECT_STREQ(type, "untouched");
  EXPECT_TRUE(contents(table).empty());
  ZelObjC_DestroySymbolTable(table);
}

TEST_F(SymbolTest, DefineLookupAndRedefine) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  ZelObjC_DefineSymbol(table, "abc", ZEL_SYMBOL_FUNCTION, "i");
  const char *type = nullptr;
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "abc", &type), 4);
  EXPECT_STREQ(type, "i");

  ZelObjC_DefineSymbol(table, "abc", ZEL_SYMBOL_TYPEDEF, "{pt=ii}");
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "abc", &type), 2);
  EXPECT_STREQ(type, "{pt=ii}");
  Definitions seen = contents(table);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen["abc"], std::make_pair(2, std::string("{pt=ii}")));

  ZelObjC_DefineSymbol(table, "EMPTY", ZEL_SYMBOL_MACRO, "");
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "EMPTY", &type), 1);
  EXPECT_STREQ(type, "");
  ZelObjC_DestroySymbolTable(table);
}

TEST_F(SymbolTest, NamesAreCaseSensitive) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  ZelObjC_DefineSymbol(table, "Point", ZEL_SYMBOL_TYPEDEF, "{Point=ii}");
  ZelObjC_DefineSymbol(table, "point", ZEL_SYMBOL_VARIABLE, "^v");
  const char *type = nullptr;
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "Point", &type), 2);
  EXPECT_STREQ(type, "{Point=ii}");
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "point", &type), 3);
  EXPECT_STREQ(type, "^v");
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "POINT", &type), 0);
  EXPECT_EQ(contents(table).size(), 2u);
  ZelObjC_DestroySymbolTable(table);
}

TEST_F(SymbolTest, EmptyNamesAndKindsOutsideOneToSixAreIgnored) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  ZelObjC_DefineSymbol(table, "", ZEL_SYMBOL_FUNCTION, "i");
  for (char kind : {char(0), char(7), char(-1), char(0x7f)})
    ZelObjC_DefineSymbol(table, "bad", kind, "i");
  EXPECT_TRUE(contents(table).empty());

  ZelObjC_DefineSymbol(table, "kept", ZEL_SYMBOL_IMPORTED, "v");
  ZelObjC_DefineSymbol(table, "kept", 0, "i");
  const char *type = nullptr;
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "kept", &type), 6);
  EXPECT_STREQ(type, "v");

  // An empty name is never defined; asking for one reads only its byte.
  char *empty = static_cast<char *>(std::malloc(1));
  ASSERT_NE(empty, nullptr);
  empty[0] = '\0';
  type = "untouched";
  EXPECT_EQ(ZelObjC_LookupSymbol(table, empty, &type), 0);
  EXPECT_STREQ(type, "untouched");
  std::free(empty);
  ZelObjC_DestroySymbolTable(table);
}

TEST_F(SymbolTest, TypeTextStaysPutWhileTheTableGrows) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  ZelObjC_DefineSymbol(table, "first", ZEL_SYMBOL_VARIABLE, "d");
  const char *type = nullptr;
  ASSERT_EQ(ZelObjC_LookupSymbol(table, "first", &type), 3);
  for (int i = 0; i < 2000; ++i) {
    std::string name = "name" + std::to_string(i);
    ZelObjC_DefineSymbol(table, name.c_str(), char(1 + i % 6),
                         std::to_string(i).c_str());
  }
  EXPECT_STREQ(type, "d");
  Definitions seen = contents(table);
  ASSERT_EQ(seen.size(), 2001u);
  EXPECT_EQ(seen["name1234"],
            std::make_pair(1 + 1234 % 6, std::string("1234")));
  ZelObjC_DestroySymbolTable(table);
}

TEST_F(SymbolTest, EnumerationPassesTheContextThrough) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  ZelObjC_DefineSymbol(table, "x", ZEL_SYMBOL_VARIABLE, "i");
  struct Probe {
    void *context = nullptr;
    static void call(int, const char *, const char *, void *context) {
      static_cast<Probe *>(context)->context = context;
    }
  } probe;
  ZelObjC_EnumerateSymbols(table, Probe::call, &probe);
  EXPECT_EQ(probe.context, &probe);
  ZelObjC_DestroySymbolTable(table);
}

TEST_F(SymbolTest, EveryHolderButTheLastLeavesTheTableAlive) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  ZelObjC_DefineSymbol(table, "kept", ZEL_SYMBOL_MACRO, "1");
  table->refCount = 2;
  ZelObjC_DestroySymbolTable(table);
  EXPECT_EQ(table->refCount, 1);
  const char *type = nullptr;
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "kept", &type), 1);
  EXPECT_STREQ(type, "1");
  ZelObjC_DestroySymbolTable(table);
}

// ----------------------------------------------------------------- files

const std::string eightBytes("\0abc\0\4i\0", 8);

TEST_F(SymbolTest, EmptyTableIsOneZeroByteAndLoadsEmpty) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  const std::string path = file("empty");
  EXPECT_EQ(ZelObjC_SaveSymbolTable(table, path.c_str()), YES);
  EXPECT_EQ(readFile(path), std::string(1, '\0'));
  ZelObjC_DestroySymbolTable(table);

  SymbolTable *loadedTable = ZelObjC_LoadSymbolTable(path.c_str());
  ASSERT_NE(loadedTable, nullptr);
  EXPECT_TRUE(contents(loadedTable).empty());
  ZelObjC_DestroySymbolTable(loadedTable);
}

TEST_F(SymbolTest, FileOfLengthZeroLoadsEmpty) {
  const std::string path = file("zero");
  writeFile(path, "");
  SymbolTable *table = ZelObjC_LoadSymbolTable(path.c_str());
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(contents(table).empty());
  ZelObjC_DestroySymbolTable(table);
}

TEST_F(SymbolTest, EightByteImageLoadsInPlaceAndSavesByteForByte) {
  const std::string path = file("abc");
  writeFile(path, eightBytes);
  SymbolTable *table = ZelObjC_LoadSymbolTable(path.c_str());
  ASSERT_NE(table, nullptr);
  const char *type = nullptr;
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "abc", &type), 4);
  EXPECT_STREQ(type, "i");
  EXPECT_EQ(contents(table).size(), 1u);

  // The type text lies in the file's buffer itself: no copy was made.
  auto *bytes =
      static_cast<const char *>(objc_send<const void *>(table->data, "bytes"));
  EXPECT_EQ(objc_send<unsigned>(table->data, "length"), 8u);
  EXPECT_EQ(type, bytes + 6);

  const std::string copy = file("copy");
  EXPECT_EQ(ZelObjC_SaveSymbolTable(table, copy.c_str()), YES);
  EXPECT_EQ(readFile(copy), eightBytes);
  ZelObjC_DestroySymbolTable(table);
}

TEST_F(SymbolTest, SaveThenLoadKeepsEveryDefinition) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  Definitions expected;
  for (int i = 0; i < 500; ++i) {
    std::string name = "sym_" + std::to_string(i);
    std::string type = std::string(size_t(i % 7), 'c') + "^{s=i}";
    if (i % 50 == 0)
      type.clear();
    if (i % 11 == 0)
      name += "\xc3\xa9"; // bytes above 0x7f hash as negative chars
    int kind = 1 + i % 6;
    ZelObjC_DefineSymbol(table, name.c_str(), char(kind), type.c_str());
    expected[name] = {kind, type};
  }
  const std::string path = file("many");
  ASSERT_EQ(ZelObjC_SaveSymbolTable(table, path.c_str()), YES);
  ZelObjC_DestroySymbolTable(table);

  SymbolTable *loadedTable = ZelObjC_LoadSymbolTable(path.c_str());
  ASSERT_NE(loadedTable, nullptr);
  EXPECT_EQ(contents(loadedTable), expected);
  const char *type = nullptr;
  std::string probe = "sym_22\xc3\xa9";
  EXPECT_EQ(ZelObjC_LookupSymbol(loadedTable, probe.c_str(), &type), 5);
  EXPECT_STREQ(type, "c^{s=i}");
  ZelObjC_DestroySymbolTable(loadedTable);
}

TEST_F(SymbolTest, LoadedTableTakesOwnedDefinitionsAndSavesThemAll) {
  const std::string path = file("mixed");
  writeFile(path, std::string("\0abc\0\4i\0def\0\2c\0", 15));
  SymbolTable *table = ZelObjC_LoadSymbolTable(path.c_str());
  ASSERT_NE(table, nullptr);
  ZelObjC_DefineSymbol(table, "abc", ZEL_SYMBOL_VARIABLE, "d"); // in-image
  ZelObjC_DefineSymbol(table, "ghi", ZEL_SYMBOL_MACRO, "42");   // new
  const std::string copy = file("mixed-copy");
  ASSERT_EQ(ZelObjC_SaveSymbolTable(table, copy.c_str()), YES);
  ZelObjC_DestroySymbolTable(table);

  Definitions expected = {
      {"abc", {3, "d"}}, {"def", {2, "c"}}, {"ghi", {1, "42"}}};
  SymbolTable *reloaded = ZelObjC_LoadSymbolTable(copy.c_str());
  ASSERT_NE(reloaded, nullptr);
  EXPECT_EQ(contents(reloaded), expected);
  EXPECT_EQ(readFile(copy).size(), 7u + 7u + 8u + 1u);
  ZelObjC_DestroySymbolTable(reloaded);
}

TEST_F(SymbolTest, LaterRecordOfOneNameWins) {
  const std::string path = file("twice");
  writeFile(path, std::string("\0abc\0\4i\0abc\0\3d\0", 15));
  SymbolTable *table = ZelObjC_LoadSymbolTable(path.c_str());
  ASSERT_NE(table, nullptr);
  const char *type = nullptr;
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "abc", &type), 3);
  EXPECT_STREQ(type, "d");
  EXPECT_EQ(contents(table).size(), 1u);
  ZelObjC_DestroySymbolTable(table);
}

TEST_F(SymbolTest, OnePathIsOneTableReadOnce) {
  const std::string path = file("shared");
  writeFile(path, eightBytes);
  SymbolTable *first = ZelObjC_LoadSymbolTable(path.c_str());
  ASSERT_NE(first, nullptr);
  writeFile(path, std::string("\0xyz\0\1q\0", 8));
  SymbolTable *second = ZelObjC_LoadSymbolTable(path.c_str());
  EXPECT_EQ(second, first);
  EXPECT_EQ(first->refCount, 2);
  EXPECT_EQ(ZelObjC_LookupSymbol(second, "abc", nullptr), 4);
  EXPECT_EQ(ZelObjC_LookupSymbol(second, "xyz", nullptr), 0);

  ZelObjC_DestroySymbolTable(first);
  SymbolTable *third = ZelObjC_LoadSymbolTable(path.c_str());
  EXPECT_EQ(third, first) << "still registered after one destroy";
  ZelObjC_DestroySymbolTable(third);
  ZelObjC_DestroySymbolTable(second);

  SymbolTable *fresh = ZelObjC_LoadSymbolTable(path.c_str());
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->refCount, 1);
  EXPECT_EQ(ZelObjC_LookupSymbol(fresh, "xyz", nullptr), 1);
  EXPECT_EQ(ZelObjC_LookupSymbol(fresh, "abc", nullptr), 0);
  ZelObjC_DestroySymbolTable(fresh);
}

TEST_F(SymbolTest, PathsAreTakenAsWritten) {
  const std::string path = file("spelt");
  const std::string other = dir + "/./spelt";
  writeFile(path, eightBytes);
  SymbolTable *a = ZelObjC_LoadSymbolTable(path.c_str());
  SymbolTable *b = ZelObjC_LoadSymbolTable(other.c_str());
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->refCount, 1);
  EXPECT_EQ(b->refCount, 1);
  ZelObjC_DestroySymbolTable(a);
  ZelObjC_DestroySymbolTable(b);
}

TEST_F(SymbolTest, SavingOverALoadedPathLeavesTheLoadedTable) {
  const std::string path = file("over");
  writeFile(path, eightBytes);
  SymbolTable *loadedTable = ZelObjC_LoadSymbolTable(path.c_str());
  ASSERT_NE(loadedTable, nullptr);

  SymbolTable *other = ZelObjC_NewSymbolTable();
  ZelObjC_DefineSymbol(other, "other", ZEL_SYMBOL_TYPEDEF, "f");
  EXPECT_EQ(ZelObjC_SaveSymbolTable(other, path.c_str()), YES);
  ZelObjC_DestroySymbolTable(other);

  const char *type = nullptr;
  EXPECT_EQ(ZelObjC_LookupSymbol(loadedTable, "abc", &type), 4);
  EXPECT_STREQ(type, "i");
  SymbolTable *again = ZelObjC_LoadSymbolTable(path.c_str());
  EXPECT_EQ(again, loadedTable);
  EXPECT_EQ(ZelObjC_LookupSymbol(again, "other", nullptr), 0);
  ZelObjC_DestroySymbolTable(again);
  ZelObjC_DestroySymbolTable(loadedTable);
}

TEST_F(SymbolTest, MissingPathLoadsNothing) {
  EXPECT_EQ(ZelObjC_LoadSymbolTable(file("missing").c_str()), nullptr);
  EXPECT_EQ(ZelObjC_LoadSymbolTable(nullptr), nullptr);
}

#ifdef ZEL_COUNTS_ALLOCATIONS
// Two images of one size, one with few long records and one with many
// short ones: a load that allocated per record, or grew its map while
// entering them, would need more for the second.
TEST_F(SymbolTest, LoadAllocatesNothingPerRecord) {
  std::string few, many;
  for (int i = 0; i < 8; ++i)
    few += std::string("\0a", 2) + char('0' + i) + std::string("\0\1", 2) +
           std::string(3995, 'c');
  for (int i = 0; i < 4000; ++i)
    many += std::string("\0n", 2) + std::to_string(1000 + i) +
            std::string("\0\1", 2);
  few += '\0';
  many += '\0';
  ASSERT_EQ(few.size(), many.size());
  writeFile(file("few"), few);
  writeFile(file("many"), many);

  auto allocationsToLoad = [&](const char *name, unsigned expected) {
    const std::string path = file(name);
    id loadPool =
        objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    startCountingAllocations();
    SymbolTable *table = ZelObjC_LoadSymbolTable(path.c_str());
    const unsigned long made = stopCountingAllocations();
    EXPECT_NE(table, nullptr);
    EXPECT_EQ(contents(table).size(), expected);
    ZelObjC_DestroySymbolTable(table);
    objc_send<void>(loadPool, "release");
    return made;
  };
  // The least of a few tries: the registry of loaded tables may rebuild
  // itself during any one of them.
  unsigned long fewest = ~0ul, fewestMany = ~0ul;
  for (int round = 0; round < 3; ++round) {
    fewest = std::min(fewest, allocationsToLoad("few", 8));
    fewestMany = std::min(fewestMany, allocationsToLoad("many", 4000));
  }
  EXPECT_EQ(fewestMany, fewest);
}
#endif

// Each image breaks one rule of the format. A refused load registers
// nothing: the next load of the same path reads the (mended) file anew.
TEST_F(SymbolTest, MalformedFilesAreRefused) {
  const std::string images[] = {
      std::string("\0abc\0\4i", 7),        // last byte is not 0
      std::string("abc\0\4i\0", 7),        // no lead byte
      std::string("\0\0\4i\0", 5),         // empty name
      std::string("\0\0", 2),              // empty name, nothing else
      std::string("\0abc\0", 5),           // name runs into the end
      std::string("\0abc\0\0", 6),         // kind 0
      std::string("\0abc\0\7i\0", 8),      // kind 7
      std::string("\0abc\0\x84i\0", 8),    // kind above 127
      std::string("\0abc\0\4i\0\0\0", 10), // second record with empty name
      std::string("\0abc\0\4i\0d\0", 10),  // second record without kind
  };
  const std::string path = file("bad");
  for (const std::string &image : images) {
    SCOPED_TRACE(testing::PrintToString(image));
    writeFile(path, image);
    EXPECT_EQ(ZelObjC_LoadSymbolTable(path.c_str()), nullptr);
    writeFile(path, eightBytes);
    SymbolTable *table = ZelObjC_LoadSymbolTable(path.c_str());
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->refCount, 1);
    EXPECT_EQ(ZelObjC_LookupSymbol(table, "abc", nullptr), 4);
    ZelObjC_DestroySymbolTable(table);
  }
}

TEST_F(SymbolTest, SaveReportsFilesThatCannotBeWritten) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  ZelObjC_DefineSymbol(table, "abc", ZEL_SYMBOL_FUNCTION, "i");
  EXPECT_EQ(ZelObjC_SaveSymbolTable(table, file("no/such/dir").c_str()), NO);
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(ZelObjC_SaveSymbolTable(table, "/dev/full"), NO);
    for (int i = 0; i < 3000; ++i) // more than one buffer's worth
      ZelObjC_DefineSymbol(table, ("n" + std::to_string(i)).c_str(),
                           ZEL_SYMBOL_MACRO, "0123456789");
    EXPECT_EQ(ZelObjC_SaveSymbolTable(table, "/dev/full"), NO);
  }
  ZelObjC_DestroySymbolTable(table);
}

// ------------------------------------------------- hostile files

// Each answers null without raising; the path stays unregistered.
TEST_F(SymbolTest, FilesThatCannotBeReadAnswerNull) {
  // Opens, but reading fails (an I/O error at offset 0).
  if (access("/proc/self/mem", R_OK) == 0) {
    EXPECT_EQ(ZelObjC_LoadSymbolTable("/proc/self/mem"), nullptr);
  }
  // A device that never ends, and one that is not a file at all.
  EXPECT_EQ(ZelObjC_LoadSymbolTable("/dev/zero"), nullptr);
  EXPECT_EQ(ZelObjC_LoadSymbolTable("/dev/null"), nullptr);
  EXPECT_EQ(ZelObjC_LoadSymbolTable(dir.c_str()), nullptr);

  // A named pipe without a writer and a socket: refused at once, where
  // opening the pipe for reading would wait for a writer for ever.
  const std::string pipe = file("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(ZelObjC_LoadSymbolTable(pipe.c_str()), nullptr);
  const std::string socketPath = file("socket");
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(
      bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address),
      0);
  EXPECT_EQ(ZelObjC_LoadSymbolTable(socketPath.c_str()), nullptr);
  close(listener);

  // Nothing was registered: a well-formed file at the pipe's path loads.
  ASSERT_EQ(unlink(pipe.c_str()), 0);
  writeFile(pipe, eightBytes);
  SymbolTable *table = ZelObjC_LoadSymbolTable(pipe.c_str());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->refCount, 1);
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "abc", nullptr), 4);
  ZelObjC_DestroySymbolTable(table);
}

// A sparse file past 4 GiB: refused from its size, before any read.
TEST_F(SymbolTest, FileLargerThanATableCanAddressIsRefused) {
  const std::string path = file("huge");
  const int descriptor =
      open(path.c_str(), O_WRONLY | O_CREAT | O_LARGEFILE, 0600);
  ASSERT_GE(descriptor, 0);
  const bool sized = ftruncate64(descriptor, (1ll << 32) + 16) == 0;
  close(descriptor);
  if (!sized)
    GTEST_SKIP() << "no sparse files of that size here";
  EXPECT_EQ(ZelObjC_LoadSymbolTable(path.c_str()), nullptr);
}

// Bytes this process has read so far (read and its kind), or -1 where
// the kernel does not tell.
long long bytesReadSoFar() {
  FILE *io = std::fopen("/proc/self/io", "r");
  if (!io)
    return -1;
  long long bytes = -1;
  char line[128];
  while (std::fgets(line, sizeof line, io))
    if (std::sscanf(line, "rchar: %lld", &bytes) == 1)
      break;
  std::fclose(io);
  return bytes;
}

// A sparse file of 2,000,000,000 zero bytes: its second byte already
// breaks the format (an empty name), so the load reads one piece of it and
// takes no room for the rest.
TEST_F(SymbolTest, LargeFileIsRefusedAtItsFirstWrongByte) {
  const std::string path = file("zeros");
  const int descriptor =
      open(path.c_str(), O_WRONLY | O_CREAT | O_LARGEFILE, 0600);
  ASSERT_GE(descriptor, 0);
  const bool sized = ftruncate64(descriptor, 2000000000ll) == 0;
  close(descriptor);
  if (!sized)
    GTEST_SKIP() << "no sparse files of that size here";

  const long long readBefore = bytesReadSoFar();
#ifdef ZEL_COUNTS_ALLOCATIONS
  startCountingAllocations();
#endif
  SymbolTable *table = ZelObjC_LoadSymbolTable(path.c_str());
#ifdef ZEL_COUNTS_ALLOCATIONS
  stopCountingAllocations();
  EXPECT_LT(largestAllocationCounted(), size_t(2) << 20);
#endif
  const long long readAfter = bytesReadSoFar();
  EXPECT_EQ(table, nullptr);
  if (readBefore >= 0 && readAfter >= 0) {
    EXPECT_LT(readAfter - readBefore, 2ll << 20);
  }

  // Refused, so not registered: the path loads once the file is mended.
  writeFile(path, eightBytes);
  table = ZelObjC_LoadSymbolTable(path.c_str());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "abc", nullptr), 4);
  ZelObjC_DestroySymbolTable(table);
}

// An image of some megabytes, read and checked piece by piece: records
// that straddle two pieces (one name alone is longer than a piece) load
// like any other, and a wrong byte anywhere, far past the first piece
// too, refuses the whole file.
TEST_F(SymbolTest, ImagesLargerThanOneReadAreCheckedThroughout) {
  std::string image;
  Definitions expected;
  size_t farKind = 0; // a kind byte well past the first piece
  auto add = [&](const std::string &name, int kind, const std::string &type) {
    image += '\0';
    image += name;
    image += '\0';
    if (farKind == 0 && image.size() > (5u << 19))
      farKind = image.size();
    image += char(kind);
    image += type;
    expected[name] = {kind, type};
  };
  for (int i = 0; image.size() < (3u << 20); ++i) {
    add("r" + std::to_string(i), 1 + i % 6, std::string(size_t(i % 4000), 't'));
    if (i == 500)
      add(std::string(1500000, 'N'), ZEL_SYMBOL_FUNCTION, "v");
  }
  image += '\0';
  const std::string path = file("large");
  writeFile(path, image);
  SymbolTable *table = ZelObjC_LoadSymbolTable(path.c_str());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(contents(table), expected);
  const char *type = nullptr;
  EXPECT_EQ(
      ZelObjC_LookupSymbol(table, std::string(1500000, 'N').c_str(), &type),
      ZEL_SYMBOL_FUNCTION);
  EXPECT_STREQ(type, "v");
  ZelObjC_DestroySymbolTable(table);

  std::string broken[] = {image, image, image.substr(0, image.size() - 1)};
  broken[0][farKind] = '\0'; // kind 0
  broken[1][farKind] = '\7'; // kind 7
  for (const std::string &bytes : broken) {
    const std::string brokenPath = file("broken");
    writeFile(brokenPath, bytes);
    EXPECT_EQ(ZelObjC_LoadSymbolTable(brokenPath.c_str()), nullptr);
  }
}

#ifdef ZEL_COUNTS_ALLOCATIONS
// Bytes the heap hands out, large blocks (mapped one by one) included.
size_t heapInUse() {
  const struct mallinfo2 heap = mallinfo2();
  return heap.uordblks + heap.hblkhd;
}

// 200,000 records of one name: the map takes the room of one name, where
// room for every record would be several times the file.
TEST_F(SymbolTest, DuplicateRecordsCostNoRoomOfTheirOwn) {
  std::string image;
  for (int i = 0; i < 200000; ++i)
    image += std::string("\0n\0\1", 4);
  image += '\0';
  const std::string path = file("same");
  writeFile(path, image);

  const size_t before = heapInUse();
  SymbolTable *table = ZelObjC_LoadSymbolTable(path.c_str());
  const size_t grown = heapInUse() - before;
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(contents(table).size(), 1u);
  EXPECT_LT(grown, image.size() + image.size() / 2)
      << "the file's bytes and a small map";
  ZelObjC_DestroySymbolTable(table);
}
#endif

// 65,536 names with one hash under 9 h + b ("aj" and "ba" hash alike, and
// so does every string of 16 such pairs): a map probing by that hash alone
// would compare each name with every one before it, two thousand million
// comparisons; the load must compare names about as often as there are.
TEST_F(SymbolTest, NamesMadeToCollideLoadQuickly) {
  std::string image;
  for (unsigned n = 0; n < 65536; ++n) {
    image += '\0';
    for (int bit = 0; bit < 16; ++bit)
      image += (n >> bit) & 1 ? "aj" : "ba";
    image += std::string("\0\2i", 3);
  }
  image += '\0';
  const std::string path = file("colliding");
  writeFile(path, image);
#ifdef ZEL_COUNTS_ALLOCATIONS
  comparisons = 0;
  countingComparisons = true;
#endif
  SymbolTable *table = ZelObjC_LoadSymbolTable(path.c_str());
#ifdef ZEL_COUNTS_ALLOCATIONS
  countingComparisons = false;
  EXPECT_LT(comparisons, 65536ul);
#endif
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(contents(table).size(), 65536u);
  const std::string last = [] {
    std::string name;
    for (int bit = 0; bit < 16; ++bit)
      name += "aj";
    return name;
  }();
  EXPECT_EQ(ZelObjC_LookupSymbol(table, last.c_str(), nullptr), 2);
  ZelObjC_DestroySymbolTable(table);
}

// ------------------------------------------------------- safe saves

// A save cut off half way (here by the file-size limit, the write failing
// with EFBIG while the close succeeds) answers NO and leaves the previous
// file byte for byte, with no stray file beside it. Run in a child so that
// the limit binds nothing else.
TEST_F(SymbolTest, SaveFailingHalfWayKeepsThePreviousFile) {
  const std::string path = file("kept");
  SymbolTable *previous = numberedTable(0, 100);
  ASSERT_EQ(ZelObjC_SaveSymbolTable(previous, path.c_str()), YES);
  ZelObjC_DestroySymbolTable(previous);
  const std::string before = readFile(path);
  ASSERT_GT(before.size(), 1000u);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 4096;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
      _exit(2);
    SymbolTable *bigger = numberedTable(0, 3000); // some 50 KB
    _exit(ZelObjC_SaveSymbolTable(bigger, path.c_str()) == NO ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the save answered YES";
  EXPECT_EQ(readFile(path), before);
  EXPECT_EQ(folderEntries(dir), std::vector<std::string>{"kept"});
}

// The same cut with SIGXFSZ at its default action: the process dies of
// the signal, but only once the save has removed the file it was writing.
TEST_F(SymbolTest, SaveKilledByTheFileSizeLimitLeavesNoTemporary) {
  const std::string path = file("kept");
  SymbolTable *previous = numberedTable(0, 100);
  ASSERT_EQ(ZelObjC_SaveSymbolTable(previous, path.c_str()), YES);
  ZelObjC_DestroySymbolTable(previous);
  const std::string before = readFile(path);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_DFL);
    sigset_t fileTooLarge;
    sigemptyset(&fileTooLarge);
    sigaddset(&fileTooLarge, SIGXFSZ);
    sigprocmask(SIG_UNBLOCK, &fileTooLarge, nullptr);
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 4096;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
      _exit(2);
    SymbolTable *bigger = numberedTable(0, 3000); // some 50 KB
    _exit(ZelObjC_SaveSymbolTable(bigger, path.c_str()) == NO ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(readFile(path), before);
  EXPECT_EQ(folderEntries(dir), std::vector<std::string>{"kept"});
}

// A save replaces the file the path leads to: a link stays a link, and the
// file keeps its permission bits.
TEST_F(SymbolTest, SaveKeepsLinksAndPermissions) {
  const std::string target = file("target");
  const std::string link = file("link");
  writeFile(target, eightBytes);
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(symlink("target", link.c_str()), 0);

  SymbolTable *table = numberedTable(0, 3);
  EXPECT_EQ(ZelObjC_SaveSymbolTable(table, link.c_str()), YES);
  struct stat info {};
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(readFile(target).size(), 1 + 3 * (1 + 2 + 1 + 11));
  EXPECT_EQ(folderEntries(dir), (std::vector<std::string>{"link", "target"}));

  // A new file is made as fopen makes one: 0666 less the umask.
  const mode_t mask = umask(022);
  EXPECT_EQ(ZelObjC_SaveSymbolTable(table, file("fresh").c_str()), YES);
  umask(mask);
  ASSERT_EQ(stat(file("fresh").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  ZelObjC_DestroySymbolTable(table);
}

// One process saves two tables in turn over one path while this one loads
// it again and again: every load sees one whole table, never a part.
TEST_F(SymbolTest, LoadsWhileAnotherProcessSavesSeeWholeTables) {
  const std::string path = file("raced");
  SymbolTable *first = numberedTable(0, 50);
  ASSERT_EQ(ZelObjC_SaveSymbolTable(first, path.c_str()), YES);
  ZelObjC_DestroySymbolTable(first);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SymbolTable *tables[] = {numberedTable(0, 50), numberedTable(100, 80)};
    for (int i = 0; i < 400; ++i)
      if (!ZelObjC_SaveSymbolTable(tables[i % 2], path.c_str()))
        _exit(1);
    _exit(0);
  }
  int loads = 0, partial = 0, status = 0;
  while (waitpid(child, &status, WNOHANG) == 0 || loads < 100) {
    SymbolTable *table = ZelObjC_LoadSymbolTable(path.c_str());
    const size_t names = table ? contents(table).size() : 0;
    if (names != 50 && names != 80)
      ++partial;
    ZelObjC_DestroySymbolTable(table);
    ++loads;
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a save failed";
  EXPECT_EQ(partial, 0) << "of " << loads << " loads";
  EXPECT_EQ(folderEntries(dir), std::vector<std::string>{"raced"});
}

} // namespace
