/* Strings: NSString (immutable), NSMutableString and NSConstantString.
   All three share one layout: isa, NUL-terminated characters, length;
   mutable strings add the buffer's capacity. cString answers the
   characters themselves: valid as long as the string, and for a mutable
   string until it is next changed. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include "foundation.h"
#include "format.h"

using namespace objc_module_records;
using fnd::StringIvars;

namespace {

StringIvars *ivarsOf(id self) { return reinterpret_cast<StringIvars *>(self); }

bool isMutable(id self) {
  return fnd::isKindOf(self, &fnd::NSMutableStringClass);
}

/* Takes over the buffer's memory as the string's characters. */
void adopt(id self, fnd::TextBuffer *text) {
  StringIvars *ivars = ivarsOf(self);
  free(ivars->characters);
  if (!text->data)
    fnd::textAppend(text, "", 0);
  ivars->characters = text->data;
  ivars->length = text->length;
  if (isMutable(self))
    ivars->capacity = text->capacity;
}

void setBytes(id self, const char *bytes, unsigned length) {
  fnd::TextBuffer text = {nullptr, 0, 0};
  if (!fnd::textAppend(&text, bytes, length))
    fnd::raise(NSInternalInconsistencyException, "string: out of memory");
  adopt(self, &text);
}

const char *formatText(id format) {
  const char *text = fnd::cString(format);
  if (!text)
    fnd::raise(NSInvalidArgumentException, "string: nil format");
  return text;
}

/* Appends to a mutable string through its own buffer. */
void appendFormatted(id self, id format, va_list *args) {
  const char *text = formatText(format);
  StringIvars *ivars = ivarsOf(self);
  fnd::TextBuffer buffer = {ivars->characters, ivars->length, ivars->capacity};
  fnd::textFormat(&buffer, text, args);
  ivars->characters = buffer.data;
  ivars->length = buffer.length;
  ivars->capacity = buffer.capacity;
}

/* ---- NSString instance methods ---- */

id String_initWithCString(id self, SEL, const char *text) {
  if (!text)
    fnd::raise(NSInvalidArgumentException,
               "-[NSString initWithCString:]: null text");
  setBytes(self, text, static_cast<unsigned>(strlen(text)));
  return self;
}

id String_initWithFormatArguments(id self, SEL, id format, va_list args) {
  const char *text = formatText(format);
  fnd::TextBuffer buffer = {nullptr, 0, 0};
  va_list copy;
  va_copy(copy, args);
  fnd::textFormat(&buffer, text, &copy);
  va_end(copy);
  adopt(self, &buffer);
  return self;
}

id String_initWithFormat(id self, SEL sel, id format, ...) {
  va_list args;
  va_start(args, format);
  String_initWithFormatArguments(self, sel, format, args);
  va_end(args);
  return self;
}

void String_dealloc(id self, SEL) {
  free(ivarsOf(self)->characters);
  object_dispose(self);
}

const char *String_cString(id self, SEL) {
  const char *chars = ivarsOf(self)->characters;
  return chars ? chars : "";
}

unsigned String_length(id self, SEL) { return ivarsOf(self)->length; }

BOOL String_isEqualToString(id self, SEL, id other) {
  if (self == other)
    return YES;
  if (!fnd::isKindOf(other, &fnd::NSStringClass))
    return NO;
  StringIvars *a = ivarsOf(self);
  StringIvars *b = ivarsOf(other);
  if (a->length != b->length)
    return NO;
  return a->length == 0 || memcmp(a->characters, b->characters, a->length) == 0
             ? YES
             : NO;
}

/* FNV-1a over the characters: equal strings hash alike. */
unsigned String_hash(id self, SEL) {
  StringIvars *ivars = ivarsOf(self);
  unsigned hash = 2166136261u;
  for (unsigned i = 0; i < ivars->length; i++)
    hash =
        (hash ^ static_cast<unsigned char>(ivars->characters[i])) * 16777619u;
  return hash;
}

