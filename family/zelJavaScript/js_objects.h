/* What the modules of zelJavaScript share: the one engine context of the
   process, the instance layouts of the interpreter and value classes, and
   turning JavaScript errors into exceptions.

   Exceptions of the platform unwind with longjmp and skip destructors, so
   no function here raises one while a rooted value or an entered realm is
   alive on its stack: the work is done in a function that answers the
   exception to raise, and its caller raises it. */
#ifndef ZELJAVASCRIPT_JS_OBJECTS_H
#define ZELJAVASCRIPT_JS_OBJECTS_H

#include <objc/objc.h>

#include <jsapi.h>

#include <string>

namespace zeljs {

/* An instance of ZELJSInterp: one global object, in its own realm. */
struct InterpObject {
  Class isa;
  JS::PersistentRootedObject *global; /* owned */
};

/* An instance of ZELJSValue. */
struct ValueObject {
  Class isa;
  JS::PersistentRootedValue *value; /* owned */
};

/* The engine's context, started on first use (and shut down at exit);
   null when the engine cannot start. */
JSContext *context();

/* Whether the engine is gone (after the exit handler): objects that
   outlive it leave their roots alone. */
bool engineStopped();

/* Counts scripts running, so that an exit from inside one does not tear
   the engine down under its own frames. */
class Running {
public:
  Running();
  ~Running();
  Running(const Running &) = delete;
  Running &operator=(const Running &) = delete;
};

/* A new global object with print and console (and the objc object): the
   first one made is the main interpreter's, whose compartment every later
   global shares, so that values pass between them unwrapped. */
JSObject *newGlobal(JSContext *cx);

/* The main interpreter's global, making the main interpreter if needed;
   values made from C live in its realm. */
JSObject *mainGlobal();

/* An autoreleased ZELJSValue holding a copy of the value. */
id newValue(JSContext *cx, JS::HandleValue value);

/* The value of a ZELJSValue; undefined for nil. */
JS::Value valueOf(id value);

/* An autoreleased exception named ZELJavaScriptException for the pending
   JavaScript error (which is cleared): reason "FILE:LINE: MESSAGE", then
   the stack, one frame a line. */
id exceptionFromPending(JSContext *cx);

/* The text of the pending JavaScript error (which is cleared): "FILE:LINE:
   MESSAGE", then the stack, one frame a line. */
std::string pendingErrorText(JSContext *cx);

/* A string of a C string: UTF-8, or byte for byte (Latin-1) where it is
   not valid UTF-8, so that no C text is refused. */
JSString *newString(JSContext *cx, const char *text);

/* Global slots of the objc bridge, among those the engine leaves to the
   application. */
enum : uint32_t { handlePrototypeSlot, bridgeSlot };
static_assert(bridgeSlot < JSCLASS_GLOBAL_APPLICATION_SLOTS);

/* Defines the objc object on a new global (in its realm). */
bool installObjc(JSContext *cx, JS::HandleObject global);

/* An autoreleased ZELJavaScriptException with the reason text. */
id exceptionWithReason(const std::string &reason);

/* The UTF-8 text of a value converted as String() would; false with the
   error pending. */
bool textOf(JSContext *cx, JS::HandleValue value, std::string &text);

/* Calls the implementation that NSObject has for dealloc. */
void superDealloc(id self);

} // namespace zeljs

#endif
