// The keyed name hash of symbol tables: one implementation of the SipHash
// family, checked against the published SipHash-2-4 values (key 00..0f,
// messages of 0 to 63 bytes 00 01 02 ...), and, for both word widths and
// the round counts the tables use, against a plain implementation written
// here from the algorithm's definition.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zelObjCRuntime/symbol_hash.h"

namespace {

constexpr uint64_t key128[2] = {0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull};
constexpr uint32_t key64[2] = {0x03020100u, 0x07060504u};
constexpr char message[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                            13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
                            26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38,
                            39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51,
                            52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63};

// SipHash-2-4 of the first n bytes of message under key128, as published
// (each value read as a little-endian 64-bit number).
constexpr uint64_t sipHash24Vectors[64] = {
    0x726fdb47dd0e0e31ull, 0x74f839c593dc67fdull, 0x0d6c8009d9a94f5aull,
    0x85676696d7fb7e2dull, 0xcf2794e0277187b7ull, 0x18765564cd99a68dull,
    0xcbc9466e58fee3ceull, 0xab0200f58b01d137ull, 0x93f5f5799a932462ull,
    0x9e0082df0ba9e4b0ull, 0x7a5dbbc594ddb9f3ull, 0xf4b32f46226bada7ull,
    0x751e8fbc860ee5fbull, 0x14ea5627c0843d90ull, 0xf723ca908e7af2eeull,
    0xa129ca6149be45e5ull, 0x3f2acc7f57c29bdbull, 0x699ae9f52cbe4794ull,
    0x4bc1b3f0968dd39cull, 0xbb6dc91da77961bdull, 0xbed65cf21aa2ee98ull,
    0xd0f2cbb02e3b67c7ull, 0x93536795e3a33e88ull, 0xa80c038ccd5ccec8ull,
    0xb8ad50c6f649af94ull, 0xbce192de8a85b8eaull, 0x17d835b85bbb15f3ull,
    0x2f2e6163076bcfadull, 0xde4daaaca71dc9a5ull, 0xa6a2506687956571ull,
    0xad87a3535c49ef28ull, 0x32d892fad841c342ull, 0x7127512f72f27cceull,
    0xa7f32346f95978e3ull, 0x12e0b01abb051238ull, 0x15e034d40fa197aeull,
    0x314dffbe0815a3b4ull, 0x027990f029623981ull, 0xcadcd4e59ef40c4dull,
    0x9abfd8766a33735cull, 0x0e3ea96b5304a7d0ull, 0xad0c42d6fc585992ull,
    0x187306c89bc215a9ull, 0xd4a60abcf3792b95ull, 0xf935451de4f21df2ull,
    0xa9538f0419755787ull, 0xdb9acddff56ca510ull, 0xd06c98cd5c0975ebull,
    0xe612a3cb9ecba951ull, 0xc766e62cfcadaf96ull, 0xee64435a9752fe72ull,
    0xa192d576b245165aull, 0x0a8787bf8ecb74b2ull, 0x81b3e73d20b49b6full,
    0x7fa8220ba3b2eceaull, 0x245731c13ca42499ull, 0xb78dbfaf3a8d83bdull,
    0xea1ad565322a1a0bull, 0x60e61c23a3795013ull, 0x6606d7e446282b93ull,
    0x6ca4ecb15c5f91e1ull, 0x9f626da15c9625f3ull, 0xe51b38608ef25f57ull,
    0x958a324ceb064572ull,
};

// Computed at compile time as well: the empty message, the paper's own
// example (15 bytes) and the longest.
static_assert(zel::sipHash<uint64_t, 2, 4>(key128, message, 0) ==
              sipHash24Vectors[0]);
static_assert(zel::sipHash<uint64_t, 2, 4>(key128, message, 15) ==
              0xa129ca6149be45e5ull);
static_assert(zel::sipHash<uint64_t, 2, 4>(key128, message, 63) ==
              sipHash24Vectors[63]);
// HalfSipHash-2-4 with a 32-bit result, key 00..07: its first published
// values.
static_assert(zel::sipHash<uint32_t, 2, 4>(key64, message, 0) == 0x5b9f35a9u);
static_assert(zel::sipHash<uint32_t, 2, 4>(key64, message, 1) == 0xb85a4727u);
static_assert(zel::sipHash<uint32_t, 2, 4>(key64, message, 2) == 0x03a662fau);
static_assert(zel::sipHash<uint32_t, 2, 4>(key64, message, 3) == 0x04e7fe8au);

TEST(SipHash, PublishedSipHash24Vectors) {
  for (size_t n = 0; n < 64; ++n)
    EXPECT_EQ((zel::sipHash<uint64_t, 2, 4>(key128, message, n)),
              sipHash24Vectors[n])
        << n << " bytes";
}

// ---- the plain implementation: the message padded as the definition
// says (zeros, then the length's low byte as the last byte of the last
// word), words taken little-endian, rounds spelt out ----

uint64_t rotl64(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }
uint32_t rotl32(uint32_t x, int b) { return (x << b) | (x >> (32 - b)); }

std::vector<unsigned char> padded(const char *bytes, size_t length,
                                  size_t wordSize) {
  std::vector<unsigned char> m(bytes, bytes + length);
  do
    m.push_back(0);
  while (m.size() % wordSize != 0);
  m.back() = static_cast<unsigned char>(length & 0xff);
  return m;
}

uint64_t plainSipHash(int c, int d, const char *bytes, size_t length) {
  uint64_t v0 = key128[0] ^ 0x736f6d6570736575ull;
  uint64_t v1 = key128[1] ^ 0x646f72616e646f6dull;
  uint64_t v2 = key128[0] ^ 0x6c7967656e657261ull;
  uint64_t v3 = key128[1] ^ 0x7465646279746573ull;
  auto sipRound = [&] {
    v0 += v1;
    v1 = rotl64(v1, 13);
    v1 ^= v0;
    v0 = rotl64(v0, 32);
    v2 += v3;
    v3 = rotl64(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl64(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl64(v1, 17);
    v1 ^= v2;
    v2 = rotl64(v2, 32);
  };
  const std::vector<unsigned char> m = padded(bytes, length, 8);
  for (size_t i = 0; i < m.size(); i += 8) {
    uint64_t word = 0;
    for (int b = 7; b >= 0; --b)
      word = (word << 8) | m[i + size_t(b)];
    v3 ^= word;
    for (int r = 0; r < c; ++r)
      sipRound();
    v0 ^= word;
  }
  v2 ^= 0xff;
  for (int r = 0; r < d; ++r)
    sipRound();
  return v0 ^ v1 ^ v2 ^ v3;
}

uint32_t plainHalfSipHash(int c, int d, const char *bytes, size_t length) {
  uint32_t v0 = key64[0];
  uint32_t v1 = key64[1];
  uint32_t v2 = key64[0] ^ 0x6c796765u;
  uint32_t v3 = key64[1] ^ 0x74656462u;
  auto halfRound = [&] {
    v0 += v1;
    v1 = rotl32(v1, 5);
    v1 ^= v0;
    v0 = rotl32(v0, 16);
    v2 += v3;
    v3 = rotl32(v3, 8);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl32(v3, 7);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl32(v1, 13);
    v1 ^= v2;
    v2 = rotl32(v2, 16);
  };
  const std::vector<unsigned char> m = padded(bytes, length, 4);
  for (size_t i = 0; i < m.size(); i += 4) {
    uint32_t word = 0;
    for (int b = 3; b >= 0; --b)
      word = (word << 8) | m[i + size_t(b)];
    v3 ^= word;
    for (int r = 0; r < c; ++r)
      halfRound();
    v0 ^= word;
  }
  v2 ^= 0xff;
  for (int r = 0; r < d; ++r)
    halfRound();
  return v1 ^ v3;
}

TEST(SipHash, PlainImplementationReproducesThePublishedVectors) {
  for (size_t n = 0; n < 64; ++n)
    EXPECT_EQ(plainSipHash(2, 4, message, n), sipHash24Vectors[n]) << n;
}

TEST(SipHash, BothWidthsAgreeWithThePlainImplementation) {
  for (size_t n = 0; n < 64; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ((zel::sipHash<uint64_t, 1, 3>(key128, message, n)),
              plainSipHash(1, 3, message, n));
    EXPECT_EQ((zel::sipHash<uint32_t, 2, 4>(key64, message, n)),
              plainHalfSipHash(2, 4, message, n));
    EXPECT_EQ(zel::nameHash(key64, message, n),
              plainHalfSipHash(1, 3, message, n));
  }
}

// Names are texts: bytes above 0x7f count as themselves, not as negative
// chars, and a length past 255 wraps in the last word as the definition
// says.
TEST(SipHash, HighBytesAndLongNames) {
  std::vector<char> text(700);
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char>(0x80 + i % 128);
  for (size_t n : {1u, 4u, 255u, 256u, 257u, 700u})
    EXPECT_EQ(zel::nameHash(key64, text.data(), n),
              plainHalfSipHash(1, 3, text.data(), n))
        << n;
}

} // namespace
