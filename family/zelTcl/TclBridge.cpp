/* The commands of namespace objc: Tcl scripts reach Objective-C objects,
   classes, protocols and C functions through the bridge core. */
#include "tcl_objects.h"

#include <zelBridge/zelBridge.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using zelbridge::Handle;
using zelbridge::ScriptValue;

namespace {

/* ---- handles as Tcl values ----

   A handle keeps its object and serial in the Tcl_Obj, so that a handle
   used again is not parsed again; its text is made only when asked for. */

void dupHandle(Tcl_Obj *source, Tcl_Obj *copy);
void handleText(Tcl_Obj *object);

const Tcl_ObjType handleType = {"objcHandle", nullptr, dupHandle, handleText,
                                nullptr};

void setHandle(Tcl_Obj *object, const Handle &handle) {
  object->internalRep.twoPtrValue.ptr1 = handle.object;
  object->internalRep.twoPtrValue.ptr2 =
      reinterpret_cast<void *>(static_cast<uintptr_t>(handle.serial));
  object->typePtr = &handleType;
}

Handle handleOf(Tcl_Obj *object) {
  Handle handle;
  handle.object = static_cast<id>(object->internalRep.twoPtrValue.ptr1);
  handle.serial = static_cast<unsigned>(
      reinterpret_cast<uintptr_t>(object->internalRep.twoPtrValue.ptr2));
  return handle;
}

void dupHandle(Tcl_Obj *source, Tcl_Obj *copy) {
  setHandle(copy, handleOf(source));
}

void handleText(Tcl_Obj *object) {
  std::string text = zelbridge::formatHandle(handleOf(object));
  object->bytes = Tcl_Alloc(static_cast<unsigned>(text.size() + 1));
  std::memcpy(object->bytes, text.c_str(), text.size() + 1);
  object->length = static_cast<int>(text.size());
}

bool readHandle(Tcl_Obj *object, Handle &out) {
  if (object->typePtr == &handleType) {
    out = handleOf(object);
    return true;
  }
  const char *text = Tcl_GetString(object);
  if (text[0] != '0' || !zelbridge::parseHandle(text, out))
    return false;
  if (object->typePtr && object->typePtr->freeIntRepProc)
    object->typePtr->freeIntRepProc(object);
  setHandle(object, out);
  return true;
}

/* ---- selectors as Tcl values ----

   The selector word of a send keeps its selector, so that a send in a
   loop looks its name up once. The text never changes. */

void dupSelector(Tcl_Obj *source, Tcl_Obj *copy) {
  copy->internalRep.otherValuePtr = source->internalRep.otherValuePtr;
  copy->typePtr = source->typePtr;
}

const Tcl_ObjType selectorType = {"objcSelector", nullptr, dupSelector,
                                  nullptr, nullptr};

SEL selectorOf(Tcl_Obj *word) {
  if (word->typePtr == &selectorType)
    return static_cast<SEL>(word->internalRep.otherValuePtr);
  SEL sel = sel_registerName(Tcl_GetString(word));
  if (word->typePtr && word->typePtr->freeIntRepProc)
    word->typePtr->freeIntRepProc(word);
  word->internalRep.otherValuePtr = const_cast<objc_selector *>(sel);
  word->typePtr = &selectorType;
  return sel;
}

/* ---- Tcl values for the core ---- */

Tcl_Obj *obj(ScriptValue value) { return static_cast<Tcl_Obj *>(value); }

class TclScript : public zelbridge::Script {
public:
  bool isNil(ScriptValue value, bool forText) override {
    if (obj(value)->typePtr == &handleType)
      return false;
    int length = 0;
    const char *text = Tcl_GetStringFromObj(obj(value), &length);
    return (length == 3 && std::strcmp(text, "nil") == 0) ||
           (length == 0 && !forText);
  }
  bool getInteger(ScriptValue value, long long &out) override {
    Tcl_WideInt number = 0;
    if (Tcl_GetWideIntFromObj(nullptr, obj(value), &number) != TCL_OK)
      return false;
    /* Tcl wraps unsigned 64-bit values: one without its minus sign that
       came out negative did not fit. */
    if (number < 0 && !std::strchr(Tcl_GetString(obj(value)), '-'))
      return false;
    out = number;
    return true;
  }
  bool getBoolean(ScriptValue value, bool &out) override {
    int truth = 0;
    if (Tcl_GetBooleanFromObj(nullptr, obj(value), &truth) != TCL_OK)
      return false;
    out = truth != 0;
    return true;
  }
  bool getDouble(ScriptValue value, double &out) override {
    return Tcl_GetDoubleFromObj(nullptr, obj(value), &out) == TCL_OK;
  }
  const char *getText(ScriptValue value, zelbridge::Arena &) override {
    return Tcl_GetString(obj(value)); /* lives as long as the value */
  }
  bool getItems(ScriptValue value, std::vector<ScriptValue> &items) override {
    int count = 0;
    Tcl_Obj **elements = nullptr;
    if (Tcl_ListObjGetElements(nullptr, obj(value), &count, &elements) !=
        TCL_OK)
      return false;
    items.assign(elements, elements + count);
    return true;
  }
  bool getHandle(ScriptValue value, Handle &out) override {
    return readHandle(obj(value), out);
  }
  ScriptValue newNil() override { return Tcl_NewObj(); }
  ScriptValue newInteger(long long value) override {
    return Tcl_NewWideIntObj(value);
  }
  ScriptValue newWideInteger(const char *decimal) override {
    return Tcl_NewStringObj(decimal, -1);
  }
  ScriptValue newDouble(double value) override {
    return Tcl_NewDoubleObj(value);
  }
  ScriptValue newText(const char *text) override {
    return Tcl_NewStringObj(text, -1);
  }
  ScriptValue newList(ScriptValue *items, int count) override {
    return Tcl_NewListObj(count, reinterpret_cast<Tcl_Obj **>(items));
  }
  ScriptValue newHandle(const Handle &handle) override {
    Tcl_Obj *object = Tcl_NewObj();
    Tcl_InvalidateStringRep(object);
    setHandle(object, handle);
    return object;
  }
  ScriptValue newPointer(void *pointer) override {
    return Tcl_NewStringObj(zelbridge::formatPointer(pointer).c_str(), -1);
  }
  void discard(ScriptValue value) override {
    Tcl_IncrRefCount(obj(value));
    Tcl_DecrRefCount(obj(value));
  }
};

/* ---- one interpreter's state ---- */

/* Shared by the interpreter's commands and its script methods; a method
   body outlives a deleted interpreter and then refuses to run. */
struct Bridge {
  Tcl_Interp *interp;
  TclScript script;
  bool deleted = false;
};

void interpDeleted(ClientData data, Tcl_Interp *) {
  static_cast<Bridge *>(data)->deleted = true; /* bodies still point here */
}

int fail(Tcl_Interp *interp, const std::string &message) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
  return TCL_ERROR;
}

