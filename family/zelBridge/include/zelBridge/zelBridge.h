/** @file
    zelBridge: the language-neutral half of a scripting bridge on
   zelObjCRuntime. A static library that a language library (zelTcl,
   zelJavaScript) links into itself; nothing of it is exported from the
   language library, so every language has its own registry and caches.

   What a language supplies is one object implementing `Script`: how to read
   its values as C values and how to make values from C values. The core
   does everything that depends only on type encodings and the runtime:

   - the object registry: objects reach scripts as handles that carry a
     serial number, so a handle to a freed object (even one whose address
     came back for a new object) is refused with "object 0x... was freed";
   - value conversion by type encoding, both ways, for every call kind of
     `apply` (integers with range checks, floats, BOOL, C strings, selectors,
     classes, objects, pointers, nil, structs, unions and arrays as lists,
     64-bit integers as decimal text);
   - prepared calls: a signature walked once and cached per method record;
   - sending messages (normal, to the superclass, to the former method),
     with Objective-C exceptions turned into error messages;
   - classes and methods defined by scripts: methods are libffi closures
     that call back into the language through a `MethodBody`;
   - instance variables (bitfields included), protocols, C functions and
     symbol tables.

   Conventions: functions answer true on success; on failure they answer
   false (or null) and put a message for the script into `error`. No C++
   exception leaves the core. Not thread-safe: one thread drives the bridge
   (the one running the scripts).

   Bounds: a converted value holds at most 16,777,216 items (scalars,
   elements and lists) nested at most 64 aggregates deep, and every
   aggregate's members must lie inside the size objc_sizeof_type measures
   for it (other types are refused when prepared); a call takes at most
   1,024 arguments in at most 64 KB; a call through the bridge is refused
   while less than a quarter of the thread's stack (at most 1 MB) is left.
   An array argument takes a list of exactly its element count, a pointer
   (nil, an object, "0x..." text), or for an array of chars a text of at
   most that many bytes. Messages quote inputs cut to 200 characters. */
/** @page commands The bridge commands
   Written once in the core (`commands()`), bound by every language to its
   own naming: Tcl `objc::NAME`, JavaScript and Lua `objc.NAME` (see
   @ref tcl_commands, @ref js_commands, @ref lua_commands).

   | command | answers |
   |---|---|
   | `class NAME` | the class |
   | `send ?-types TYPES? RECEIVER SELECTOR ?ARG ...?` | the message's result |
   | `sendTyped TYPES RECEIVER SELECTOR ?ARG ...?` | the message sent with the given method encoding |
   | `super`, `former` (as `send`) | the superclass's implementation, the one the running definition displaced |
   | `pool SCRIPT` | the script's result, run in an autorelease pool of its own |
   | `string TEXT` | an autoreleased NSString |
   | `defineClass NAME SUPERCLASS ?IVARS? ?-protocols LIST?` | a new class |
   | `method CLASS ?-class? SELECTOR ?TYPES? BODY` | defines a method; without TYPES those of the method it replaces or a protocol's |
   | `ivar OBJECT NAME ?VALUE?` | an instance variable, read or written |
   | `protocol find/list/create/implements/conforms/name` | protocols |
   | `cfunction NAME ?SIGNATURE? ?SCRIPTNAME?` | a function of the language calling the C function |
   | `symbols load/lookup/enumerate/list/tables` | symbol tables |
   | `memory alloc/free/read/write/new/string/offset` | C memory by type encoding (raw) |
   | `callback new TYPES BODY`, `callback free POINTER` | C function pointers running script code (raw) |
   | `classNames ?PATTERN?`, `methods CLASS ?-class? ?-own?`, `ivars CLASS`, `protocols CLASS`, `instances CLASS` (`choose`) | introspection |
   | `nsarray LIST`, `nsdictionary DICT`, `nsnumber VALUE`, `items ARRAY`, `entries DICTIONARY` | collections | */

#ifndef ZELBRIDGE_ZELBRIDGE_H
#define ZELBRIDGE_ZELBRIDGE_H

#include <zelObjCRuntime/zelObjCRuntime.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zelbridge {

