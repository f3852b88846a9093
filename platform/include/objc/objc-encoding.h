/* Type encodings derived from C++ types at compile time, for the method
   records written by hand in C++ (see <objc/objc-load.h>): the encoding
   of a function's type is its result's type, the size of its argument
   frame, then each argument's type followed by its offset in the frame, all
   as i386 lays them out. Every argument takes a multiple of 4 bytes (a
   char or a short takes 4, a long long or a double 8); a structure result
   comes back through a hidden pointer that the text does not count.

     double f(id, SEL, char, long long, double, int, short)
       -> "d36@0:4c8q12d20i28s32"

   Scalars, pointers, id, Class, SEL, C strings and function pointers are
   known; a structure or union is encoded by the text it carries in a
   static member objcEncoding, or one given with OBJC_TYPE_ENCODING; any
   other type does not compile. C++ only. */
#ifndef OBJC_OBJC_ENCODING_H
#define OBJC_OBJC_ENCODING_H

#ifdef __cplusplus

#include <stddef.h>
#include <type_traits>

#include <objc/objc.h>

struct objc_protocol;
struct objc_method_description;

namespace objc_encoding {

/* A NUL-terminated text of N - 1 characters, made at compile time. */
template <size_t N> struct Text { char chars[N]; };

template <size_t N> constexpr Text<N> literal(const char (&text)[N]) {
  Text<N> made{};
  for (size_t i = 0; i < N; ++i)
    made.chars[i] = text[i];
  return made;
}

template <size_t A, size_t B>
constexpr Text<A + B - 1> operator+(const Text<A> &a, const Text<B> &b) {
  Text<A + B - 1> joined{};
  for (size_t i = 0; i + 1 < A; ++i)
    joined.chars[i] = a.chars[i];
  for (size_t i = 0; i < B; ++i)
    joined.chars[A - 1 + i] = b.chars[i];
  return joined;
}

constexpr size_t digitCount(unsigned value) {
  return value < 10 ? 1 : 1 + digitCount(value / 10);
}

/* The decimal digits of value. */
template <unsigned value> constexpr Text<digitCount(value) + 1> decimal() {
  Text<digitCount(value) + 1> digits{};
  unsigned rest = value;
  for (size_t i = digitCount(value); i > 0; --i) {
    digits.chars[i - 1] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  }
  return digits;
}

/* Texts are equal when their characters are. */
constexpr bool sameText(const char *a, const char *b) {
  for (; *a != '\0' || *b != '\0'; ++a, ++b)
    if (*a != *b)
      return false;
  return true;
}

template <typename T> struct Unencoded : std::false_type {};

/* TypeOf<T>::text is the encoding of T. */
template <typename T, typename Enable = void> struct TypeOf {
  static_assert(Unencoded<T>::value,
                "no type encoding for this type: give a structure or union "
                "a static member objcEncoding, or use OBJC_TYPE_ENCODING");
};

#define OBJC_ENCODING_KNOWN(type, letter)                                      \
  template <> struct TypeOf<type> {                                            \
    static constexpr auto text = literal(letter);                              \
  }

OBJC_ENCODING_KNOWN(void, "v");
OBJC_ENCODING_KNOWN(char, "c"); /* signed on i386 */
OBJC_ENCODING_KNOWN(signed char, "c");
OBJC_ENCODING_KNOWN(unsigned char, "C");
OBJC_ENCODING_KNOWN(short, "s");
OBJC_ENCODING_KNOWN(unsigned short, "S");
OBJC_ENCODING_KNOWN(int, "i");
OBJC_ENCODING_KNOWN(unsigned int, "I");
OBJC_ENCODING_KNOWN(long, "l");
OBJC_ENCODING_KNOWN(unsigned long, "L");
OBJC_ENCODING_KNOWN(long long, "q");
OBJC_ENCODING_KNOWN(unsigned long long, "Q");
OBJC_ENCODING_KNOWN(float, "f");
OBJC_ENCODING_KNOWN(double, "d");
OBJC_ENCODING_KNOWN(char *, "*");
OBJC_ENCODING_KNOWN(id, "@");
OBJC_ENCODING_KNOWN(Class, "#");
OBJC_ENCODING_KNOWN(SEL, ":");
OBJC_ENCODING_KNOWN(struct objc_selector *, ":");
OBJC_ENCODING_KNOWN(void *, "^v");
OBJC_ENCODING_KNOWN(struct objc_protocol *, "@"); /* Protocol objects */
/* The runtime's description of a protocol's method: a selector and a type
   text. */
OBJC_ENCODING_KNOWN(struct objc_method_description,
                    "{objc_method_description=:*}");

#undef OBJC_ENCODING_KNOWN

/* A pointer: "^" and what it points at; a function pointer is "^?". */
template <typename T> constexpr auto pointerText() {
  if constexpr (std::is_function_v<T>)
    return literal("^?");
  else
    return literal("^") + TypeOf<T>::text;
}

template <typename T> struct TypeOf<T *> {
  static constexpr auto text = pointerText<T>();
};

/* A pointer to const: "r" before the pointer's own encoding. */
template <typename T> struct TypeOf<const T *> {
  static constexpr auto text = literal("r") + TypeOf<T *>::text;
};

/* An enumeration passes as its underlying type. */
template <typename T>
struct TypeOf<T, std::enable_if_t<std::is_enum_v<T>>>
    : TypeOf<std::underlying_type_t<T>> {};

/* A structure or union with its own text. */
template <typename T>
struct TypeOf<
    T, std::enable_if_t<(std::is_class_v<T> ||
                         std::is_union_v<T>)&&sizeof(T::objcEncoding) != 0>> {
  static constexpr auto text = literal(T::objcEncoding);
};

/* Bytes an argument of type T takes in the frame. */
template <typename T> constexpr unsigned frameSlot() {
  return static_cast<unsigned>((sizeof(T) + 3) / 4 * 4);
}

/* The arguments from offset on: their text and where the frame ends. */
template <unsigned offset, typename... A> struct ArgumentsOf {
  static constexpr Text<1> text{};
  static constexpr unsigned end = offset;
};

template <unsigned offset, typename First, typename... Rest>
struct ArgumentsOf<offset, First, Rest...> {
  using Next = ArgumentsOf<offset + frameSlot<First>(), Rest...>;
  static constexpr auto text =
      TypeOf<First>::text + decimal<offset>() + Next::text;
  static constexpr unsigned end = Next::end;
};

template <typename R, typename... A> struct Signature {
  using Arguments = ArgumentsOf<0, A...>;
  static constexpr auto text =
      TypeOf<R>::text + decimal<Arguments::end>() + Arguments::text;
};

/* FunctionOf<F>::text is the encoding of the function type F (the named
   arguments of a variadic function). */
template <typename F> struct FunctionOf;
template <typename R, typename... A>
struct FunctionOf<R(A...)> : Signature<R, A...> {};
template <typename R, typename... A>
struct FunctionOf<R(A..., ...)> : Signature<R, A...> {};
template <typename R, typename... A>
struct FunctionOf<R(A...) noexcept> : Signature<R, A...> {};
template <typename R, typename... A>
struct FunctionOf<R(A..., ...) noexcept> : Signature<R, A...> {};

template <typename F> inline constexpr auto functionTypes = FunctionOf<F>::text;

template <typename T> inline constexpr auto typeText = TypeOf<T>::text;

} // namespace objc_encoding

/* The encoding of a function (or function pointer) fn, as a C string with
   static storage. */
#define OBJC_FUNCTION_TYPES(fn)                                                \
  (::objc_encoding::functionTypes<std::remove_pointer_t<decltype(fn)>>.chars)

/* The encoding of a type, as a C string with static storage. */
#define OBJC_TYPE_TEXT(...) (::objc_encoding::typeText<__VA_ARGS__>.chars)

/* Gives a type of another header (a structure passed by pointer, say) its
   encoding. At global scope. */
#define OBJC_TYPE_ENCODING(type, encoding)                                     \
  template <> struct objc_encoding::TypeOf<type> {                             \
    static constexpr auto text = ::objc_encoding::literal(encoding);           \
  }

/* Fails to compile unless fn's derived encoding is the text given: for
   methods whose encoding is fixed by what calls them. */
#define OBJC_CHECK_FUNCTION_TYPES(fn, encoding)                                \
  static_assert(::objc_encoding::sameText(OBJC_FUNCTION_TYPES(fn), encoding),  \
                "the encoding of " #fn " is not " encoding)

#endif
#endif