int succeed(Tcl_Interp *interp, ScriptValue value) {
  Tcl_SetObjResult(interp, obj(value));
  return TCL_OK;
}

int usage(Tcl_Interp *interp, Tcl_Obj *const objv[], int words,
          const char *arguments) {
  Tcl_WrongNumArgs(interp, words, objv, arguments);
  return TCL_ERROR;
}

bool objectArg(Bridge &bridge, Tcl_Obj *value, id &object) {
  std::string error;
  if (zelbridge::objectFrom(bridge.script, value, true, object, error))
    return true;
  fail(bridge.interp, error);
  return false;
}

bool classArg(Bridge &bridge, Tcl_Obj *value, Class &cls) {
  id object = nil;
  if (!objectArg(bridge, value, object))
    return false;
  if (!object || !(object->isa->info & CLS_META)) {
    fail(bridge.interp, std::string("expected a class but got \"") +
                            Tcl_GetString(value) + "\"");
    return false;
  }
  cls = reinterpret_cast<Class>(object);
  return true;
}

/* ---- objc::class, objc::string ---- */

int classCommand(ClientData data, Tcl_Interp *interp, int objc,
                 Tcl_Obj *const objv[]) {
  Bridge &bridge = *static_cast<Bridge *>(data);
  if (objc != 2)
    return usage(interp, objv, 1, "NAME");
  const char *name = Tcl_GetString(objv[1]);
  id cls = objc_lookUpClass(name);
  if (!cls)
    return fail(interp, std::string("no class named ") + name);
  return succeed(interp, bridge.script.newHandle(zelbridge::handleFor(cls)));
}

