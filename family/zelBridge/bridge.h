/* What the modules of zelBridge share. */
#ifndef ZELBRIDGE_BRIDGE_H
#define ZELBRIDGE_BRIDGE_H

#include <zelBridge/zelBridge.h>

namespace zelbridge {

/* Changed whenever this bridge attaches a method list: prepared method
   signatures made before are checked again. */
extern unsigned methodListsEpoch;

/* A script method running for a receiver: `owner` is the class (or
   metaclass) that the method's list was attached to. */
struct MethodFrame {
  id self;
  Class owner;
};

/* Innermost first: the frames of the script methods now running. */
std::vector<MethodFrame> &methodFrames();

/* The owner of the innermost script method running for receiver, or null. */
Class runningOwner(id receiver);

/* Calls apply inside an exception frame; false with the exception. */
bool guardedApply(void *fn, ApplyVal *result, int argc, ApplyVal *argv,
                  id *exception);

/* "NAME: REASON" of an Objective-C exception. */
std::string exceptionMessage(id exception);

/* Calls imp for a method signature: receiver and selector, then the
   script's arguments. */
bool callMethod(Script &script, const Signature &signature, IMP imp,
                id receiver, SEL sel, ScriptValue *args, int argc,
                ScriptValue &result, std::string &error);

/* Bytes of storage a value of the type needs, tail padding included. */
int storageSize(const char *type);

/* {================ Bounds ================ */

/* What a message quotes of an input: this many characters, then "...". */
constexpr size_t maxQuoted = 200;
/* Aggregates nested inside one another that a conversion enters. */
constexpr int maxTypeNesting = 64;
/* Scalar items (and array elements) in one converted value. */
constexpr long long maxItems = 16 * 1024 * 1024;
/* Arguments of one call, and the bytes they take on the stack. */
constexpr int maxArguments = 1024;
constexpr int maxArgumentBytes = 64 * 1024;

/* }================================================================ */

/* The text in double quotes, cut to maxQuoted characters and "...". */
std::string quote(const std::string &text);
std::string quote(const char *text);
/* The text cut the same way, without quotes (names in messages). */
std::string cut(const std::string &text);
std::string cut(const char *text);
/* The one type at type (as objc_skip_typespec ends it), quoted. */
std::string quoteType(const char *type);

/* {================ The member walk ================ */

/* Every walk over an aggregate's members (conversion both ways, instance
   variables, storage and closure sizes) goes through eachMember, on a
   type that checkType accepted: its members then lie inside the size that
   objc_sizeof_type measures for the aggregate. */

/* The first member of a struct or union body, or null for one given only
   by name ("{name}"). The name part ends as the measuring walk ends it. */
const char *firstMember(const char *body);

int roundUp(int value, int alignment);

/* Calls visit(memberType, offset) for each member of a struct or union
   body (offsets of a union's members are all 0); false when a visit
   fails or the body has no member list. */
template <typename Visit>
bool eachMember(const char *body, Visit visit) {
  const char *member = firstMember(body);
  if (!member)
    return false;
  char closer = *body == '{' ? '}' : ')';
  int offset = 0;
  while (*member && *member != closer) {
    if (closer == '}')
      offset = roundUp(offset, objc_alignof_type(member));
    if (!visit(member, offset))
      return false;
    if (closer == '}')
      offset += objc_sizeof_type(member);
    member = objc_skip_typespec(member);
  }
  return true;
}

/* What a type is checked for. */
enum class TypeUse {
  convert, /* a value converted both ways: every part convertible */
  layout,  /* an instance variable's room: aggregates agree with their
              measure, whatever their members are */
};

/* What checkType found besides the verdict. */
struct TypeCheck {
  long long items = 0;  /* scalars and elements a conversion makes */
  bool tooMany = false; /* the only fault is more than maxItems items */
};

/* True when the walk of every aggregate in the type steps through members
   that end where objc_skip_typespec ends the aggregate and that add up to
   the size objc_sizeof_type measures, nested at most maxTypeNesting deep,
   with counts that need no more than 64 bits; for TypeUse::convert also
   every part convertible and at most maxItems items. Otherwise false with
   "unsupported type encoding ..." naming the type and why. */
bool checkType(const char *type, TypeUse use, TypeCheck &check,
               std::string &error);
bool checkType(const char *type, TypeUse use, std::string &error);

/* True when converting into the type (one checkType accepted) stores a
   pointer to a C string's text: the text lives only as long as the call's
   arena, so such storage must not outlive the call. */
bool holdsCString(const char *type);

/* An array body's element count (false past maxItems or 64 bits) and its
   element type. */
bool arrayCount(const char *body, long long &count, const char *&element);

/* }================================================================ */

/* {================ Native depth ================ */

/* Held for the length of one call through the bridge (a call, a send, a
   script method called from C). `entered` is false, with a message, when
   the thread's stack has too little room left for another level: a
   quarter of the stack (at most 1 MB) is kept for the language and for
   unwinding. */
class NativeDepth {
public:
  NativeDepth();
  ~NativeDepth();
  NativeDepth(const NativeDepth &) = delete;
  NativeDepth &operator=(const NativeDepth &) = delete;
  bool entered(std::string &error) const;

private:
  bool room_;
};

/* }================================================================ */

} // namespace zelbridge

#endif
