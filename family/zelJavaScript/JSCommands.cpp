/* The core's commands bound as the functions of the object objc (groups
   such as objc.protocol are objects of functions), and the functions of C
   functions; a failed call throws the script's own error or an Error
   telling of the Objective-C exception. */
#include "js_objects.h"

#include <zelBridge/binding.h>

#include <jsfriendapi.h>
#include <js/PropertyAndElement.h>

#include <Foundation/Foundation.h>

#include <memory>
#include <string>
#include <vector>

using zelbridge::ScriptValue;

namespace {

bool fail(JSContext *cx, const std::string &message) {
  JS_ReportErrorUTF8(cx, "%s", message.c_str());
  return false;
}

/* A failed command or C function call: the very value a JavaScript method
   called through Objective-C threw, else an Error with the message, whose
   name, reason and exception are the Objective-C exception's when one was
   raised. */
bool failCall(JSContext *cx, zelbridge::Script &script,
              const std::string &message) {
  zelbridge::Failure failure = zelbridge::takeFailure(script);
  if (failure.original) {
    auto *thrown = static_cast<JS::PersistentRootedValue *>(failure.original);
    JS::RootedValue value(cx, *thrown);
    delete thrown;
    JS_SetPendingException(cx, value);
    return false;
  }
  fail(cx, message);
  JS::RootedValue error(cx);
  if (!failure.exception || !JS_GetPendingException(cx, &error) ||
      !error.isObject())
    return false;
  JS::RootedObject object(cx, &error.toObject());
  JS::RootedValue field(cx);
  for (const char *key : {"name", "reason"}) {
    JSString *string = zeljs::newString(
        cx, zelbridge::exceptionText(failure.exception, key).c_str());
    if (!string)
      return false;
    field.setString(string);
    JS_SetProperty(cx, object, key, field);
  }
  field.set(zeljs::lentValue(
      script.newHandle(zelbridge::handleFor(failure.exception))));
  JS_SetProperty(cx, object, "exception", field);
  JS_SetPendingException(cx, error);
  return false;
}

/* ===================== C functions ===================== */

/* A C function lives as long as the process: a script may keep the
   JavaScript function anywhere. */
struct CFunction {
  std::unique_ptr<zelbridge::Function> function;
  std::string name;
};

enum { functionSlot };

bool callCFunction(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  zeljs::LentScope scope;
  zelbridge::Script &script =
      zeljs::scriptOfGlobal(JS::CurrentGlobalOrNull(cx));
  auto &function = *static_cast<CFunction *>(
      js::GetFunctionNativeReserved(&args.callee(), functionSlot).toPrivate());
  std::vector<ScriptValue> values;
  for (unsigned i = 0; i < args.length(); ++i)
    values.push_back(zeljs::lendValue(cx, args[i]));
  ScriptValue result = nullptr;
  std::string error;
  if (!zelbridge::callFunction(script, *function.function,
                               function.name.c_str(), values.data(),
                               static_cast<int>(values.size()), result, error))
    return failCall(cx, script, error);
  args.rval().set(zeljs::lentValue(result));
  return true;
}

/* ===================== The commands ===================== */

/* A command and the name scripts call it by ("objc.protocol.create"). */
struct Bound {
  const zelbridge::Command *command;
  std::string path;
};

enum { boundSlot };

bool arityError(JSContext *cx, const Bound &bound, zelbridge::Script &script,
                unsigned argc) {
  return fail(cx, zelbridge::arityMessage(*bound.command, script, bound.path,
                                          static_cast<int>(argc)));
}

bool dispatch(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  zeljs::LentScope scope;
  auto &bound = *static_cast<Bound *>(
      js::GetFunctionNativeReserved(&args.callee(), boundSlot).toPrivate());
  zelbridge::Script &script =
      zeljs::scriptOfGlobal(JS::CurrentGlobalOrNull(cx));
  int count = static_cast<int>(args.length());
  if (!zelbridge::arityFits(*bound.command, script, count))
    return arityError(cx, bound, script, args.length());
  std::vector<ScriptValue> values;
  for (unsigned i = 0; i < args.length(); ++i)
    values.push_back(zeljs::lendValue(cx, args[i]));
  ScriptValue result = nullptr;
  std::string error;
  if (!zelbridge::runCommand(*bound.command, script, values.data(), count,
                             result, error))
    return failCall(cx, script, error);
  args.rval().set(zeljs::lentValue(result));
  return true;
}

bool bind(JSContext *cx, JS::HandleObject target, const std::string &path,
          const zelbridge::Command *commands) {
  for (const zelbridge::Command *command = commands; command->name; ++command) {
    std::string name = path + "." + command->name;
    if (command->subcommands && !command->run) {
      JS::RootedObject group(cx, JS_NewPlainObject(cx));
      if (!group || !bind(cx, group, name, command->subcommands) ||
          !JS_DefineProperty(cx, target, command->name, group,
                             JSPROP_ENUMERATE))
        return false;
      continue;
    }
    JSFunction *function = js::DefineFunctionWithReserved(
        cx, target, command->name, dispatch,
        static_cast<unsigned>(command->minimum), JSPROP_ENUMERATE);
    if (!function)
      return false;
    JS::RootedObject object(cx, JS_GetFunctionObject(function));
    js::SetFunctionNativeReserved(object, boundSlot,
                                  JS::PrivateValue(new Bound{command, name}));
    /* A group called as it stands: its commands are the function's. */
    if (command->subcommands && !bind(cx, object, name, command->subcommands))
      return false;
  }
  return true;
}

} // namespace

namespace zeljs {

JSObject *newCFunction(JSContext *cx, JS::HandleObject global,
                       std::unique_ptr<zelbridge::Function> function,
                       const char *name, bool nameGiven, std::string &error) {
  unsigned arity = static_cast<unsigned>(function->signature->arguments.size());
  JSFunction *made =
      js::NewFunctionWithReserved(cx, callCFunction, arity, 0, name);
  if (!made) {
    error = zeljs::pendingErrorText(cx);
    return nullptr;
  }
  JS::RootedObject object(cx, JS_GetFunctionObject(made));
  js::SetFunctionNativeReserved(
      object, functionSlot,
      JS::PrivateValue(new CFunction{std::move(function), name}));
  if (nameGiven &&
      !JS_DefineProperty(cx, global, name, object, JSPROP_ENUMERATE)) {
    error = zeljs::pendingErrorText(cx);
    return nullptr;
  }
  return object;
}

bool bindCommands(JSContext *cx, JS::HandleObject objc) {
  return bind(cx, objc, "objc", zelbridge::commands());
}

} // namespace zeljs
