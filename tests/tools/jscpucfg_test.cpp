// The header printed by jscpucfg in this build, against what the compiler
// of the same build says of each type.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Header {
  std::vector<std::string> lines;
  std::map<std::string, std::string> defined; // name -> text of the value
  std::map<std::string, int> definitions;     // name -> times defined
  std::vector<std::string> undefined;
};

Header readHeader() {
  Header header;
  std::ifstream file(JSCPUCFG_HEADER);
  for (std::string line; std::getline(file, line);) {
    header.lines.push_back(line);
    std::istringstream words(line);
    std::string directive, name, value;
    words >> directive >> name >> value;
    if (directive == "#define") {
      header.defined[name] = value;
      ++header.definitions[name];
    } else if (directive == "#undef") {
      header.undefined.push_back(name);
    }
  }
  return header;
}

class JscpucfgHeader : public testing::Test {
protected:
  void SetUp() override {
    header_ = readHeader();
    ASSERT_FALSE(header_.lines.empty()) << "no header at " << JSCPUCFG_HEADER;
  }

  // The value of a numeric definition, which must be a whole long literal.
  long value(const std::string &name) {
    auto found = header_.defined.find(name);
    if (found == header_.defined.end()) {
      ADD_FAILURE() << name << " is not defined";
      return -999;
    }
    const std::string &text = found->second;
    char *end = nullptr;
    long number = std::strtol(text.c_str(), &end, 10);
    EXPECT_STREQ(end, "L") << name << " has the value " << text;
    EXPECT_EQ(header_.definitions[name], 1) << name << " defined again";
    return number;
  }

  void expectType(const std::string &type, long bytes) {
    SCOPED_TRACE(type);
    long bits = bytes * 8;
    EXPECT_EQ(value("JS_BYTES_PER_" + type), bytes);
    EXPECT_EQ(value("JS_BITS_PER_" + type), bits);
    long log2 = value("JS_BITS_PER_" + type + "_LOG2");
    EXPECT_EQ(1L << log2, bits);
  }

  Header header_;
};

TEST_F(JscpucfgHeader, SizesInBytesAndBitsAreThoseOfTheCompiler) {
  EXPECT_EQ(value("JS_BYTES_PER_BYTE"), 1);
  EXPECT_EQ(value("JS_BITS_PER_BYTE"), CHAR_BIT);
  EXPECT_EQ(value("JS_BITS_PER_BYTE_LOG2"), 3);
  expectType("SHORT", sizeof(short));
  expectType("INT", sizeof(int));
  expectType("INT64", sizeof(std::int64_t));
  expectType("LONG", sizeof(long));
  expectType("FLOAT", sizeof(float));
  expectType("DOUBLE", sizeof(double));
  expectType("WORD", sizeof(void *));
  EXPECT_EQ(value("JS_BYTES_PER_WORD"), 4); // this project builds -m32
}

TEST_F(JscpucfgHeader, AlignmentsAreThoseOfTheCompiler) {
  EXPECT_EQ(value("JS_ALIGN_OF_SHORT"), alignof(short));
  EXPECT_EQ(value("JS_ALIGN_OF_INT"), alignof(int));
  EXPECT_EQ(value("JS_ALIGN_OF_LONG"), alignof(long));
  EXPECT_EQ(value("JS_ALIGN_OF_INT64"), alignof(std::int64_t));
  EXPECT_EQ(value("JS_ALIGN_OF_FLOAT"), alignof(float));
  EXPECT_EQ(value("JS_ALIGN_OF_DOUBLE"), alignof(double));
  EXPECT_EQ(value("JS_ALIGN_OF_POINTER"), alignof(void *));
  // On i386 a double and a 64-bit integer sit on 4 bytes inside a struct,
  // not on their size.
  EXPECT_EQ(value("JS_ALIGN_OF_DOUBLE"), 4);
  EXPECT_EQ(value("JS_ALIGN_OF_INT64"), 4);
}

TEST_F(JscpucfgHeader, ByteOrderIsDefinedOneWayOnly) {
  const std::uint16_t probe = 1;
  bool little = *reinterpret_cast<const unsigned char *>(&probe) == 1;
  const char *is = little ? "IS_LITTLE_ENDIAN" : "IS_BIG_ENDIAN";
  const char *isNot = little ? "IS_BIG_ENDIAN" : "IS_LITTLE_ENDIAN";
  EXPECT_EQ(header_.defined[is], "1");
  EXPECT_EQ(header_.defined.count(isNot), 0u);
  EXPECT_NE(std::find(header_.undefined.begin(), header_.undefined.end(),
                      std::string(isNot)),
            header_.undefined.end());
}

TEST_F(JscpucfgHeader, StackGrowsDownOnX86) {
  EXPECT_EQ(value("JS_STACK_GROWTH_DIRECTION"), -1);
}

TEST_F(JscpucfgHeader, IsWrappedInAnIncludeGuard) {
  ASSERT_GE(header_.lines.size(), 3u);
  std::string guard;
  size_t at = 0;
  for (; at < header_.lines.size(); ++at)
    if (header_.lines[at].rfind("#ifndef ", 0) == 0) {
      guard = header_.lines[at].substr(8);
      break;
    }
  ASSERT_FALSE(guard.empty()) << "no #ifndef";
  ASSERT_LT(at + 1, header_.lines.size());
  EXPECT_EQ(header_.lines[at + 1], "#define " + guard);
  // Nothing but comments before the guard, and #endif is the last line.
  for (size_t before = 0; before < at; ++before)
    EXPECT_TRUE(header_.lines[before].find('#') == std::string::npos)
        << header_.lines[before];
  EXPECT_EQ(header_.lines.back().rfind("#endif", 0), 0u);
}

} // namespace