/* ===================== What a language supplies ===================== */

/** A value of the language, opaque to the core (a Tcl_Obj *, a rooted
   JavaScript value...). Values the core makes with the new* functions are
   handed back to the language: as a result, as list items, as method
   arguments (MethodBody::run takes them over), or to `discard` when a
   conversion fails half-way. Values the language passes in stay its own and
   must live until the call returns. */
using ScriptValue = void *;

/** Temporary storage that lives as long as one call through the core (C
   strings handed to C, copies of texts). Languages may keep texts in it. */
class Arena {
public:
  /** A copy of the text that lives as long as the arena. */
  const char *keep(const char *text, size_t length);
  /** Zeroed bytes that live as long as the arena. */
  void *bytes(size_t size);

private:
  std::vector<std::unique_ptr<char[]>> blocks_;
};

/** An object as scripts see it: the object and the serial the registry gave
   it. Serials are never reused; 0 is no handle. */
struct Handle {
  id object = nil;     /**< the object (its address when first seen) */
  unsigned serial = 0; /**< the registry's serial, 0 for none */
};

/** Whether two handles are of the same object (as first seen). */
inline bool operator==(const Handle &one, const Handle &other) {
  return one.object == other.object && one.serial == other.serial;
}

class MethodBody;
struct Function;

/** What a language supplies: how its values are read as C values and
    made from them, and what the commands need beyond values. */
class Script {
public:
  virtual ~Script() = default;

  /* ---- Reading script values ---- */

  /** Whether the value stands for nil. `forText` is set where a C string is
     expected: a language may then accept fewer spellings (Tcl takes only
     the word "nil" there, so that "" stays an empty string). */
  virtual bool isNil(ScriptValue value, bool forText) = 0;
  /** An integer that fits in 64 signed bits; false when it is none. */
  virtual bool getInteger(ScriptValue value, long long &out) = 0;
  /** A truth value (used for BOOL after getInteger failed). */
  virtual bool getBoolean(ScriptValue value, bool &out) = 0;
  /** A number. */
  virtual bool getDouble(ScriptValue value, double &out) = 0;
  /** The value as text, valid while the arena lives; never null. */
  virtual const char *getText(ScriptValue value, Arena &arena) = 0;
  /** The value as text with its length in bytes, so that a NUL inside it
     is seen (a C string cannot carry one: the core refuses such text where
     C wants a string). By default the text of `getText`. */
  virtual const char *getBytes(ScriptValue value, Arena &arena, size_t &length);
  /** The items of a list; false when the value is not a list. */
  virtual bool getItems(ScriptValue value, std::vector<ScriptValue> &items) = 0;
  /** The handle the value holds; false when it holds none. The core checks
     the serial against the registry (see `resolve`). */
  virtual bool getHandle(ScriptValue value, Handle &out) = 0;

  /* ---- Making script values ---- */

  /** The language's nil. */
  virtual ScriptValue newNil() = 0;
  /** An integer. */
  virtual ScriptValue newInteger(long long value) = 0;
  /** A 64-bit integer as decimal text (from zelObjC_lltostr/ulltostr). */
  virtual ScriptValue newWideInteger(const char *decimal) = 0;
  /** A number. */
  virtual ScriptValue newDouble(double value) = 0;
  /** A text (a C string). */
  virtual ScriptValue newText(const char *text) = 0;
  /** A text of exactly those bytes (NULs included where the language can
     hold them). */
  virtual ScriptValue newBytes(const char *bytes, size_t length);
  /** A list of the items, which the list takes over. */
  virtual ScriptValue newList(ScriptValue *items, int count) = 0;
  /** An object or class; `handle.object` is never nil here. */
  virtual ScriptValue newHandle(const Handle &handle) = 0;
  /** A plain pointer (not an object); by default the text of
     `formatPointer`. */
  virtual ScriptValue newPointer(void *pointer);
  /** Drops a value made by the core that is not handed out after all. */
  virtual void discard(ScriptValue value) = 0;

  /* ---- What the shared commands need beyond values ----
     Each has a default, so that a language (or a test's fake one) adds
     only what it uses. */