int stringCommand(ClientData data, Tcl_Interp *interp, int objc,
                  Tcl_Obj *const objv[]) {
  Bridge &bridge = *static_cast<Bridge *>(data);
  if (objc != 2)
    return usage(interp, objv, 1, "TEXT");
  id string = objc_send_class("NSString", "stringWithCString:",
                              Tcl_GetString(objv[1]));
  return succeed(interp,
                 bridge.script.newHandle(zelbridge::handleFor(string)));
}

/* ---- objc::send, objc::super, objc::former ---- */

using Sender = bool (*)(zelbridge::Script &, id, SEL, ScriptValue *, int,
                        ScriptValue &, std::string &);

int sendWith(Sender sender, ClientData data, Tcl_Interp *interp, int objc,
             Tcl_Obj *const objv[]) {
  Bridge &bridge = *static_cast<Bridge *>(data);
  if (objc < 3)
    return usage(interp, objv, 1, "RECEIVER SELECTOR ?ARG ...?");
  id receiver = nil;
  if (!objectArg(bridge, objv[1], receiver))
    return TCL_ERROR;
  SEL sel = selectorOf(objv[2]);
  ScriptValue result = nullptr;
  std::string error;
  auto args = reinterpret_cast<ScriptValue *>(const_cast<Tcl_Obj **>(objv + 3));
  if (!sender(bridge.script, receiver, sel, args, objc - 3, result, error))
    return fail(interp, error);
  return succeed(interp, result);
}

int sendCommand(ClientData data, Tcl_Interp *interp, int objc,
                Tcl_Obj *const objv[]) {
  return sendWith(zelbridge::send, data, interp, objc, objv);
}

int superCommand(ClientData data, Tcl_Interp *interp, int objc,
                 Tcl_Obj *const objv[]) {
  return sendWith(zelbridge::sendSuper, data, interp, objc, objv);
}

int formerCommand(ClientData data, Tcl_Interp *interp, int objc,
                  Tcl_Obj *const objv[]) {
  return sendWith(zelbridge::sendFormer, data, interp, objc, objv);
}

/* ---- objc::defineClass, objc::method ---- */

int defineClassCommand(ClientData data, Tcl_Interp *interp, int objc,
                       Tcl_Obj *const objv[]) {
  Bridge &bridge = *static_cast<Bridge *>(data);
  if (objc != 3 && objc != 4)
    return usage(interp, objv, 1, "NAME SUPERCLASS ?IVARS?");
  id superclass = nil;
  if (!objectArg(bridge, objv[2], superclass))
    return TCL_ERROR;
  if (superclass && !(superclass->isa->info & CLS_META))
    return fail(interp, std::string("expected a class but got \"") +
                            Tcl_GetString(objv[2]) + "\"");
  std::string error;
  Class cls = zelbridge::defineClass(
      Tcl_GetString(objv[1]), reinterpret_cast<Class>(superclass),
      objc == 4 ? Tcl_GetString(objv[3]) : nullptr, error);
  if (!cls)
    return fail(interp, error);
  return succeed(interp, bridge.script.newHandle(zelbridge::handleFor(
                             reinterpret_cast<id>(cls))));
}

/* A method body: an anonymous procedure of self, _cmd and the argument
   names, run with ::apply (which keeps its compiled form). */
class TclMethodBody : public zelbridge::MethodBody {
public:
  TclMethodBody(Bridge &bridge, Tcl_Obj *lambda)
      : bridge_(bridge), lambda_(lambda) {
    Tcl_IncrRefCount(lambda_);
  }
  ~TclMethodBody() override { Tcl_DecrRefCount(lambda_); }

  zelbridge::Script &script() override { return bridge_.script; }
  const char *exceptionName() override { return "ZELTclException"; }

