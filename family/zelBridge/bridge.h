/* What the modules of zelBridge share. */
#ifndef ZELBRIDGE_BRIDGE_H
#define ZELBRIDGE_BRIDGE_H

#include <zelBridge/zelBridge.h>

#include <ffi.h>
#include <pthread.h>

namespace zelbridge {

/* Changed whenever this bridge attaches a method list: prepared method
   signatures made before are checked again. */
extern unsigned methodListsEpoch;

/* A script method running for a receiver: `owner` is the class (or
   metaclass) that the method's list was attached to, `sel` and `imp` the
   running definition's. */
struct MethodFrame {
  id self;
  Class owner;
  SEL sel;
  IMP imp;
};

/* Innermost first: the frames of the script methods now running. */
std::vector<MethodFrame> &methodFrames();

/* The owner of the innermost script method running for receiver, or null. */
Class runningOwner(id receiver);
/* The innermost frame of a script method of that selector running for
   receiver, or null. */
const MethodFrame *runningFrame(id receiver, SEL sel);
/* What the frame's running definition displaced: the next implementation
   of its selector in its class's method lists, else the superclass's;
   null when there is none. */
IMP formerOf(const MethodFrame &frame);

/* Everything one script body behind a C entry point needs: a method's
   lives as long as the process (its implementation may be reached as a
   former method after redefinition), a callback's until it is freed. */
struct ScriptClosure {
  bool callback = false;   /* no receiver or selector among the arguments */
  int running = 0;         /* calls of the body under way */
  void *closure = nullptr; /* libffi's, for freeing a callback */
  pthread_t thread = pthread_self(); /* the interpreter's */
  std::unique_ptr<Signature> signature;
  std::unique_ptr<MethodBody> body;
  Class owner = nullptr;
  SEL sel = nullptr;
  IMP imp = nullptr; /* the closure's code */
  ffi_cif cif;
  std::vector<ffi_type *> argumentTypes;
  std::vector<std::unique_ptr<ffi_type>> aggregates;
  ffi_type *aggregateElements[2] = {&ffi_type_uint8, nullptr};
  Arena resultTexts; /* C strings of the result live until the next call */
};

/* Makes the closure's code for its signature; false with an error. */
bool prepareClosure(ScriptClosure &closure, void *&code, std::string &error);

/* The types of a method to define: those given, with their offsets
   checked (or added), and fitting the method they would replace or
   override; without any, those of that method or of the selector in a
   protocol the class adopts. */
bool methodTypes(Class cls, bool classSide, SEL sel, const char *given,
                 std::string &types, std::string &error);
/* The class adopts the protocols (conformsTo: answers YES for them). */
bool adoptProtocols(Class cls, const std::vector<Protocol *> &protocols,
                    std::string &error);

/* The commands of introspection and collections, and the symbols group
   (tables of their own, joined to the rest by commands()). */
extern const Command introspectionCommands[];
extern const Command symbolCommands[];
/* An object standing for a value of a language with numbers, lists and
   maps of its own: NSNumber, NSArray, NSDictionary, NSString. */
bool structuredObject(Script &script, ScriptValue value, id &object,
                      std::string &error);
/* The live instances of cls and its subclasses: those the bridge saw and,
   from the first call on, every object allocated. */
std::vector<id> liveInstances(Class cls);

/* The raw commands' groups, and a new callback (`callback new`, also what
   calling the group does in JavaScript and Lua). */
extern const Command memoryCommands[];
extern const Command callbackCommands[];
bool callbackNew(Script &script, ScriptValue *args, int argc,
                 ScriptValue &result, std::string &error);

/* Messages the bridge sends on every call, their selectors registered
   once (a name costs a lookup each time). */
struct Messages {
  SEL retain, release, autorelease, alloc, init, addObject;
  id poolClass;
};
const Messages &messages();
inline id retainObject(id object) {
  return objc_send(object, messages().retain);
}
inline void releaseObject(id object) {
  objc_send<void>(object, messages().release);
}
inline id autoreleaseObject(id object) {
  return objc_send(object, messages().autorelease);
}

/* {================ What the script side owns ================ */

/* Settles the drops noted since the last time (handles given back into the
   pools their objects were received in); every command asks, so the
   question is a flag's. */
extern bool dropsNoted;
void settleNotedDrops();
inline void settleDrops() {
  if (dropsNoted)
    settleNotedDrops();
}
/* An autorelease pool of the bridge's (a pool command, an evaluation, a
   script method called from Objective-C), and its end: drops settled,
   then drained. */
id openPool();
void closePool(id pool);
/* A +1 reference the object came with (alloc, new, copy, mutableCopy, an
   init's result) becomes the handles' own. */
void adoptOwned(id object);
/* An init consumes its receiver's reference: false when the script side
   held none (the result is then not adopted); restoreOwned undoes it when
   the send failed. */
bool consumeOwned(id object);
void restoreOwned(id object);
/* retain, and release or autorelease (`later`), sent by a script: counted,
   and refused past what the script side holds. */
bool scriptRetain(id object);
bool scriptRelease(id object, bool later, std::string &error);
/* What a selector means for the references the script side holds. */
enum class Family { plain, owning, init, retain, release, autorelease };
/* The last selector asked about: a loop sends one selector again. */
struct KnownFamily {
  SEL sel = nullptr;
  Family family = Family::plain;
};
extern KnownFamily lastFamily;
Family familyLookedUp(SEL sel);
inline Family familyOf(SEL sel) {
  return sel == lastFamily.sel ? lastFamily.family : familyLookedUp(sel);
}
/* retain, release and autorelease from a script: counted; the answer is
   the receiver, or nothing. */
bool countedSend(Script &script, Family family, id receiver, int argc,
                 ScriptValue &result, std::string &error);
/* Classes defined by scripts: their instances hold what the bridge stores
   in their `@` instance variables, and give it back when freed. */
void noteScriptClass(Class cls);
bool isScriptInstance(id object);
void storeObjectIvar(id object, int offset, id value);
/* The registry's hook: the object is gone. */
void objectFreed(id object, unsigned serial);

/* }================================================================ */

/* Calls apply inside an exception frame; false with the exception, which
   is also kept as the failure `takeFailure` answers. */
bool guardedApply(void *fn, ApplyVal *result, int argc, ApplyVal *argv,
                  id *exception);

/* The exception raised for a failed script body carries the script's own
   error (a hold made by keepFailure), for a caller of the same script. */
void carryFailure(id exception, Script &script, void *original);
/* guardedApply caught the exception: the failure to take. */
void recordFailure(id exception);
/* Forgets a failure nobody took (a command starts afresh); every command
   asks, so the question is a flag's. */
extern bool failureKept;
void forgetFailure();
inline void clearFailure() {
  if (failureKept)
    forgetFailure();
}
/* A script's own error, with no exception, as the failure to take. */
void recordScriptFailure(Script &script, void *original);

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

/* Whether the object is a class (its isa a metaclass). */
inline bool isClassObject(id object) {
  return object && (object->isa->info & CLS_META);
}
/* Whether cls is ancestor or one of its subclasses. */
inline bool inherits(Class cls, Class ancestor) {
  for (; cls; cls = cls->super_class)
    if (cls == ancestor)
      return true;
  return false;
}
/* Whether the object is an instance (not a class) of cls or a subclass. */
inline bool isInstanceOf(id object, Class cls) {
  return object && !isClassObject(object) && inherits(object->isa, cls);
}

/* A class argument: a handle of one or a class name; false with an
   error for anything else. */
bool classFrom(Script &script, ScriptValue value, Class &cls,
               std::string &error);
/* The methods of cls (its metaclass when classSide), the nearest
   definition of each selector, superclasses' too unless `own`. */
std::vector<const objc_method *> methodsOf(Class cls, bool classSide, bool own);
/* A body of one word must be a function of the language; false with an
   error otherwise. */
bool bodyIsFunction(Script &script, ScriptValue value, std::string &error);

/* A value's text, as a string of its own. */
inline std::string textOf(Script &script, ScriptValue value) {
  Arena arena;
  return script.getText(value, arena);
}
/* A list of the values. */
inline ScriptValue listOf(Script &script, std::vector<ScriptValue> &items) {
  return script.newList(items.data(), static_cast<int>(items.size()));
}

/* The value's text for C, or null with an error when a NUL inside it
   would cut it short without a word. */
const char *cString(Script &script, ScriptValue value, Arena &arena,
                    std::string &error);

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
template <typename Visit> bool eachMember(const char *body, Visit visit) {
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

/* Calls through the bridge now under way on any thread. */
extern int nativeNesting;

/* The stack of the thread that drives the bridge, once found: a frame in
   that range is on that thread (stacks do not overlap), so a call there
   learns its room from a comparison, without asking which thread runs. */
struct KnownStack {
  const char *low = nullptr;
  const char *limit = nullptr; /* low plus the reserve */
  const char *high = nullptr;
};
extern KnownStack knownStack;

/* The room of a frame outside the known stack (found each time). */
bool stackHasRoomElsewhere(const char *here);

inline bool stackHasRoom() {
  const char *here = static_cast<const char *>(__builtin_frame_address(0));
  if (here >= knownStack.low && here <= knownStack.high)
    return here > knownStack.limit;
  return stackHasRoomElsewhere(here);
}

/* Held for the length of one call through the bridge (a call, a send, a
   script method called from C). `entered` is false, with a message, when
   the thread's stack has too little room left for another level: a
   quarter of the stack (at most 1 MB) is kept for the language and for
   unwinding. */
class NativeDepth {
public:
  NativeDepth() : room_(stackHasRoom()) { ++nativeNesting; }
  ~NativeDepth() { --nativeNesting; }
  NativeDepth(const NativeDepth &) = delete;
  NativeDepth &operator=(const NativeDepth &) = delete;
  bool entered(std::string &error) const { return room_ || refuse(error); }

private:
  static bool refuse(std::string &error);
  bool room_;
};

/* }================================================================ */

} // namespace zelbridge

#endif
