/* The core's commands bound as the functions of the object objc (groups
   such as objc.protocol are objects of functions), and the functions of C
   functions: each calls what the core's Callable calls; a failed call
   throws the script's own error or an Error telling of the Objective-C
   exception. */
#include "js_objects.h"

#include <jsfriendapi.h>
#include <js/PropertyAndElement.h>

#include <memory>
#include <string>
#include <vector>

using zelbridge::ScriptValue;

namespace {

/* A failed call: the very value a JavaScript method called through
   Objective-C threw, else an Error with the message, whose name, reason and
   exception are the Objective-C exception's when one was raised. */
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
  JS_ReportErrorUTF8(cx, "%s", message.c_str());
  JS::RootedValue error(cx);
  if (!failure.exception || !JS_GetPendingException(cx, &error) ||
      !error.isObject())
    return false;
  JS_ClearPendingException(cx); /* while the fields are made */
  JS::RootedObject object(cx, &error.toObject());
  JS::RootedValue record(
      cx, zeljs::lentValue(zelbridge::failureRecord(script, failure, message)));
  JS::RootedValue field(cx);
  if (record.isObject()) {
    JS::RootedObject fields(cx, &record.toObject());
    for (const char *key : {"name", "reason", "exception"})
      if (!JS_GetProperty(cx, fields, key, &field) ||
          !JS_SetProperty(cx, object, key, field))
        JS_ClearPendingException(cx);
  }
  JS_SetPendingException(cx, error);
  return false;
}

enum { callableSlot };

/* A function of objc or of a C function: the arguments lent to the core
   for the call, given back when it returns. */
bool callThrough(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  zeljs::LentScope scope;
  zelbridge::Script &script =
      zeljs::scriptOfGlobal(JS::CurrentGlobalOrNull(cx));
  auto &callable = *static_cast<zelbridge::Callable *>(
      js::GetFunctionNativeReserved(&args.callee(), callableSlot).toPrivate());
  std::vector<ScriptValue> values;
  for (unsigned i = 0; i < args.length(); ++i)
    values.push_back(zeljs::lendValue(cx, args[i]));
  ScriptValue result = nullptr;
  std::string error;
  if (!callable.call(script, values.data(), static_cast<int>(values.size()),
                     result, error))
    return failCall(cx, script, error);
  args.rval().set(zeljs::lentValue(result));
  return true;
}

/* What a function calls lives as long as the process: a script may keep
   the function anywhere. */
void attach(JS::HandleObject function,
            std::unique_ptr<zelbridge::Callable> callable) {
  js::SetFunctionNativeReserved(function, callableSlot,
                                JS::PrivateValue(callable.release()));
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
        cx, target, command->name, callThrough,
        static_cast<unsigned>(command->minimum), JSPROP_ENUMERATE);
    if (!function)
      return false;
    JS::RootedObject object(cx, JS_GetFunctionObject(function));
    attach(object, zelbridge::callable(*command, name));
    /* A group called as it stands: its commands are the function's. */
    if (command->subcommands && !bind(cx, object, name, command->subcommands))
      return false;
  }
  return true;
}

/* special(h, NAME): the core's answer for a $-member. */
bool specialMember(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  zeljs::LentScope scope;
  zelbridge::Script &script =
      zeljs::scriptOfGlobal(JS::CurrentGlobalOrNull(cx));
  zelbridge::Arena arena;
  ScriptValue handle = zeljs::lendValue(cx, args.get(0));
  const char *name = script.getText(zeljs::lendValue(cx, args.get(1)), arena);
  ScriptValue result = nullptr;
  std::string error;
  if (!zelbridge::specialMember(script, handle, name, result, error))
    return failCall(cx, script, error);
  args.rval().set(zeljs::lentValue(result));
  return true;
}

/* selectorOf(NAME): "appendString_" spells "appendString:". */
bool selectorOfMember(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  std::string name;
  if (!zeljs::textOf(cx, args.get(0), name))
    return false;
  JSString *selector =
      zeljs::newString(cx, zelbridge::selectorOfMember(name.c_str()).c_str());
  if (!selector)
    return false;
  args.rval().setString(selector);
  return true;
}

bool functionValue(JSContext *cx, JSNative native, unsigned arity,
                   const char *name, JS::MutableHandleValue out) {
  JSFunction *function = JS_NewFunction(cx, native, arity, 0, name);
  if (!function)
    return false;
  out.setObject(*JS_GetFunctionObject(function));
  return true;
}

} // namespace

namespace zeljs {

bool newIdiomHelpers(JSContext *cx, JS::MutableHandleValue special,
                     JS::MutableHandleValue selectorOf) {
  return functionValue(cx, specialMember, 2, "special", special) &&
         functionValue(cx, selectorOfMember, 1, "selectorOf", selectorOf);
}

JSObject *newCFunction(JSContext *cx, JS::HandleObject global,
                       std::unique_ptr<zelbridge::Function> function,
                       const char *name, bool nameGiven, std::string &error) {
  unsigned arity = static_cast<unsigned>(function->signature->arguments.size());
  JSFunction *made =
      js::NewFunctionWithReserved(cx, callThrough, arity, 0, name);
  if (!made) {
    error = zeljs::pendingErrorText(cx);
    return nullptr;
  }
  JS::RootedObject object(cx, JS_GetFunctionObject(made));
  attach(object, zelbridge::callable(std::move(function), name));
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