  /** A truth value (Tcl 1/0, JavaScript and Lua booleans). */
  virtual ScriptValue newBoolean(bool value) { return newInteger(value); }
  /** Whether the language has numbers, lists and maps of its own
     (JavaScript, Lua), so that such a value passed where an object is
     expected becomes an NSNumber, NSArray or NSDictionary; in Tcl every
     value is text, and stands for an NSString there. */
  virtual bool structuredValues() { return false; }
  /** A map of keys to values: a Tcl dict (KEY VALUE ...); by default a list
     of {KEY VALUE} pairs (JavaScript and Lua, where a handle as the key of
     a plain object or table would not stand for its object). Takes the
     values over. */
  virtual ScriptValue newMap(ScriptValue *keys, ScriptValue *values, int count);
  /** A record of named fields: a list of the values in Tcl, an object or a
     table with those keys in JavaScript and Lua. Takes the values over. */
  virtual ScriptValue newRecord(const char *const *names, ScriptValue *values,
                                int count) {
    (void)names;
    return newList(values, count);
  }
  /** The key/value pairs of a map value (a JavaScript object, a Lua table
     with keys other than 1..n); false when the value is no map. */
  virtual bool
  getEntries(ScriptValue value,
             std::vector<std::pair<ScriptValue, ScriptValue>> &out) {
    (void)value;
    (void)out;
    return false;
  }
  /** A selector named by the value; a language may cache it in the value. */
  virtual SEL getSelector(ScriptValue value);
  /** The values made from a mark on are no longer needed (the core marks
     before a script method's arguments are made and releases after its
     result was converted): a language whose values live on a stack or in
     a pool frees them here. */
  virtual size_t mark() { return 0; }
  /** Frees the values made since the mark. */
  virtual void release(size_t mark) { (void)mark; }
  /** A hold on a value beyond every call, for value objects; null when the
     language cannot hold values. */
  virtual void *keep(ScriptValue value) {
    (void)value;
    return nullptr;
  }
  /** The held value, as a value made by the core. */
  virtual ScriptValue kept(void *hold) {
    return static_cast<ScriptValue>(hold);
  }
  /** Gives the hold up. */
  virtual void unkeep(void *hold) { (void)hold; }

  /* ---- Script code the commands take ---- */

  /** Runs a block of script code (Tcl: a script, in the caller's frame;
     JavaScript and Lua: a function, called without arguments): its result,
     or false with the language's report (and keepFailure's hold of the
     error). */
  virtual bool runBlock(ScriptValue block, ScriptValue &result,
                        std::string &error);
  /** Whether the value is a function of the language (for a body of one
     word: the core refuses anything else). */
  virtual bool isFunction(ScriptValue value) {
    (void)value;
    return false;
  }
  /** How many arguments make a method body, and how usage messages name
     them: Tcl takes "ARGNAMES BODY", JavaScript and Lua one "FUNCTION". */
  virtual int bodyWords() { return 1; }
  /** How usage messages name a method body. */
  virtual const char *bodyParameters() { return "FUNCTION"; }
  /** A body from those words, for a method of the types, which take
     argumentCount arguments besides self and _cmd (for a callback, when
     `method` is false, argumentCount arguments in all); null with an
     error. */
  virtual std::unique_ptr<MethodBody> newBody(ScriptValue *words,
                                              const char *types,
                                              int argumentCount, bool method,
                                              std::string &error);
  /** A function of the language that calls the C function (through
     `callFunction`), named as the script asked (`nameGiven`) or after the
     symbol; its value, or null with an error. Tcl makes a command of that
     name; JavaScript and Lua answer the function, and make it a global
     only when the script gave the name. */
  virtual ScriptValue newFunction(std::unique_ptr<Function> function,
                                  const char *name, bool nameGiven,
                                  std::string &error);
  /** A hold on the error a script body just failed with (the language's
     own error value: Tcl's result and return options, the thrown
     JavaScript value, the Lua error value), carried by the exception the
     core raises, so that a caller of this script through Objective-C gets
     the original error back (`takeFailure`); null keeps none. */
  virtual void *keepFailure() { return nullptr; }
  /** Gives up a hold of keepFailure nobody rethrew. */
  virtual void dropFailure(void *hold) { (void)hold; }
  /** The name of the exceptions raised for this language's errors
     ("ZELTclException"). */
  virtual const char *exceptionName() { return "ZELScriptException"; }
};

