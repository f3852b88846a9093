/* printf-style formatting into a growing buffer, plus %@ for objects:
   each conversion is taken apart, its argument fetched by type, and the
   single conversion handed to the C library. %n stores nothing. Objects
   are reached only through messages, so that the formatter depends on no
   class of its own library. */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <objc/objc-send.h>

#include "format.h"

namespace {

enum class Length { NONE, HH, H, L, LL, BIG_L, J, Z, T };

/* One conversion: its text rebuilt with * resolved, and its parts. */
struct Conversion {
  char spec[48];
  size_t lengthAt; /* where the length modifier begins in spec */
  Length length;
  char letter;
};

template <typename T>
void put(fnd::TextBuffer *text, const char *spec, T value) {
  int size = snprintf(nullptr, 0, spec, value);
  if (size < 0 || !fnd::textReserve(text, static_cast<unsigned>(size)))
    return;
  snprintf(text->data + text->length, static_cast<size_t>(size) + 1, spec,
           value);
  text->length += static_cast<unsigned>(size);
}

void appendSpec(Conversion *conv, const char *part, size_t count) {
  size_t used = strlen(conv->spec);
  if (used + count >= sizeof conv->spec)
    return;
  memcpy(conv->spec + used, part, count);
  conv->spec[used + count] = '\0';
}

/* Reads digits or a * (whose value comes from the arguments). */
const char *number(Conversion *conv, const char *p, va_list *args) {
  if (*p == '*') {
    char digits[16];
    snprintf(digits, sizeof digits, "%d", va_arg(*args, int));
    appendSpec(conv, digits, strlen(digits));
    return p + 1;
  }
  const char *start = p;
  while (*p >= '0' && *p <= '9')
    p++;
  appendSpec(conv, start, static_cast<size_t>(p - start));
  return p;
}

const char *lengthOf(Conversion *conv, const char *p) {
  static const struct {
    const char *text;
    Length length;
  } modifiers[] = {{"hh", Length::HH}, {"h", Length::H},  {"ll", Length::LL},
                   {"l", Length::L},   {"q", Length::LL}, {"L", Length::BIG_L},
                   {"j", Length::J},   {"z", Length::Z},  {"t", Length::T}};
  conv->lengthAt = strlen(conv->spec);
  for (const auto &modifier : modifiers) {
    size_t count = strlen(modifier.text);
    if (strncmp(p, modifier.text, count) == 0) {
      conv->length = modifier.length;
      /* q is not a C modifier: hand ll to the library */
      appendSpec(conv, modifier.length == Length::LL ? "ll" : modifier.text,
                 modifier.length == Length::LL ? 2 : count);
      return p + count;
    }
  }
  conv->length = Length::NONE;
  return p;
}

/* Parses the conversion after '%'; answers where the text goes on. */
const char *parse(Conversion *conv, const char *p, va_list *args) {
  conv->spec[0] = '%';
  conv->spec[1] = '\0';
  size_t flags = strspn(p, "-+ #0'");
  appendSpec(conv, p, flags);
  p = number(conv, p + flags, args);
  if (*p == '.') {
    appendSpec(conv, ".", 1);
    p = number(conv, p + 1, args);
  }
  p = lengthOf(conv, p);
  conv->letter = *p;
  return *p ? p + 1 : p;
}

void putSigned(fnd::TextBuffer *text, Conversion *conv, va_list *args) {
  switch (conv->length) {
  case Length::LL:
  case Length::BIG_L:
  case Length::J:
    put(text, conv->spec, va_arg(*args, long long));
    break;
  case Length::L:
    put(text, conv->spec, va_arg(*args, long));
    break;
  case Length::Z:
  case Length::T:
    put(text, conv->spec, va_arg(*args, ptrdiff_t));
    break;
  default:
    put(text, conv->spec, va_arg(*args, int));
  }
}

void putUnsigned(fnd::TextBuffer *text, Conversion *conv, va_list *args) {
  switch (conv->length) {
  case Length::LL:
  case Length::BIG_L:
  case Length::J:
    put(text, conv->spec, va_arg(*args, unsigned long long));
    break;
  case Length::L:
    put(text, conv->spec, va_arg(*args, unsigned long));
    break;
  case Length::Z:
  case Length::T:
    put(text, conv->spec, va_arg(*args, size_t));
    break;
  default:
    put(text, conv->spec, va_arg(*args, unsigned));
  }
}

void putFloating(fnd::TextBuffer *text, Conversion *conv, va_list *args) {
  if (conv->length == Length::BIG_L)
    put(text, conv->spec, va_arg(*args, long double));
  else
    put(text, conv->spec, va_arg(*args, double));
}

/* %@ is %s with the characters of the description (a string, or any
   object that answers cString). */
void putObject(fnd::TextBuffer *text, Conversion *conv, va_list *args) {
  id obj = va_arg(*args, id);
  const char *chars = "(null)";
  if (obj)
    chars = objc_send<const char *>(objc_send(obj, "description"), "cString");
  conv->spec[conv->lengthAt] = '\0';
  appendSpec(conv, "s", 1);
  put(text, conv->spec, chars ? chars : "(null)");
}

void putConversion(fnd::TextBuffer *text, Conversion *conv, va_list *args) {
  char letter[2] = {conv->letter, '\0'};
  if (conv->letter != '@')
    appendSpec(conv, letter, 1);
  switch (conv->letter) {
  case 'd':
  case 'i':
    putSigned(text, conv, args);
    break;
  case 'o':
  case 'u':
  case 'x':
  case 'X':
    putUnsigned(text, conv, args);
    break;
  case 'f':
  case 'F':
  case 'e':
  case 'E':
  case 'g':
  case 'G':
  case 'a':
  case 'A':
    putFloating(text, conv, args);
    break;
  case 'c':
    if (conv->length == Length::L)
      put(text, conv->spec, va_arg(*args, wint_t));
    else
      put(text, conv->spec, va_arg(*args, int));
    break;
  case 's':
    if (conv->length == Length::L)
      put(text, conv->spec, va_arg(*args, const wchar_t *));
    else
      put(text, conv->spec, va_arg(*args, const char *));
    break;
  case 'p':
    put(text, conv->spec, va_arg(*args, void *));
    break;
  case 'n':
    (void)va_arg(*args, void *);
    break;
  case '@':
    putObject(text, conv, args);
    break;
  default: /* not a conversion: keep the text as written */
    fnd::textAppend(text, conv->spec,
                    static_cast<unsigned>(strlen(conv->spec)));
  }
}

} // namespace

void fnd::textFormat(TextBuffer *text, const char *format,
                     va_list *args) noexcept {
  textReserve(text, 0);
  const char *p = format;
  while (*p) {
    const char *percent = strchr(p, '%');
    size_t plain = percent ? static_cast<size_t>(percent - p) : strlen(p);
    textAppend(text, p, static_cast<unsigned>(plain));
    if (!percent)
      break;
    if (percent[1] == '%') {
      textAppend(text, "%", 1);
      p = percent + 2;
      continue;
    }
    Conversion conv;
    p = parse(&conv, percent + 1, args);
    putConversion(text, &conv, args);
  }
  if (text->data)
    text->data[text->length] = '\0';
}