  bool run(ScriptValue *args, int argc, ScriptValue &result,
           std::string &error) override {
    if (bridge_.deleted) {
      for (int i = 0; i < argc; ++i)
        bridge_.script.discard(args[i]);
      error = "the interpreter of this method was deleted";
      return false;
    }
    std::vector<Tcl_Obj *> words;
    words.reserve(static_cast<size_t>(argc) + 2);
    words.push_back(applyWord());
    words.push_back(lambda_);
    for (int i = 0; i < argc; ++i)
      words.push_back(obj(args[i]));
    for (Tcl_Obj *word : words)
      Tcl_IncrRefCount(word);
    int status = Tcl_EvalObjv(bridge_.interp, static_cast<int>(words.size()),
                              words.data(), TCL_EVAL_GLOBAL);
    for (Tcl_Obj *word : words)
      Tcl_DecrRefCount(word);
    if (status == TCL_OK || status == TCL_RETURN) {
      result = Tcl_GetObjResult(bridge_.interp);
      return true;
    }
    const char *info = Tcl_GetVar2(bridge_.interp, "errorInfo", nullptr,
                                   TCL_GLOBAL_ONLY);
    error = info ? info : Tcl_GetStringResult(bridge_.interp);
    Tcl_ResetResult(bridge_.interp);
    return false;
  }

private:
  static Tcl_Obj *applyWord() {
    static Tcl_Obj *word = [] {
      Tcl_Obj *name = Tcl_NewStringObj("::apply", -1);
      Tcl_IncrRefCount(name);
      return name;
    }();
    return word;
  }

  Bridge &bridge_;
  Tcl_Obj *lambda_;
};

/* {{self _cmd NAME...} BODY ::} */
Tcl_Obj *methodLambda(Tcl_Obj *names, Tcl_Obj *body) {
  Tcl_Obj *parameters = Tcl_NewListObj(0, nullptr);
  Tcl_ListObjAppendElement(nullptr, parameters, Tcl_NewStringObj("self", -1));
  Tcl_ListObjAppendElement(nullptr, parameters, Tcl_NewStringObj("_cmd", -1));
  Tcl_ListObjAppendList(nullptr, parameters, names);
  Tcl_Obj *words[3] = {parameters, body, Tcl_NewStringObj("::", -1)};
  return Tcl_NewListObj(3, words);
}

int methodCommand(ClientData data, Tcl_Interp *interp, int objc,
                  Tcl_Obj *const objv[]) {
  Bridge &bridge = *static_cast<Bridge *>(data);
  const char *arguments = "CLASS ?-class? SELECTOR TYPES ARGNAMES BODY";
  bool classSide = objc == 7 && std::strcmp(Tcl_GetString(objv[2]), "-class") == 0;
  if (objc != 6 && !classSide)
    return usage(interp, objv, 1, arguments);
  Class cls = nullptr;
  if (!classArg(bridge, objv[1], cls))
    return TCL_ERROR;
  Tcl_Obj *const *rest = objv + (classSide ? 3 : 2);
  const char *types = Tcl_GetString(rest[1]);
  int nameCount = 0;
  if (Tcl_ListObjLength(interp, rest[2], &nameCount) != TCL_OK)
    return TCL_ERROR;
  std::string error;
  std::unique_ptr<zelbridge::Signature> signature =
      zelbridge::prepare(types, error);
  if (!signature)
    return fail(interp, error);
  size_t expected = signature->arguments.size();
  if (expected < 2 || static_cast<size_t>(nameCount) + 2 != expected)
    return fail(interp, "wrong number of argument names: \"" +
                            std::string(types) + "\" takes " +
                            std::to_string(expected < 2 ? 0 : expected - 2) +
                            " besides self and _cmd");
  auto body = std::make_unique<TclMethodBody>(
      bridge, methodLambda(rest[2], rest[3]));
  SEL sel = sel_registerName(Tcl_GetString(rest[0]));
  if (!zelbridge::defineMethod(cls, classSide, sel, types, std::move(body),
                               error))
    return fail(interp, error);
  return TCL_OK;
}

/* ---- objc::ivar ---- */