id String_description(id self, SEL) { return self; }

id String_copyWithZone(id self, SEL, NSZone *) {
  if (!isMutable(self))
    return fnd::retain(self);
  return fnd::newString(String_cString(self, nullptr), ivarsOf(self)->length);
}

id String_mutableCopy(id self, SEL) {
  id copy = objc_send(&fnd::NSMutableStringClass, "alloc");
  setBytes(copy, String_cString(self, nullptr), ivarsOf(self)->length);
  return copy;
}

MethodList<14> String_imethods = {
    nullptr,
    14,
    {OBJC_DERIVED_METHOD("initWithCString:", String_initWithCString),
     OBJC_DERIVED_METHOD("initWithFormat:", String_initWithFormat),
     OBJC_DERIVED_METHOD("initWithFormat:arguments:",
                         String_initWithFormatArguments),
     OBJC_DERIVED_METHOD("dealloc", String_dealloc),
     OBJC_DERIVED_METHOD("cString", String_cString),
     OBJC_DERIVED_METHOD("UTF8String", String_cString),
     OBJC_DERIVED_METHOD("length", String_length),
     OBJC_DERIVED_METHOD("isEqual:", String_isEqualToString),
     OBJC_DERIVED_METHOD("isEqualToString:", String_isEqualToString),
     OBJC_DERIVED_METHOD("hash", String_hash),
     OBJC_DERIVED_METHOD("description", String_description),
     OBJC_DERIVED_METHOD("copyWithZone:", String_copyWithZone),
     OBJC_DERIVED_METHOD("mutableCopy", String_mutableCopy),
     OBJC_DERIVED_METHOD("cStringLength", String_length)}};

/* ---- NSString class methods: instances of the receiving class ---- */

id String_string(id self, SEL) {
  id str = objc_send(self, "alloc");
  setBytes(str, "", 0);
  return fnd::autorelease(str);
}

id String_stringWithCString(id self, SEL, const char *text) {
  id str = objc_send(self, "alloc");
  return fnd::autorelease(objc_send(str, "initWithCString:", text));
}

id String_stringWithFormat(id self, SEL, id format, ...) {
  va_list args;
  va_start(args, format);
  id str = objc_send(self, "alloc");
  str = objc_send(str, "initWithFormat:arguments:", format, args);
  va_end(args);
  return fnd::autorelease(str);
}

MethodList<3> String_cmethods = {
    nullptr,
    3,
    {OBJC_DERIVED_METHOD("string", String_string),
     OBJC_DERIVED_METHOD("stringWithCString:", String_stringWithCString),
     OBJC_DERIVED_METHOD("stringWithFormat:", String_stringWithFormat)}};

IvarList<2> String_ivars = {2, {{"characters", "*", 4}, {"length", "I", 8}}};

/* ---- NSMutableString ---- */

void MutableString_appendFormat(id self, SEL, id format, ...) {
  va_list args;
  va_start(args, format);
  appendFormatted(self, format, &args);
  va_end(args);
}

void MutableString_appendString(id self, SEL, id other) {
  const char *text = fnd::cString(other);
  if (!text)
    fnd::raise(NSInvalidArgumentException,
               "-[NSMutableString appendString:]: nil string");
  StringIvars *ivars = ivarsOf(self);
  fnd::TextBuffer buffer = {ivars->characters, ivars->length, ivars->capacity};
  fnd::textAppend(&buffer, text, objc_send<unsigned>(other, "length"));
  ivars->characters = buffer.data;
  ivars->length = buffer.length;
  ivars->capacity = buffer.capacity;
}

void MutableString_setString(id self, SEL, id other) {
  const char *text = fnd::cString(other);
  if (!text)
    fnd::raise(NSInvalidArgumentException,
               "-[NSMutableString setString:]: nil string");
  setBytes(self, text, objc_send<unsigned>(other, "length"));
}