/* ===================== Object registry ===================== */

/** The handle of an object, registering it on first sight (installs the
   object notification hooks on first use). nil gives the empty handle. */
Handle handleFor(id object);
/** The live object of a handle; false with "object 0x... was freed" when
   the object went away. */
bool resolve(const Handle &handle, id &object, std::string &error);
/** "0x0812a0b0#3": address (when first seen) and serial. */
std::string formatHandle(const Handle &handle);
/** Reads formatHandle's text; false when the text is not one. */
bool parseHandle(const char *text, Handle &out);
/** "0x0812a0b0". */
std::string formatPointer(const void *pointer);
/** Reads a pointer in hexadecimal ("0x...") or decimal. */
bool parsePointer(const char *text, void *&out);
/** A value of the language now holds a handle (made, copied): the first
   one takes a reference for the script side. dropHandle, when such a
   value goes, may be called anywhere, a collector's finalizer included:
   the last drop gives the reference back into the autorelease pool in
   place when the bridge next runs. */
void holdHandle(const Handle &handle);
/** The value holding the handle went. */
void dropHandle(const Handle &handle);
/** A value the language already has (a canonical handle object) reaches
   the script again: the object lives at least until the end of the pool it
   is received in now, as for a value made by holdHandle. */
void receiveHandle(const Handle &handle);
/** Objects registered and objects the script side has references of. */
size_t registeredCount();
/** Objects the script side holds references of. */
size_t ownedCount();

/** How messages name an object: a class by its name, an instance as
   "<Name 0x...>". */
std::string describe(id object);

/** An object from a script value: a handle, a class name (where `classes`
   is set), or nil. */
bool objectFrom(Script &script, ScriptValue value, bool classes, id &object,
                std::string &error);

/* ===================== Values by type encoding ===================== */

/** Writes the value as a C value of the (one) type into storage of
   objc_sizeof_type bytes (4 for promoted c, C, s, S when `promoted`).
   Conversion rules:
   - c C s S i I l L: integers within the type's range; c also takes a
     truth value (BOOL); q Q: integers or decimal text, read with
     zelObjC_strtoull (a leading '-' for q);
   - f d: numbers; *: the text (nil: a null pointer); `:` a selector name
     (nil: null);
   - \@: a handle, nil, or any other text, which becomes an autoreleased
     NSString; #: a handle, a class name, or nil;
   - ^ ?: a pointer ("0x..." or an integer), a handle's object, or nil;
   - { }: a list with one item per member; [ ]: one item per element;
     ( ): the value of its first member (the other bytes zero).
   Objects stored this way are neither retained nor released. */
bool toC(Script &script, ScriptValue value, const char *type, void *storage,
         bool promoted, Arena &arena, std::string &error);
/** The script value of a C value of the type; null with an error for a type
   that has no conversion (bitfields, void...). */
ScriptValue fromC(Script &script, const char *type, const void *storage,
                  std::string &error);

/* ===================== Prepared calls ===================== */

/** One argument or the result of a prepared signature. */
struct Slot {
  const char *type; /**< into the signature's text */
  ApplyVal val;     /**< kind and size; data set per call */
  int offset;       /**< of its storage in a call's buffer */
};

/** A signature walked once: result, arguments, buffer size. */
struct Signature {
  std::string text;            /**< own copy of the encoding */
  Slot result;                 /**< the result */
  std::vector<Slot> arguments; /**< every argument, self and _cmd included */
  int bufferSize = 0;          /**< bytes of storage for one call */
};

/** Walks a method or function encoding ("d8d0d8", "@12@0:4@8"); null with
   an error for a type that apply cannot pass. */
std::unique_ptr<Signature> prepare(const char *types, std::string &error);

