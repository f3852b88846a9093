/* symbol: the keyed hash of names. One implementation of the SipHash
   family serves both word widths: 64-bit words with a 128-bit key
   (SipHash) and 32-bit words with a 64-bit key (HalfSipHash), each with
   any number of rounds per message word (c) and at the end (d). The
   tables hash with the 32-bit words, one round and three (cheap on i386);
   the 64-bit member with two and four is the one whose published values
   check the implementation. constexpr, so that those checks can run at
   compile time. Internal to zelObjCRuntime. */
#ifndef ZELOBJCRUNTIME_SYMBOL_HASH_H
#define ZELOBJCRUNTIME_SYMBOL_HASH_H

#include <cstddef>
#include <cstdint>

namespace zel {

/* What sets the two widths apart: the rotation counts of a round, the
   constants the state starts from (each xored with a key word), and how
   the final state folds into the result. */
template <typename Word> struct SipWidth;

template <> struct SipWidth<uint64_t> {
  static constexpr unsigned rotations[6] = {13, 32, 16, 21, 17, 32};
  static constexpr uint64_t initial[4] = {
      0x736f6d6570736575ull, 0x646f72616e646f6dull, 0x6c7967656e657261ull,
      0x7465646279746573ull};
  static constexpr uint64_t fold(uint64_t v0, uint64_t v1, uint64_t v2,
                                 uint64_t v3) {
    return v0 ^ v1 ^ v2 ^ v3;
  }
};

template <> struct SipWidth<uint32_t> {
  static constexpr unsigned rotations[6] = {5, 16, 8, 7, 13, 16};
  static constexpr uint32_t initial[4] = {0, 0, 0x6c796765u, 0x74656462u};
  static constexpr uint32_t fold(uint32_t, uint32_t v1, uint32_t, uint32_t v3) {
    return v1 ^ v3;
  }
};

template <typename Word> constexpr Word sipRotate(Word x, unsigned bits) {
  return static_cast<Word>((x << bits) | (x >> (8 * sizeof(Word) - bits)));
}

template <typename Word> struct SipState {
  Word v0, v1, v2, v3;

  constexpr void round() {
    constexpr const unsigned *r = SipWidth<Word>::rotations;
    v0 += v1;
    v1 = sipRotate(v1, r[0]);
    v1 ^= v0;
    v0 = sipRotate(v0, r[1]);
    v2 += v3;
    v3 = sipRotate(v3, r[2]);
    v3 ^= v2;
    v0 += v3;
    v3 = sipRotate(v3, r[3]);
    v3 ^= v0;
    v2 += v1;
    v1 = sipRotate(v1, r[4]);
    v1 ^= v2;
    v2 = sipRotate(v2, r[5]);
  }

  constexpr void absorb(Word word, int rounds) {
    v3 ^= word;
    for (int i = 0; i < rounds; ++i)
      round();
    v0 ^= word;
  }
};

/* The little-endian word of count bytes (at most a word's) at bytes. */
template <typename Word>
constexpr Word sipWord(const char *bytes, size_t count) {
  Word word = 0;
  for (size_t i = 0; i < count; ++i)
    word |= static_cast<Word>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  return word;
}

/* The hash of length bytes under the key (two words, the first from the
   key's first bytes): SipHash-c-d for 64-bit words, HalfSipHash-c-d with
   a 32-bit result for 32-bit words. */
template <typename Word, int c, int d>
constexpr Word sipHash(const Word (&key)[2], const char *bytes, size_t length) {
  constexpr const Word *start = SipWidth<Word>::initial;
  SipState<Word> state{start[0] ^ key[0], start[1] ^ key[1], start[2] ^ key[0],
                       start[3] ^ key[1]};
  const size_t whole = length - length % sizeof(Word);
  for (size_t at = 0; at < whole; at += sizeof(Word))
    state.absorb(sipWord<Word>(bytes + at, sizeof(Word)), c);
  /* The last word: the bytes left over, the length's low byte on top. */
  const Word last = sipWord<Word>(bytes + whole, length - whole) |
                    static_cast<Word>(static_cast<Word>(length & 0xff)
                                      << (8 * sizeof(Word) - 8));
  state.absorb(last, c);
  state.v2 ^= 0xff;
  for (int i = 0; i < d; ++i)
    state.round();
  return SipWidth<Word>::fold(state.v0, state.v1, state.v2, state.v3);
}

/* The member the tables use. */
using NameHashKey = uint32_t[2];

constexpr uint32_t nameHash(const NameHashKey &key, const char *bytes,
                            size_t length) {
  return sipHash<uint32_t, 1, 3>(key, bytes, length);
}

} // namespace zel

#endif
