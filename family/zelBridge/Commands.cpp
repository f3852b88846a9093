/* The commands of every language, written once: their argument checks,
   conversions and messages. A language only binds the table to its own
   naming and reads its arguments as values. */
#include "bridge.h"

#include <Foundation/Foundation.h>

#include <algorithm>
#include <cstring>

namespace zelbridge {

/* ---- defaults of Script ---- */

SEL Script::getSelector(ScriptValue value) {
  Arena arena;
  return sel_registerName(getText(value, arena));
}

bool Script::runBlock(ScriptValue, ScriptValue &, std::string &error) {
  error = "this language cannot run a block";
  return false;
}

std::unique_ptr<MethodBody> Script::newBody(ScriptValue *, const char *, int,
                                            bool, std::string &error) {
  error = "this language cannot define methods";
  return nullptr;
}

ScriptValue Script::newFunction(std::unique_ptr<Function>, const char *, bool,
                                std::string &error) {
  error = "this language cannot call C functions";
  return nullptr;
}

bool callFunction(Script &script, const Function &function, const char *name,
                  ScriptValue *args, int argc, ScriptValue &result,
                  std::string &error) {
  clearFailure();
  settleDrops();
  if (call(script, *function.signature, function.address, args, argc, result,
           error))
    return true;
  error = std::string(name) + ": " + error;
  return false;
}

namespace {

/* ---- reading arguments ---- */

bool expected(const char *what, Script &script, ScriptValue value,
              std::string &error) {
  error = std::string("expected ") + what + " but got " +
          quote(textOf(script, value));
  return false;
}

/* A protocol: a handle of one or a protocol's name. */
bool protocolFrom(Script &script, ScriptValue value, Protocol *&protocol,
                  std::string &error) {
  Handle handle;
  if (script.getHandle(value, handle)) {
    id object = nil;
    if (!resolve(handle, object, error))
      return false;
    if (!isInstanceOf(object,
                      reinterpret_cast<Class>(objc_lookUpClass("Protocol"))))
      return expected("a protocol", script, value, error);
    protocol = reinterpret_cast<Protocol *>(object);
    return true;
  }
  std::string name = textOf(script, value);
  protocol = findProtocol(name.c_str());
  if (!protocol)
    error = "no protocol named " + cut(name);
  return protocol != nullptr;
}

/* The items of a list argument; nil stands for no items. */
bool itemsFrom(Script &script, ScriptValue value, const char *what,
               std::vector<ScriptValue> &items, std::string &error) {
  items.clear();
  if (script.isNil(value, false) || script.getItems(value, items))
    return true;
  return expected(what, script, value, error);
}

/* Method descriptions in each language's natural shapes: a list of
   {SELECTOR TYPES} pairs, a flat list SELECTOR TYPES ..., or a map of
   SELECTOR: TYPES. The types must be a method signature. */
bool descriptionsFrom(Script &script, ScriptValue value,
                      std::vector<MethodDescription> &out, std::string &error) {
  std::vector<std::pair<ScriptValue, ScriptValue>> entries;
  std::vector<ScriptValue> items;
  if (script.getEntries(value, entries)) {
    for (auto &[selector, types] : entries)
      out.push_back({textOf(script, selector), textOf(script, types)});
  } else if (!itemsFrom(script, value, "a list of selectors and types", items,
                        error)) {
    return false;
  } else {
    std::vector<ScriptValue> pair;
    bool pairs = !items.empty();
    for (ScriptValue item : items)
      pairs = pairs && script.getItems(item, pair) && pair.size() == 2;
    if (!pairs && items.size() % 2) {
      error = "method descriptions must be pairs of selector and types";
      return false;
    }
    for (size_t i = 0; i < items.size(); i += pairs ? 1 : 2) {
      if (pairs)
        script.getItems(items[i], pair);
      else
        pair = {items[i], items[i + 1]};
      out.push_back({textOf(script, pair[0]), textOf(script, pair[1])});
    }
  }
  for (const MethodDescription &method : out) {
    auto signature = prepare(method.types.c_str(), error);
    if (!signature)
      return false;
    if (signature->arguments.size() < 2) {
      error = "method signature " + quote(method.types) +
              " has no receiver and selector";
      return false;
    }
  }
  return true;
}

ScriptValue handleValue(Script &script, const void *object) {
  return script.newHandle(
      handleFor(static_cast<id>(const_cast<void *>(object))));
}

/* ---- class, string ---- */

bool classCommand(Script &script, ScriptValue *args, int, ScriptValue &result,
                  std::string &error) {
  std::string name = textOf(script, args[0]);
  id cls = objc_lookUpClass(name.c_str());
  if (!cls) {
    error = "no class named " + cut(name);
    return false;
  }
  result = handleValue(script, cls);
  return true;
}

bool stringCommand(Script &script, ScriptValue *args, int, ScriptValue &result,
                   std::string &error) {
  Arena arena;
  const char *text = cString(script, args[0], arena, error);
  if (!text)
    return false;
  result = handleValue(script,
                       objc_send_class("NSString", "stringWithCString:", text));
  return true;
}

/* ---- send, super, former ---- */

using Sender = bool (*)(Script &, id, SEL, ScriptValue *, int, ScriptValue &,
                        std::string &);

/* Made once per sender, so that each command calls its sender directly. */
template <Sender sender>
bool sendWith(Script &script, ScriptValue *args, int argc, ScriptValue &result,
              std::string &error) {
  id receiver = nil;
  if (!objectFrom(script, args[0], true, receiver, error))
    return false;
  return sender(script, receiver, script.getSelector(args[1]), args + 2,
                argc - 2, result, error);
}

/* TYPES RECEIVER SELECTOR ?ARG ...? */
bool sendTypedCommand(Script &script, ScriptValue *args, int argc,
                      ScriptValue &result, std::string &error) {
  id receiver = nil;
  if (!objectFrom(script, args[1], true, receiver, error))
    return false;
  std::string types = textOf(script, args[0]);
  return sendTyped(script, types.c_str(), receiver, script.getSelector(args[2]),
                   args + 3, argc - 3, result, error);
}

/* ?-types TYPES? RECEIVER SELECTOR ?ARG ...? */
bool sendCommand(Script &script, ScriptValue *args, int argc,
                 ScriptValue &result, std::string &error) {
  Handle handle;
  if (argc >= 4 && !script.getHandle(args[0], handle) &&
      textOf(script, args[0]) == "-types")
    return sendTypedCommand(script, args + 1, argc - 1, result, error);
  return sendWith<send>(script, args, argc, result, error);
}

bool superCommand(Script &script, ScriptValue *args, int argc,
                  ScriptValue &result, std::string &error) {
  return sendWith<sendSuper>(script, args, argc, result, error);
}

bool formerCommand(Script &script, ScriptValue *args, int argc,
                   ScriptValue &result, std::string &error) {
  return sendWith<sendFormer>(script, args, argc, result, error);
}

/* ---- pool ---- */

/* BODY: runs it inside an autorelease pool of its own, drained also when
   it fails; its result (and what it holds) stays alive for the code
   around the pool. */
bool poolCommand(Script &script, ScriptValue *args, int, ScriptValue &result,
                 std::string &error) {
  if (!bodyIsFunction(script, args[0], error))
    return false;
  id pool = openPool();
  bool ok = script.runBlock(args[0], result, error);
  if (!ok)
    recordScriptFailure(script, script.keepFailure());
  closePool(pool);
  return ok;
}

/* ---- defineClass, method, ivar ---- */

/* The protocols of `-protocols LIST` or of an options map. */
bool protocolsOption(Script &script, ScriptValue *args, int argc,
                     std::vector<Protocol *> &protocols, bool &ivarsAt2,
                     std::string &error) {
  ivarsAt2 = argc > 2;
  for (int at = 2; at < argc; ++at) {
    std::vector<std::pair<ScriptValue, ScriptValue>> options;
    ScriptValue list = nullptr;
    if (script.getEntries(args[at], options)) {
      for (auto &[key, value] : options)
        if (textOf(script, key) == "protocols")
          list = value;
    } else if (textOf(script, args[at]) == "-protocols" && at + 1 < argc) {
      list = args[++at];
    } else if (at == 2) {
      continue; /* IVARS */
    } else {
      return expected("-protocols", script, args[at], error);
    }
    if (at <= 3 && at == 2 + (argc > 3 && list == args[3]))
      ivarsAt2 = false;
    std::vector<ScriptValue> items;
    if (list && !itemsFrom(script, list, "a list of protocols", items, error))
      return false;
    for (ScriptValue item : items) {
      Protocol *protocol = nullptr;
      if (!protocolFrom(script, item, protocol, error))
        return false;
      protocols.push_back(protocol);
    }
  }
  return true;
}

/* NAME SUPERCLASS ?IVARS? ?-protocols LIST? (or an options map with
   protocols). */
bool defineClassCommand(Script &script, ScriptValue *args, int argc,
                        ScriptValue &result, std::string &error) {
  id superclass = nil;
  if (!objectFrom(script, args[1], true, superclass, error))
    return false;
  if (superclass && !isClassObject(superclass))
    return expected("a class", script, args[1], error);
  std::vector<Protocol *> protocols;
  bool ivarsGiven = false;
  if (!protocolsOption(script, args, argc, protocols, ivarsGiven, error))
    return false;
  std::vector<std::pair<ScriptValue, ScriptValue>> options;
  bool hasIvars = ivarsGiven && !script.isNil(args[2], false) &&
                  !script.getEntries(args[2], options) &&
                  textOf(script, args[2]) != "-protocols";
  std::string ivars = hasIvars ? textOf(script, args[2]) : "";
  Class cls = defineClass(textOf(script, args[0]).c_str(),
                          reinterpret_cast<Class>(superclass),
                          hasIvars ? ivars.c_str() : nullptr, error);
  if (!cls || !adoptProtocols(cls, protocols, error))
    return false;
  result = handleValue(script, cls);
  return true;
}

/* CLASS ?-class? SELECTOR ?TYPES? BODY: without TYPES, those of the method
   it replaces or overrides, or of a protocol's. */
bool methodCommand(Script &script, ScriptValue *args, int argc,
                   ScriptValue &result, std::string &error) {
  int fixed = argc - script.bodyWords();
  bool classSide = fixed >= 3 && textOf(script, args[1]) == "-class";
  int named = fixed - 1 - (classSide ? 1 : 0); /* SELECTOR ?TYPES? */
  if (named != 1 && named != 2) {
    error = "expected -class but got " + quote(textOf(script, args[1]));
    return false;
  }
  Class cls = nullptr;
  if (!classFrom(script, args[0], cls, error))
    return false;
  ScriptValue *rest = args + (classSide ? 2 : 1);
  SEL sel = sel_registerName(textOf(script, rest[0]).c_str());
  std::string given = named == 2 ? textOf(script, rest[1]) : "", types;
  if (named == 2 && !prepare(given.c_str(), error))
    return false;
  if (!methodTypes(cls, classSide, sel, named == 2 ? given.c_str() : nullptr,
                   types, error))
    return false;
  auto signature = prepare(types.c_str(), error);
  if (!signature)
    return false;
  int arguments = static_cast<int>(signature->arguments.size()) - 2;
  if (arguments < 0) {
    error =
        "method signature " + quote(types) + " has no receiver and selector";
    return false;
  }
  ScriptValue *body = rest + named;
  if (!bodyIsFunction(script, body[0], error))
    return false;
  auto made = script.newBody(body, types.c_str(), arguments, true, error);
  if (!made ||
      !defineMethod(cls, classSide, sel, types.c_str(), std::move(made), error))
    return false;
  result = script.newNil();
  return true;
}

bool ivarCommand(Script &script, ScriptValue *args, int argc,
                 ScriptValue &result, std::string &error) {
  id object = nil;
  if (!objectFrom(script, args[0], true, object, error))
    return false;
  std::string name = textOf(script, args[1]);
  if (argc == 2)
    return getIvar(script, object, name.c_str(), result, error);
  if (!setIvar(script, object, name.c_str(), args[2], error))
    return false;
  result = args[2];
  return true;
}

/* ---- protocol ---- */

bool protocolFind(Script &script, ScriptValue *args, int, ScriptValue &result,
                  std::string &) {
  Protocol *protocol = findProtocol(textOf(script, args[0]).c_str());
  result = protocol ? handleValue(script, protocol) : script.newNil();
  return true;
}

bool protocolList(Script &script, ScriptValue *, int, ScriptValue &result,
                  std::string &) {
  std::vector<ScriptValue> names;
  for (const std::string &name : protocolNames())
    names.push_back(script.newText(name.c_str()));
  result = listOf(script, names);
  return true;
}

/* NAME ?INCORPORATED? ?INSTANCEMETHODS? ?CLASSMETHODS? */
bool protocolCreate(Script &script, ScriptValue *args, int argc,
                    ScriptValue &result, std::string &error) {
  std::vector<ScriptValue> items;
  std::vector<std::string> incorporated;
  if (argc > 1 &&
      !itemsFrom(script, args[1], "a list of protocol names", items, error))
    return false;
  for (ScriptValue item : items)
    incorporated.push_back(textOf(script, item));
  std::vector<MethodDescription> instance, classSide;
  if ((argc > 2 && !descriptionsFrom(script, args[2], instance, error)) ||
      (argc > 3 && !descriptionsFrom(script, args[3], classSide, error)))
    return false;
  Protocol *protocol = createProtocol(textOf(script, args[0]).c_str(),
                                      incorporated, instance, classSide, error);
  if (!protocol)
    return false;
  result = handleValue(script, protocol);
  return true;
}

bool protocolTest(BOOL (*test)(Class, Protocol *), Script &script,
                  ScriptValue *args, ScriptValue &result, std::string &error) {
  Class cls = nullptr;
  Protocol *protocol = nullptr;
  if (!classFrom(script, args[0], cls, error) ||
      !protocolFrom(script, args[1], protocol, error))
    return false;
  result = script.newBoolean(test(cls, protocol) != NO);
  return true;
}

bool protocolImplements(Script &script, ScriptValue *args, int,
                        ScriptValue &result, std::string &error) {
  return protocolTest(ZelObjC_ImplementsProtocol, script, args, result, error);
}

bool protocolConforms(Script &script, ScriptValue *args, int,
                      ScriptValue &result, std::string &error) {
  return protocolTest(ZelObjC_ConformsToProtocol, script, args, result, error);
}

bool protocolName(Script &script, ScriptValue *args, int, ScriptValue &result,
                  std::string &error) {
  Protocol *protocol = nullptr;
  if (!protocolFrom(script, args[0], protocol, error))
    return false;
  result = script.newText(protocol->protocol_name);
  return true;
}

/* ---- cfunction ---- */

/* NAME ?SIGNATURE? ?SCRIPTNAME?: without SCRIPTNAME the function is named
   after the symbol (without its module). */
bool cfunctionCommand(Script &script, ScriptValue *args, int argc,
                      ScriptValue &result, std::string &error) {
  std::string name = textOf(script, args[0]);
  bool typed = argc > 1 && !script.isNil(args[1], false);
  std::string types = typed ? textOf(script, args[1]) : "";
  auto function =
      cfunction(name.c_str(), typed ? types.c_str() : nullptr, error);
  if (!function)
    return false;
  bool named = argc > 2 && !script.isNil(args[2], false);
  size_t colon = name.find(':');
  std::string shown = named                        ? textOf(script, args[2])
                      : colon == std::string::npos ? name
                                                   : name.substr(colon + 1);
  result = script.newFunction(std::move(function), shown.c_str(), named, error);
  return result != nullptr;
}

/* ---- the table ---- */

const Command protocolCommands[] = {
    {"find", "NAME", 1, 1, protocolFind, nullptr,
     "the protocol of that name, or nil"},
    {"list", "", 0, 0, protocolList, nullptr,
     "the names of every protocol, sorted"},
    {"create", "NAME ?INCORPORATED? ?INSTANCEMETHODS? ?CLASSMETHODS?", 1, 4,
     protocolCreate, nullptr,
     "a new protocol; methods as selector and types pairs"},
    {"implements", "CLASS PROTOCOL", 2, 2, protocolImplements, nullptr,
     "whether the class has every method of the protocol"},
    {"conforms", "CLASS PROTOCOL", 2, 2, protocolConforms, nullptr,
     "whether the class or a superclass adopts the protocol"},
    {"name", "PROTOCOL", 1, 1, protocolName, nullptr, "the protocol's name"},
    {nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr}};

const Command allCommands[] = {
    {"class", "NAME", 1, 1, classCommand, nullptr, "the class of that name"},
    {"send", "RECEIVER SELECTOR ?ARG ...?", 2, -1, sendCommand, nullptr,
     "the result of the message"},
    {"sendTyped", "TYPES RECEIVER SELECTOR ?ARG ...?", 3, -1, sendTypedCommand,
     nullptr,
     "the message sent with the given method encoding (variadic methods)"},
    {"super", "RECEIVER SELECTOR ?ARG ...?", 2, -1, superCommand, nullptr,
     "the message to the superclass's implementation"},
    {"former", "RECEIVER SELECTOR ?ARG ...?", 2, -1, formerCommand, nullptr,
     "the message to the implementation the running one displaced"},
    {"pool", "SCRIPT", 1, 1, poolCommand, nullptr,
     "the script's result, run inside an autorelease pool of its own"},
    {"string", "TEXT", 1, 1, stringCommand, nullptr,
     "an autoreleased NSString of the text"},
    {"defineClass", "NAME SUPERCLASS ?IVARS? ?-protocols LIST?", 2, 5,
     defineClassCommand, nullptr,
     "a new class; IVARS a struct encoding of its variables"},
    {"method", "CLASS ?-class? SELECTOR ?TYPES? BODY", 3, 5, methodCommand,
     nullptr, "defines a method written in the language", true},
    {"ivar", "OBJECT NAME ?VALUE?", 2, 3, ivarCommand, nullptr,
     "reads or writes an instance variable"},
    {"protocol", "SUBCOMMAND ?ARG ...?", 1, -1, nullptr, protocolCommands,
     "protocols"},
    {"cfunction", "NAME ?SIGNATURE? ?SCRIPTNAME?", 1, 3, cfunctionCommand,
     nullptr, "a function of the language calling the C function"},
    {"symbols", "SUBCOMMAND ?ARG ...?", 1, -1, nullptr, symbolCommands,
     "symbol tables"},
    {"memory", "SUBCOMMAND ?ARG ...?", 1, -1, nullptr, memoryCommands,
     "C memory by type encoding (raw: writes where it is told)"},
    {"callback", "TYPES BODY", 2, 2, callbackNew, callbackCommands,
     "C function pointers that run script code (raw)", true},
    {nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr}};

/* "?ARG ...?" as "...ARG", "?X?" as "[X]", words joined by ", ". */
std::string functionNotation(const std::string &words) {
  std::string out;
  size_t at = 0;
  while (at < words.size()) {
    size_t end = words.find(' ', at);
    if (words.compare(at, 1, "?") == 0 && end != std::string::npos &&
        words.compare(end, 5, " ...?") == 0) {
      out +=
          (out.empty() ? "..." : ", ...") + words.substr(at + 1, end - at - 1);
      at = end + 5;
    } else {
      std::string word = words.substr(at, end - at);
      if (word.size() > 2 && word.front() == '?' && word.back() == '?')
        word = "[" + word.substr(1, word.size() - 2) + "]";
      out += (out.empty() ? "" : ", ") + word;
      at = end == std::string::npos ? words.size() : end;
    }
    while (at < words.size() && words[at] == ' ')
      ++at;
  }
  return out;
}

} // namespace

bool classFrom(Script &script, ScriptValue value, Class &cls,
               std::string &error) {
  id object = nil;
  if (!objectFrom(script, value, true, object, error))
    return false;
  if (!isClassObject(object))
    return expected("a class", script, value, error);
  cls = reinterpret_cast<Class>(object);
  return true;
}

bool bodyIsFunction(Script &script, ScriptValue value, std::string &error) {
  return script.bodyWords() != 1 || script.isFunction(value) ||
         expected("a function", script, value, error);
}

/* The commands of every table, joined once. */
const Command *commands() {
  static const std::vector<Command> *joined = [] {
    auto *all = new std::vector<Command>;
    for (const Command *table : {allCommands, introspectionCommands})
      for (const Command *command = table; command->name; ++command)
        all->push_back(*command);
    all->push_back(Command{nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr});
    return all;
  }();
  return joined->data();
}

std::string usage(const Command &command, Script &script, bool asFunction) {
  std::string words = command.parameters;
  size_t body = words.find("BODY");
  if (body != std::string::npos)
    words.replace(body, 4, script.bodyParameters());
  return asFunction ? functionNotation(words) : words;
}

bool runCommand(const Command &command, Script &script, ScriptValue *args,
                int argc, ScriptValue &result, std::string &error) {
  result = nullptr;
  clearFailure();
  settleDrops();
  return command.run(script, args, argc, result, error);
}

} // namespace zelbridge