int ivarCommand(ClientData data, Tcl_Interp *interp, int objc,
                Tcl_Obj *const objv[]) {
  Bridge &bridge = *static_cast<Bridge *>(data);
  if (objc != 3 && objc != 4)
    return usage(interp, objv, 1, "OBJECT NAME ?VALUE?");
  id object = nil;
  if (!objectArg(bridge, objv[1], object))
    return TCL_ERROR;
  const char *name = Tcl_GetString(objv[2]);
  std::string error;
  ScriptValue value = nullptr;
  if (objc == 4) {
    if (!zelbridge::setIvar(bridge.script, object, name, objv[3], error))
      return fail(interp, error);
    value = objv[3];
  } else if (!zelbridge::getIvar(bridge.script, object, name, value, error)) {
    return fail(interp, error);
  }
  return succeed(interp, value);
}

/* ---- objc::protocol ---- */

bool protocolArg(Bridge &bridge, Tcl_Obj *value, Protocol *&protocol) {
  Handle handle;
  if (readHandle(value, handle)) {
    id object = nil;
    std::string error;
    if (!zelbridge::resolve(handle, object, error)) {
      fail(bridge.interp, error);
      return false;
    }
    protocol = reinterpret_cast<Protocol *>(object);
    return true;
  }
  protocol = zelbridge::findProtocol(Tcl_GetString(value));
  if (!protocol)
    fail(bridge.interp,
         std::string("no protocol named ") + Tcl_GetString(value));
  return protocol != nullptr;
}

ScriptValue protocolValue(Bridge &bridge, Protocol *protocol) {
  return bridge.script.newHandle(
      zelbridge::handleFor(reinterpret_cast<id>(protocol)));
}

/* {SELECTOR TYPES ...} */
bool descriptions(Tcl_Interp *interp, Tcl_Obj *list,
                  std::vector<zelbridge::MethodDescription> &out) {
  int count = 0;
  Tcl_Obj **items = nullptr;
  if (Tcl_ListObjGetElements(interp, list, &count, &items) != TCL_OK)
    return false;
  if (count % 2) {
    fail(interp, "method descriptions must be pairs of selector and types");
    return false;
  }
  for (int i = 0; i < count; i += 2)
    out.push_back({Tcl_GetString(items[i]), Tcl_GetString(items[i + 1])});
  return true;
}

int protocolCreate(Bridge &bridge, int objc, Tcl_Obj *const objv[]) {
  Tcl_Interp *interp = bridge.interp;
  if (objc < 3 || objc > 6)
    return usage(interp, objv, 2,
                 "NAME ?INCORPORATED? ?INSTANCEMETHODS? ?CLASSMETHODS?");
  std::vector<std::string> incorporated;
  if (objc > 3) {
    int count = 0;
    Tcl_Obj **items = nullptr;
    if (Tcl_ListObjGetElements(interp, objv[3], &count, &items) != TCL_OK)
      return TCL_ERROR;
    for (int i = 0; i < count; ++i)
      incorporated.push_back(Tcl_GetString(items[i]));
  }
  std::vector<zelbridge::MethodDescription> instance, classSide;
  if ((objc > 4 && !descriptions(interp, objv[4], instance)) ||
      (objc > 5 && !descriptions(interp, objv[5], classSide)))
    return TCL_ERROR;
  for (const auto &list : {instance, classSide})
    for (const auto &method : list) {
      std::string error;
      if (!zelbridge::prepare(method.types.c_str(), error))
        return fail(interp, error);
    }
  std::string error;
  Protocol *protocol = zelbridge::createProtocol(
      Tcl_GetString(objv[2]), incorporated, instance, classSide, error);
  if (!protocol)
    return fail(interp, error);
  return succeed(interp, protocolValue(bridge, protocol));
}

int protocolTest(Bridge &bridge, bool structural, int objc,
                 Tcl_Obj *const objv[]) {
  if (objc != 4)
    return usage(bridge.interp, objv, 2, "CLASS PROTOCOL");
  Class cls = nullptr;
  Protocol *protocol = nullptr;
  if (!classArg(bridge, objv[2], cls) ||
      !protocolArg(bridge, objv[3], protocol))
    return TCL_ERROR;
  BOOL answer = structural ? ZelObjC_ImplementsProtocol(cls, protocol)
                           : ZelObjC_ConformsToProtocol(cls, protocol);
  Tcl_SetObjResult(bridge.interp, Tcl_NewBooleanObj(answer != NO));
  return TCL_OK;
}