MethodList<3> MutableString_imethods = {
    nullptr,
    3,
    {OBJC_DERIVED_METHOD("appendFormat:", MutableString_appendFormat),
     OBJC_DERIVED_METHOD("appendString:", MutableString_appendString),
     OBJC_DERIVED_METHOD("setString:", MutableString_setString)}};

IvarList<1> MutableString_ivars = {1, {{"capacity", "I", 12}}};

/* ---- NSConstantString: static storage, never freed ---- */

id Constant_retain(id self, SEL) { return self; }
void Constant_release(id, SEL) {}
unsigned Constant_retainCount(id, SEL) { return UINT32_MAX; }

MethodList<5> Constant_imethods = {
    nullptr,
    5,
    {OBJC_DERIVED_METHOD("retain", Constant_retain),
     OBJC_DERIVED_METHOD("release", Constant_release),
     OBJC_DERIVED_METHOD("autorelease", Constant_retain),
     OBJC_DERIVED_METHOD("retainCount", Constant_retainCount),
     OBJC_DERIVED_METHOD("dealloc", Constant_release)}};

} // namespace

namespace fnd {

OBJC_CLASS_RECORDS(NSStringClass, "NSString", "NSObject", 12, &String_ivars,
                   &String_imethods, &String_cmethods);

OBJC_CLASS_RECORDS(NSMutableStringClass, "NSMutableString", "NSString",
                   sizeof(StringIvars), &MutableString_ivars,
                   &MutableString_imethods, nullptr);

} // namespace fnd

static struct objc_class NSConstantString_meta = {
    nullptr, nullptr,  "NSConstantString",
    0,       CLS_META, sizeof(struct objc_class),
    nullptr, nullptr,  nullptr,
    nullptr};

OBJC_EXPORT struct objc_class _NSConstantStringClassReference = {
    &NSConstantString_meta,
    OBJC_SUPER_NAME("NSString"),
    "NSConstantString",
    0,
    CLS_CLASS,
    sizeof(NSConstantStringRecord),
    nullptr,
    OBJC_MODULE_METHODS(Constant_imethods),
    nullptr,
    nullptr};

static_assert(sizeof(NSConstantStringRecord) == 12, "constant string");
static_assert(offsetof(StringIvars, characters) ==
                  offsetof(NSConstantStringRecord, characters),
              "strings share their layout");
static_assert(offsetof(StringIvars, length) ==
                  offsetof(NSConstantStringRecord, length),
              "strings share their layout");

namespace {

OBJC_MODULE_RECORD(module, 3, 0, &fnd::NSStringClass,
                   &fnd::NSMutableStringClass,
                   &_NSConstantStringClassReference);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_CLASS_SYMBOL(NSString);
OBJC_CLASS_SYMBOL(NSMutableString);
OBJC_CLASS_SYMBOL(NSConstantString);

/* ======================= Shared helpers ======================= */

const char *fnd::cString(id str) noexcept {
  if (!str)
    return nullptr;
  if (isKindOf(str, &NSStringClass))
    return String_cString(str, nullptr);
  return objc_send<const char *>(str, "cString");
}

id fnd::newString(const char *text, unsigned length) noexcept {
  id str = objc_send(&NSStringClass, "alloc");
  setBytes(str, text, length);
  return str;
}

id fnd::stringWith(const char *text) noexcept {
  return autorelease(newString(text, static_cast<unsigned>(strlen(text))));
}

id fnd::stringWithFormat(const char *format, ...) noexcept {
  va_list args;
  va_start(args, format);
  fnd::TextBuffer text = {nullptr, 0, 0};
  va_list copy;
  va_copy(copy, args);
  textFormat(&text, format, &copy);
  va_end(copy);
  va_end(args);
  id str = objc_send(&NSStringClass, "alloc");
  adopt(str, &text);
  return autorelease(str);
}
