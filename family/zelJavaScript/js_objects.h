/* What the modules of zelJavaScript share: the one engine context of the
   process, globals with the objc object, and error texts. */
#ifndef ZELJAVASCRIPT_JS_OBJECTS_H
#define ZELJAVASCRIPT_JS_OBJECTS_H

#include <zelBridge/zelBridge.h>

#include <jsapi.h>

#include <memory>
#include <string>

namespace zeljs {

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

/* The text of the pending JavaScript error (which is cleared): "FILE:LINE:
   MESSAGE", then the stack, one frame a line. */
std::string pendingErrorText(JSContext *cx);

/* A string of a C string: UTF-8, or byte for byte (Latin-1) where it is
   not valid UTF-8, so that no C text is refused. */
JSString *newString(JSContext *cx, const char *text);
JSString *newString(JSContext *cx, const char *text, size_t length);

/* Global slots of the objc bridge, among those the engine leaves to the
   application. */
enum : uint32_t { handlePrototypeSlot, bridgeSlot, handleObjectsSlot };
static_assert(handleObjectsSlot < JSCLASS_GLOBAL_APPLICATION_SLOTS);

/* Defines the objc object on a new global (in its realm). */
bool installObjc(JSContext *cx, JS::HandleObject global);

/* The handles' prototype and the table of handle objects of a new global
   (JSHandles.cpp). */
bool installHandles(JSContext *cx, JS::HandleObject global);

/* The global's one handle object of the handle's object, made (holding the
   object) when it has none; null with the error pending. */
JSObject *handleObject(JSContext *cx, JS::HandleObject global,
                       const zelbridge::Handle &handle);

/* The handle a handle object holds; false for any other value. */
bool handleOf(JS::HandleValue value, zelbridge::Handle &out);

/* Runs the idiom's JavaScript on the global's objc object (JSIdiom.cpp). */
bool runIdiom(JSContext *cx);

/* The idiom's helpers: special(h, NAME), the core's $-member NAME of h,
   and selectorOf(NAME), the selector a property name spells. */
bool newIdiomHelpers(JSContext *cx, JS::MutableHandleValue special,
                     JS::MutableHandleValue selectorOf);

/* A rooted copy of the value lent to the bridge core (freed back to the
   core's marks), and the value of one. */
zelbridge::ScriptValue lendValue(JSContext *cx, JS::HandleValue value);
JS::HandleValue lentValue(zelbridge::ScriptValue value);

/* Frees the values lent from its making on when it goes: a bridge
   function's arguments and the core's values made while it ran. */
class LentScope {
public:
  LentScope();
  ~LentScope();
  LentScope(const LentScope &) = delete;
  LentScope &operator=(const LentScope &) = delete;

private:
  size_t mark_;
};

/* The core's commands as the functions of objc (JSCommands.cpp). */
bool bindCommands(JSContext *cx, JS::HandleObject objc);

/* A function calling the C function, also the global's property NAME when
   the script gave the name; null with the error. */
JSObject *newCFunction(JSContext *cx, JS::HandleObject global,
                       std::unique_ptr<zelbridge::Function> function,
                       const char *name, bool nameGiven, std::string &error);

/* The bridge core's view of a global's values. */
zelbridge::Script &scriptOfGlobal(JSObject *global);

/* The UTF-8 text of a value converted as String() would; false with the
   error pending. */
bool textOf(JSContext *cx, JS::HandleValue value, std::string &text);

} // namespace zeljs

#endif
