/* Objects in the idiom of a language with objects of its own (JavaScript,
   Lua), the parts that do not depend on the language: a member NAME of a
   handle sends the selector NAME spells, a $-name tells about the object,
   a command called as a function checks its argument count alike, and
   the error of a failed call carries the exception's fields. */
#include "bridge.h"

#include <Foundation/Foundation.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace zelbridge {

namespace {

std::string stringText(id string) {
  const char *chars = string ? objc_send<const char *>(string, "cString") : "";
  return chars ? chars : "";
}

/* The object's class as a script would ask it (a class answers itself):
   the value for the script and the class itself. */
bool classOf(Script &script, ScriptValue value, ScriptValue &classValue,
             Class &cls, std::string &error) {
  id object = nil;
  id answered = nil;
  if (!objectFrom(script, value, true, object, error) ||
      !send(script, object, sel_registerName("class"), nullptr, 0, classValue,
            error) ||
      !objectFrom(script, classValue, true, answered, error))
    return false;
  if (!answered || !isClassObject(answered)) {
    error = describe(object) + " answered no class";
    return false;
  }
  cls = reinterpret_cast<Class>(answered);
  return true;
}

/* "- SELECTOR" for each instance method, then "+ SELECTOR" for each class
   method. */
ScriptValue methodNames(Script &script, Class cls, bool own) {
  std::vector<ScriptValue> items;
  for (bool classSide : {false, true})
    for (const objc_method *method : methodsOf(cls, classSide, own)) {
      std::string name = classSide ? "+ " : "- ";
      name += sel_getName(method->method_name);
      items.push_back(script.newText(name.c_str()));
    }
  return listOf(script, items);
}

bool isClassMember(const std::string &name) {
  return name == "$className" || name == "$class" || name == "$superclass" ||
         name == "$methods" || name == "$ownMethods";
}

class CommandCall : public Callable {
public:
  CommandCall(const Command &command, std::string path)
      : command_(command), path_(std::move(path)) {}
  bool call(Script &script, ScriptValue *args, int argc, ScriptValue &result,
            std::string &error) override {
    return callCommand(command_, script, path_, args, argc, result, error);
  }

private:
  const Command &command_;
  std::string path_;
};

class FunctionCall : public Callable {
public:
  FunctionCall(std::unique_ptr<Function> function, std::string name)
      : function_(std::move(function)), name_(std::move(name)) {}
  bool call(Script &script, ScriptValue *args, int argc, ScriptValue &result,
            std::string &error) override {
    return callFunction(script, *function_, name_.c_str(), args, argc, result,
                        error);
  }

private:
  std::unique_ptr<Function> function_;
  std::string name_;
};

} // namespace

std::unique_ptr<Callable> callable(const Command &command, std::string path) {
  return std::make_unique<CommandCall>(command, std::move(path));
}

std::unique_ptr<Callable> callable(std::unique_ptr<Function> function,
                                   std::string name) {
  return std::make_unique<FunctionCall>(std::move(function), std::move(name));
}

bool signedDecimal(const char *decimal, long long &value) {
  if (decimal[0] != '-' && zelObjC_strtoull(decimal, nullptr, 10) > LLONG_MAX)
    return false;
  value = std::strtoll(decimal, nullptr, 10);
  return true;
}

ScriptValue Script::newPointer(void *pointer) {
  return newText(formatPointer(pointer).c_str());
}

bool callCommand(const Command &command, Script &script,
                 const std::string &path, ScriptValue *args, int argc,
                 ScriptValue &result, std::string &error) {
  if (!arityFits(command, script, argc)) {
    error = arityMessage(command, script, path, argc);
    return false;
  }
  return runCommand(command, script, args, argc, result, error);
}

std::string selectorOfMember(const char *name) {
  std::string selector = name;
  std::replace(selector.begin(), selector.end(), '_', ':');
  return selector;
}

bool specialMember(Script &script, ScriptValue value, const char *name,
                   ScriptValue &result, std::string &error) {
  std::string member = name;
  if (member == "$handle") {
    result = value;
    return true;
  }
  if (!isClassMember(member)) {
    result = script.newNil();
    return true;
  }
  ScriptValue classValue = nullptr;
  Class cls = nullptr;
  if (!classOf(script, value, classValue, cls, error))
    return false;
  if (member == "$class") {
    result = classValue;
    return true;
  }
  script.discard(classValue);
  if (member == "$superclass")
    return send(script, reinterpret_cast<id>(cls),
                sel_registerName("superclass"), nullptr, 0, result, error);
  result = member == "$className"
               ? script.newText(cls->name)
               : methodNames(script, cls, member == "$ownMethods");
  return true;
}

std::string describeHandle(const Handle &handle) {
  id object = nil;
  std::string error;
  return resolve(handle, object, error) ? describe(object) : "<" + error + ">";
}

std::string descriptionOf(Script &script, const Handle &handle) {
  id object = nil;
  std::string error;
  if (!resolve(handle, object, error))
    return describeHandle(handle);
  size_t mark = script.mark();
  ScriptValue described = nullptr;
  ScriptValue chars = nullptr;
  id text = nil;
  bool ok = send(script, object, sel_registerName("description"), nullptr, 0,
                 described, error) &&
            objectFrom(script, described, false, text, error) && text &&
            send(script, text, sel_registerName("cString"), nullptr, 0, chars,
                 error) &&
            !script.isNil(chars, true);
  Arena arena;
  std::string shown =
      ok ? script.getText(chars, arena) : describeHandle(handle);
  for (ScriptValue made : {described, chars})
    if (made)
      script.discard(made);
  script.release(mark);
  if (!ok)
    clearFailure(); /* nobody takes it */
  return shown;
}

std::string arityMessage(const Command &command, Script &script,
                         const std::string &path, int argc) {
  return path + ": expected (" + usage(command, script, true) + ") but got " +
         std::to_string(argc) + (argc == 1 ? " argument" : " arguments");
}

ScriptValue failureRecord(Script &script, const Failure &failure,
                          const std::string &message) {
  static const char *const fields[] = {"name", "reason", "message",
                                       "exception"};
  std::string name = stringText(objc_send(failure.exception, "name"));
  std::string reason = stringText(objc_send(failure.exception, "reason"));
  ScriptValue values[4] = {script.newText(name.c_str()),
                           script.newText(reason.c_str()),
                           script.newBytes(message.data(), message.size()),
                           script.newHandle(handleFor(failure.exception))};
  return script.newRecord(fields, values, 4);
}

} // namespace zelbridge