/** The signature of a method record, cached per record and prepared again
   when the record's selector, types or implementation changed, or method
   lists were changed by this bridge. Null with "RECEIVER does not respond
   to SELECTOR" for the not-found records of ZelObjC_LookupMethod; the
   emergency record is resolved through the class's method lists. `imp`
   receives the implementation to call. */
const Signature *methodSignature(Class cls, SEL sel, id receiver, IMP &imp,
                                 std::string &error);

/** Calls fn with the script values converted by the signature (every
   argument, so for methods self and _cmd first), inside an exception
   frame; an Objective-C exception gives "NAME: REASON". */
bool call(Script &script, const Signature &signature, void *fn,
          ScriptValue *args, int argc, ScriptValue &result, std::string &error);

/* ===================== Messages ===================== */

/** Sends sel to receiver with the arguments (self and _cmd not included):
   ZelObjC_LookupMethod on its class (the metaclass for a class object). */
bool send(Script &script, id receiver, SEL sel, ScriptValue *args, int argc,
          ScriptValue &result, std::string &error);
/** The same with the superclass's implementation: the superclass of the
   class whose script method is running for this receiver, else of the
   receiver's class. */
bool sendSuper(Script &script, id receiver, SEL sel, ScriptValue *args,
               int argc, ScriptValue &result, std::string &error);
/** Sends with the method encoding the script gives instead of the
   record's: variadic methods (one encoding per call shape) and methods
   without types. */
bool sendTyped(Script &script, const char *types, id receiver, SEL sel,
               ScriptValue *args, int argc, ScriptValue &result,
               std::string &error);
/** The same with the implementation the current one displaced
   (formerMethodForSelector:); an error when there is none. */
bool sendFormer(Script &script, id receiver, SEL sel, ScriptValue *args,
                int argc, ScriptValue &result, std::string &error);

/* ===================== Classes and methods ===================== */

/** A new class (ZelObjC_NewClass); ivars is a struct encoding or null. */
Class defineClass(const char *name, Class superclass, const char *ivars,
                  std::string &error);

/** A method written in the script language. */
class MethodBody {
public:
  virtual ~MethodBody() = default;
  /** The language's values. */
  virtual Script &script() = 0;
  /** Runs the body with the arguments (self and _cmd first), answering its
     result; false with an error message (which becomes the reason of the
     Objective-C exception). */
  virtual bool run(ScriptValue *args, int argc, ScriptValue &result,
                   std::string &error) = 0;
  /** Name of the exception raised when run fails: the language's. */
  virtual const char *exceptionName() { return script().exceptionName(); }
};

/** Gives cls (its metaclass when classSide) a method whose implementation
   is a libffi closure that converts the arguments, runs the body and
   converts its result to the return type. A method list of its own is
   attached and the selector's caches flushed; a method defined again runs
   in place of the earlier one, which stays reachable as the former
   method. The body is kept for the life of the process. A C string result
   ("*") lives until the method's next call. While the body runs, sendSuper
   and sendFormer with that receiver start from cls. */
bool defineMethod(Class cls, bool classSide, SEL sel, const char *types,
                  std::unique_ptr<MethodBody> body, std::string &error);

/* ===================== Instance variables ===================== */

/** Reads or writes an instance variable by name, converted by its type;
   bitfields are read bit by bit from the class's layout description. */
bool getIvar(Script &script, id object, const char *name, ScriptValue &out,
             std::string &error);
/** Writes an instance variable (see getIvar). */
bool setIvar(Script &script, id object, const char *name, ScriptValue value,
             std::string &error);

/* ===================== Protocols ===================== */

/** A method of a protocol to make: its selector and types. */
struct MethodDescription {
  std::string selector; /**< the selector's name */
  std::string types;    /**< a method encoding */
};

/** The protocol of that name, or null. */
Protocol *findProtocol(const char *name);
/** Names of every known protocol, sorted. */
std::vector<std::string> protocolNames();
/** A protocol made at run time, incorporating the named protocols; null
   with an error when the name is taken or an incorporated one unknown. */
Protocol *createProtocol(const char *name,
                         const std::vector<std::string> &incorporated,
                         const std::vector<MethodDescription> &instance,
                         const std::vector<MethodDescription> &classSide,
                         std::string &error);

