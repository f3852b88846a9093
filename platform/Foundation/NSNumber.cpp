/* Numbers as objects (NSNumber): a 64-bit integer or a double, as small as
   the bridges need. */
#include <math.h>
#include <stdio.h>
#include "foundation.h"

using namespace objc_module_records;

namespace {

struct NumberIvars {
  Class isa;
  int isDouble; /* 0: integer */
  long long integer;
  double real;
};

NumberIvars *ivarsOf(id self) { return reinterpret_cast<NumberIvars *>(self); }

id newNumber(id cls, bool isDouble, long long integer, double real) {
  id number = objc_send(cls, "alloc");
  NumberIvars *ivars = ivarsOf(number);
  ivars->isDouble = isDouble;
  ivars->integer = integer;
  ivars->real = real;
  return fnd::autorelease(number);
}

id Number_numberWithLongLong(id self, SEL, long long value) {
  return newNumber(self, false, value, static_cast<double>(value));
}

id Number_numberWithInt(id self, SEL, int value) {
  return newNumber(self, false, value, value);
}

id Number_numberWithDouble(id self, SEL, double value) {
  return newNumber(self, true, static_cast<long long>(value), value);
}

id Number_numberWithBool(id self, SEL, BOOL value) {
  return newNumber(self, false, value ? 1 : 0, value ? 1 : 0);
}

long long Number_longLongValue(id self, SEL) {
  NumberIvars *ivars = ivarsOf(self);
  return ivars->isDouble ? static_cast<long long>(ivars->real) : ivars->integer;
}

int Number_intValue(id self, SEL sel) {
  return static_cast<int>(Number_longLongValue(self, sel));
}

double Number_doubleValue(id self, SEL) {
  NumberIvars *ivars = ivarsOf(self);
  return ivars->isDouble ? ivars->real : static_cast<double>(ivars->integer);
}

BOOL Number_boolValue(id self, SEL sel) {
  return Number_doubleValue(self, sel) != 0 ? YES : NO;
}

/* "q" for an integer, "d" for a double. */
const char *Number_objCType(id self, SEL) {
  return ivarsOf(self)->isDouble ? "d" : "q";
}

BOOL Number_isEqual(id self, SEL, id other) {
  Class numbers = reinterpret_cast<Class>(objc_getClass("NSNumber"));
  if (!other || !fnd::isKindOf(other, numbers))
    return NO;
  NumberIvars *mine = ivarsOf(self), *theirs = ivarsOf(other);
  if (!mine->isDouble && !theirs->isDouble)
    return mine->integer == theirs->integer ? YES : NO;
  return Number_doubleValue(self, nullptr) == Number_doubleValue(other, nullptr)
             ? YES
             : NO;
}

unsigned Number_hash(id self, SEL) {
  double value = Number_doubleValue(self, nullptr);
  long long whole = static_cast<long long>(value);
  return static_cast<unsigned>(static_cast<unsigned long long>(whole) ^
                               (static_cast<unsigned long long>(whole) >> 32));
}

/* The value in decimal: an integer as such, a double with %.17g. */
id Number_description(id self, SEL) {
  char text[40];
  NumberIvars *ivars = ivarsOf(self);
  if (ivars->isDouble)
    snprintf(text, sizeof text, "%.17g", ivars->real);
  else
    snprintf(text, sizeof text, "%lld", ivars->integer);
  return objc_send_class("NSString", "stringWithCString:", text);
}

/* Numbers never change: a copy is the number itself. */
id Number_copyWithZone(id self, SEL, NSZone *) { return fnd::retain(self); }

MethodList<10> Number_imethods = {
    nullptr,
    10,
    {OBJC_DERIVED_METHOD("longLongValue", Number_longLongValue),
     OBJC_DERIVED_METHOD("intValue", Number_intValue),
     OBJC_DERIVED_METHOD("doubleValue", Number_doubleValue),
     OBJC_DERIVED_METHOD("boolValue", Number_boolValue),
     OBJC_DERIVED_METHOD("objCType", Number_objCType),
     OBJC_DERIVED_METHOD("isEqual:", Number_isEqual),
     OBJC_DERIVED_METHOD("hash", Number_hash),
     OBJC_DERIVED_METHOD("description", Number_description),
     OBJC_DERIVED_METHOD("stringValue", Number_description),
     OBJC_DERIVED_METHOD("copyWithZone:", Number_copyWithZone)}};

MethodList<4> Number_cmethods = {
    nullptr,
    4,
    {OBJC_DERIVED_METHOD("numberWithLongLong:", Number_numberWithLongLong),
     OBJC_DERIVED_METHOD("numberWithInt:", Number_numberWithInt),
     OBJC_DERIVED_METHOD("numberWithDouble:", Number_numberWithDouble),
     OBJC_DERIVED_METHOD("numberWithBool:", Number_numberWithBool)}};

IvarList<3> Number_ivars = {
    3, {{"isDouble", "i", 4}, {"integer", "q", 8}, {"real", "d", 16}}};

OBJC_CLASS_RECORDS(NSNumberClass, "NSNumber", "NSObject", sizeof(NumberIvars),
                   &Number_ivars, &Number_imethods, &Number_cmethods);

OBJC_MODULE_RECORD(module, 1, 0, &NSNumberClass);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_CLASS_SYMBOL(NSNumber);