int protocolCommand(ClientData data, Tcl_Interp *interp, int objc,
                    Tcl_Obj *const objv[]) {
  Bridge &bridge = *static_cast<Bridge *>(data);
  static const char *const subcommands[] = {
      "find", "list", "create", "implements", "conforms", "name", nullptr};
  int index = 0;
  if (objc < 2)
    return usage(interp, objv, 1, "SUBCOMMAND ?ARG ...?");
  if (Tcl_GetIndexFromObj(interp, objv[1], subcommands, "subcommand", 0,
                          &index) != TCL_OK)
    return TCL_ERROR;
  switch (index) {
  case 0: { /* find NAME: the protocol, or "" */
    if (objc != 3)
      return usage(interp, objv, 2, "NAME");
    Protocol *protocol = zelbridge::findProtocol(Tcl_GetString(objv[2]));
    return succeed(interp, protocol ? protocolValue(bridge, protocol)
                                    : bridge.script.newNil());
  }
  case 1: { /* list: names */
    if (objc != 2)
      return usage(interp, objv, 2, "");
    Tcl_Obj *names = Tcl_NewListObj(0, nullptr);
    for (const std::string &name : zelbridge::protocolNames())
      Tcl_ListObjAppendElement(nullptr, names,
                               Tcl_NewStringObj(name.c_str(), -1));
    return succeed(interp, names);
  }
  case 2:
    return protocolCreate(bridge, objc, objv);
  case 3:
  case 4:
    return protocolTest(bridge, index == 3, objc, objv);
  default: { /* name PROTOCOL */
    Protocol *protocol = nullptr;
    if (objc != 3)
      return usage(interp, objv, 2, "PROTOCOL");
    if (!protocolArg(bridge, objv[2], protocol))
      return TCL_ERROR;
    return succeed(interp, Tcl_NewStringObj(protocol->protocol_name, -1));
  }
  }
}

/* ---- objc::cfunction ---- */

struct CFunctionCommand {
  Bridge *bridge;
  std::unique_ptr<zelbridge::Function> function;
};

int callCFunction(ClientData data, Tcl_Interp *interp, int objc,
                  Tcl_Obj *const objv[]) {
  auto &command = *static_cast<CFunctionCommand *>(data);
  ScriptValue result = nullptr;
  std::string error;
  auto args = reinterpret_cast<ScriptValue *>(const_cast<Tcl_Obj **>(objv + 1));
  if (!zelbridge::call(command.bridge->script, *command.function->signature,
                       command.function->address, args, objc - 1, result,
                       error))
    return fail(interp, std::string(Tcl_GetString(objv[0])) + ": " + error);
  return succeed(interp, result);
}

void deleteCFunction(ClientData data) {
  delete static_cast<CFunctionCommand *>(data);
}

int cfunctionCommand(ClientData data, Tcl_Interp *interp, int objc,
                     Tcl_Obj *const objv[]) {
  Bridge &bridge = *static_cast<Bridge *>(data);
  if (objc < 2 || objc > 4)
    return usage(interp, objv, 1, "NAME ?SIGNATURE? ?TCLNAME?");
  const char *name = Tcl_GetString(objv[1]);
  const char *types = objc > 2 ? Tcl_GetString(objv[2]) : "";
  std::string error;
  auto function = zelbridge::cfunction(name, *types ? types : nullptr, error);
  if (!function)
    return fail(interp, error);
  const char *colon = std::strchr(name, ':');
  const char *commandName = objc > 3 ? Tcl_GetString(objv[3])
                                     : (colon ? colon + 1 : name);
  auto *command = new CFunctionCommand{&bridge, std::move(function)};
  Tcl_CreateObjCommand(interp, commandName, callCFunction, command,
                       deleteCFunction);
  return succeed(interp, Tcl_NewStringObj(commandName, -1));
}

/* ---- objc::symbols ---- */

bool tableArg(Tcl_Interp *interp, Tcl_Obj *value, SymbolTable *&table) {
  void *pointer = nullptr;
  if (zelbridge::parsePointer(Tcl_GetString(value), pointer))
    for (SymbolTable *each : zelbridge::loadedSymbolTables())
      if (each == pointer) {
        table = each;
        return true;
      }
  fail(interp, std::string("no symbol table ") + Tcl_GetString(value));
  return false;
}