/* ===================== C functions and symbols ===================== */

/** A C function callable from scripts: its address and signature. */
struct Function {
  void *address = nullptr;              /**< where the function is */
  std::unique_ptr<Signature> signature; /**< how it is called */
};

/** Finds name (ZelObjC_LookupExternalSymbol, "module:name" allowed) and
   prepares types; with types null, the signature is the type of a function
   of that name in a loaded symbol table. */
std::unique_ptr<Function> cfunction(const char *name, const char *types,
                                    std::string &error);

/** Loads a symbol table file (ZelObjC_LoadSymbolTable) and keeps it among
   the tables that `cfunction` searches; null with an error. */
SymbolTable *loadSymbols(const char *path, std::string &error);
/** The tables loaded so far, in loading order. */
const std::vector<SymbolTable *> &loadedSymbolTables();
/** Keyword of a definition kind ("FUNCTION"), or null. */
const char *symbolKindName(int kind);
/** The kind of a keyword, or 0. */
int symbolKind(const char *name);

/** A call of a C function made by `cfunction`: the arguments converted by
   its signature; failures say "NAME: " first. */
bool callFunction(Script &script, const Function &function, const char *name,
                  ScriptValue *args, int argc, ScriptValue &result,
                  std::string &error);

/** Why the script's last failed call failed, taken once after a command
   or a C function call fails: the Objective-C exception raised inside
   (nil when none was: the message is all), and, when that exception was
   raised for a failed body of this same script, the script's original
   error (a hold of keepFailure, the language's to rethrow and drop). */
struct Failure {
  id exception = nil; /**< autoreleased */
  void *original = nullptr;
};
/** The failure of the script's last failed call (see Failure). */
Failure takeFailure(Script &script);

/* ===================== The commands ===================== */

/** One command of the bridge, written once for every language. A language
   binds the table to its own naming (Tcl `objc::send`, JavaScript and Lua
   `objc.send`; a group such as `protocol` becomes a Tcl ensemble or an
   object of functions), reads the arguments as values, checks their count
   against `minimum`/`maximum` (`arityFits`) and reports a count that does
   not fit in its own way (`usage`). Everything else, value checks and
   their messages included, is the command's own. */
using CommandProc = bool (*)(Script &script, ScriptValue *args, int argc,
                             ScriptValue &result, std::string &error);

/** One command of the table (see CommandProc). */
struct Command {
  const char *name; /**< "send", or a group's name ("protocol") */
  /** The parameters in Tcl's notation ("RECEIVER SELECTOR ?ARG ...?");
     BODY stands for the language's method body (`bodyParameters`). */
  const char *parameters;
  int minimum; /**< arguments, a BODY counted as one */
  int maximum; /**< -1: no bound */
  /** Null for a group; a group with one is also called as it stands in
     JavaScript and Lua (`objc.callback(TYPES, FUNCTION)`). */
  CommandProc run;
  const Command *subcommands; /**< a group's commands, ended by a null name */
  const char *summary;        /**< one line: what it answers */
  bool body = false;          /**< whether BODY is among the parameters */
};

/** The commands, ended by an entry with a null name. */
const Command *commands();

/** Whether argc arguments fit the command (a BODY takes bodyWords).
   Inline: every command of every language asks. */
inline bool arityFits(const Command &command, Script &script, int argc) {
  int extra = command.body ? script.bodyWords() - 1 : 0;
  return argc >= command.minimum + extra &&
         (command.maximum < 0 || argc <= command.maximum + extra);
}

/** The parameters for a usage message: Tcl's notation, BODY replaced, or
   a function's ("RECEIVER, SELECTOR, ...ARG") when `asFunction`. */
std::string usage(const Command &command, Script &script, bool asFunction);

/** Runs a command with arguments that fit it. */
bool runCommand(const Command &command, Script &script, ScriptValue *args,
                int argc, ScriptValue &result, std::string &error);

} // namespace zelbridge

#include <zelBridge/idiom.h> /* the language classes, and what the languages
                                share beyond Script */

#endif