Tcl_Obj *definition(int kind, const char *name, const char *type) {
  Tcl_Obj *words[3] = {Tcl_NewStringObj(zelbridge::symbolKindName(kind), -1),
                       Tcl_NewStringObj(name, -1),
                       Tcl_NewStringObj(type ? type : "", -1)};
  return Tcl_NewListObj(3, words);
}

void appendDefinition(int kind, const char *name, const char *type,
                      void *context) {
  Tcl_ListObjAppendElement(nullptr, static_cast<Tcl_Obj *>(context),
                           definition(kind, name, type));
}

/* lookup NAME ?TABLE?: {KIND NAME TYPE} from the first table defining it. */
int symbolsLookup(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 3 && objc != 4)
    return usage(interp, objv, 2, "NAME ?TABLE?");
  std::vector<SymbolTable *> tables = zelbridge::loadedSymbolTables();
  if (objc == 4) {
    tables.assign(1, nullptr);
    if (!tableArg(interp, objv[3], tables[0]))
      return TCL_ERROR;
  }
  const char *name = Tcl_GetString(objv[2]);
  for (SymbolTable *table : tables) {
    const char *type = nullptr;
    if (int kind = ZelObjC_LookupSymbol(table, name, &type))
      return succeed(interp, definition(kind, name, type));
  }
  return TCL_OK;
}

int symbolsCommand(ClientData, Tcl_Interp *interp, int objc,
                   Tcl_Obj *const objv[]) {
  static const char *const subcommands[] = {"load", "lookup", "enumerate",
                                            "tables", nullptr};
  int index = 0;
  if (objc < 2)
    return usage(interp, objv, 1, "SUBCOMMAND ?ARG ...?");
  if (Tcl_GetIndexFromObj(interp, objv[1], subcommands, "subcommand", 0,
                          &index) != TCL_OK)
    return TCL_ERROR;
  if (index == 1)
    return symbolsLookup(interp, objc, objv);
  if (index == 3) {
    Tcl_Obj *tables = Tcl_NewListObj(0, nullptr);
    for (SymbolTable *table : zelbridge::loadedSymbolTables())
      Tcl_ListObjAppendElement(
          nullptr, tables,
          Tcl_NewStringObj(zelbridge::formatPointer(table).c_str(), -1));
    return succeed(interp, tables);
  }
  if (objc != 3)
    return usage(interp, objv, 2, index == 0 ? "PATH" : "TABLE");
  if (index == 0) {
    std::string error;
    SymbolTable *table =
        zelbridge::loadSymbols(Tcl_GetString(objv[2]), error);
    if (!table)
      return fail(interp, error);
    return succeed(interp, Tcl_NewStringObj(
                               zelbridge::formatPointer(table).c_str(), -1));
  }
  SymbolTable *table = nullptr;
  if (!tableArg(interp, objv[2], table))
    return TCL_ERROR;
  Tcl_Obj *definitions = Tcl_NewListObj(0, nullptr);
  ZelObjC_EnumerateSymbols(table, appendDefinition, definitions);
  return succeed(interp, definitions);
}

} // namespace

namespace zeltcl {

void installObjcCommands(Tcl_Interp *interp) {
  auto *bridge = new Bridge{interp, {}, false}; /* kept for method bodies */
  Tcl_CallWhenDeleted(interp, interpDeleted, bridge);
  Tcl_CreateNamespace(interp, "::objc", nullptr, nullptr);
  const struct {
    const char *name;
    Tcl_ObjCmdProc *proc;
  } commands[] = {
      {"::objc::class", classCommand},
      {"::objc::send", sendCommand},
      {"::objc::super", superCommand},
      {"::objc::former", formerCommand},
      {"::objc::string", stringCommand},
      {"::objc::defineClass", defineClassCommand},
      {"::objc::method", methodCommand},
      {"::objc::ivar", ivarCommand},
      {"::objc::protocol", protocolCommand},
      {"::objc::cfunction", cfunctionCommand},
      {"::objc::symbols", symbolsCommand},
  };
  for (const auto &command : commands)
    Tcl_CreateObjCommand(interp, command.name, command.proc, bridge, nullptr);
}

} // namespace zeltcl
