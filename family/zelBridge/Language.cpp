/* The classes of a language, made once here for every language: its
   interpreters, its values and its language object, which the launcher
   and the exception presentation talk to.

   Methods that raise do their work in a function that answers the
   exception, so that nothing with a destructor is alive when the raise
   leaves with a longjmp. */
#include "bridge.h"

#include <zelRuntime/zelRuntime.h>
#include <Foundation/Foundation.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zelbridge {

namespace {

/* A registered language and its classes. */
struct Kit {
  Language *language;
  std::string prefix;
  Class interpClass = nullptr;
  Class valueClass = nullptr;
  Class languageClass = nullptr;
  int interpreterOffset = 0; /* of the Interpreter * in an interp */
  int scriptOffset = 0;      /* of the Script * in a value */
  int holdOffset = 0;        /* of the Script's hold in a value */
  id mainInterp = nil;       /* the first interpreter made, kept for ever */
};

std::vector<Kit *> &kits() {
  static auto *all = new std::vector<Kit *>;
  return *all;
}

/* The kit of an object of one of its classes (an instance, a class, or a
   subclass of either). */
Kit *kitOf(id object) {
  if (!object)
    return nullptr;
  Class cls = object->isa;
  bool isClassObject = cls->info & CLS_META;
  for (Kit *kit : kits())
    for (Class mine : {kit->interpClass, kit->valueClass, kit->languageClass})
      if (inherits(cls, isClassObject ? mine->isa : mine))
        return kit;
  return nullptr;
}

template <typename T> T &field(id object, int offset) {
  return *reinterpret_cast<T *>(reinterpret_cast<char *>(object) + offset);
}

id nsString(const char *text) {
  return objc_send_class("NSString", "stringWithCString:", text);
}

const char *cString(id text) {
  const char *chars = text ? objc_send<const char *>(text, "cString") : "";
  return chars ? chars : "";
}

id exceptionNamed(Kit &kit, const std::string &reason) {
  return objc_send_class("NSException", "exceptionWithName:reason:userInfo:",
                         nsString(kit.language->exceptionName()),
                         nsString(reason.c_str()), nil);
}

/* ---- values ---- */

bool isValue(Kit &kit, id object) {
  return isInstanceOf(object, kit.valueClass);
}

/* An autoreleased value object holding the value (a hold of the
   script's). */
id valueObjectOf(Kit &kit, Script &script, void *hold) {
  id object = objc_send(reinterpret_cast<id>(kit.valueClass), "alloc");
  field<Script *>(object, kit.scriptOffset) = &script;
  field<void *>(object, kit.holdOffset) = hold;
  return objc_send(objc_send(object, "init"), "autorelease");
}

id newValueObject(Kit &kit, Script &script, ScriptValue value) {
  return valueObjectOf(kit, script, script.keep(value));
}

Script &mainScript(Kit &kit);

id valueWithInt(id self, SEL, int number) {
  Kit &kit = *kitOf(self);
  Script &script = mainScript(kit);
  size_t mark = script.mark();
  id value = newValueObject(kit, script, script.newInteger(number));
  script.release(mark);
  return value;
}

ScriptValue textsValue(Script &script, char **strings) {
  std::vector<ScriptValue> items;
  for (; strings && *strings; ++strings)
    items.push_back(script.newText(*strings));
  return script.newList(items.data(), static_cast<int>(items.size()));
}

id valueWithPointer(id self, SEL, void *pointer, char *type) {
  Kit &kit = *kitOf(self);
  Script &script = mainScript(kit);
  size_t mark = script.mark();
  bool texts = type && std::strcmp(type, "*") == 0;
  ScriptValue value = texts ? textsValue(script, static_cast<char **>(pointer))
                            : script.newPointer(pointer);
  id object = newValueObject(kit, script, value);
  script.release(mark);
  return object;
}

void superDealloc(id self) {
  SEL selector = sel_registerName("dealloc");
  Method method = class_getInstanceMethod(
      reinterpret_cast<Class>(objc_getClass("NSObject")), selector);
  objc_call_imp<void>(method->method_imp, self, selector);
}

void valueDealloc(id self, SEL) {
  Kit &kit = *kitOf(self);
  if (Script *script = field<Script *>(self, kit.scriptOffset))
    script->unkeep(field<void *>(self, kit.holdOffset));
  superDealloc(self);
}

id valueDescription(id self, SEL) {
  Kit &kit = *kitOf(self);
  Script &script = *field<Script *>(self, kit.scriptOffset);
  size_t mark = script.mark();
  Arena arena;
  id text = nsString(
      script.getText(script.kept(field<void *>(self, kit.holdOffset)), arena));
  script.release(mark);
  return text;
}

/* ---- interpreters ---- */

Interpreter *&interpreterField(Kit &kit, id interp) {
  return field<Interpreter *>(interp, kit.interpreterOffset);
}

id makeInterpreter(id self) {
  Kit &kit = *kitOf(self);
  std::string error;
  Interpreter *interpreter = kit.language->newInterpreter(error);
  if (!interpreter)
    return exceptionNamed(kit, error);
  interpreterField(kit, self) = interpreter;
  if (!kit.mainInterp)
    kit.mainInterp = objc_send(self, "retain");
  return nil;
}

id interpInit(id self, SEL) {
  if (id failure = makeInterpreter(self)) {
    objc_send<void>(self, "release");
    objc_send<void>(failure, "raise");
  }
  return self;
}

void interpDealloc(id self, SEL) {
  Kit &kit = *kitOf(self);
  delete interpreterField(kit, self);
  superDealloc(self);
}

id mainInterp(id self, SEL) {
  Kit &kit = *kitOf(self);
  if (!kit.mainInterp) /* init keeps it as the main one */
    objc_send(objc_send(reinterpret_cast<id>(kit.interpClass), "alloc"),
              "init");
  return kit.mainInterp;
}

Script &mainScript(Kit &kit) {
  id interp = mainInterp(reinterpret_cast<id>(kit.interpClass), nullptr);
  return interpreterField(kit, interp)->script();
}

/* Runs a file (or a text): the result as a value object in *result, or
   the exception to raise. The interpreter is kept until the pool drains,
   so that a script that releases its own interpreter finishes first. */
id runScript(id self, id text, bool file, id *result) {
  objc_send(objc_send(self, "retain"), "autorelease");
  Kit &kit = *kitOf(self);
  Interpreter &interpreter = *interpreterField(kit, self);
  Script &script = interpreter.script();
  size_t mark = script.mark();
  ScriptValue value = nullptr;
  std::string error;
  /* In a pool of its own; the result stays alive for the caller. */
  id pool = openPool();
  bool ok = file ? interpreter.sourceFile(cString(text), value, error)
                 : interpreter.evaluate(cString(text), value, error);
  void *hold = ok ? script.keep(value) : nullptr;
  script.release(mark);
  closePool(pool);
  if (ok)
    *result = valueObjectOf(kit, script, hold);
  return ok ? nil : exceptionNamed(kit, error);
}

id sourceFile(id self, SEL, id path) {
  id result = nil;
  if (id failure = runScript(self, path, true, &result))
    objc_send<void>(failure, "raise");
  return result;
}

id evaluate(id self, SEL, id text) {
  id result = nil;
  if (id failure = runScript(self, text, false, &result))
    objc_send<void>(failure, "raise");
  return result;
}

id assign(id self, id name, id value, BOOL global) {
  objc_send(objc_send(self, "retain"), "autorelease");
  Kit &kit = *kitOf(self);
  if (value && !isValue(kit, value))
    return exceptionNamed(kit, "expected a " + kit.prefix + "Value but got " +
                                   describe(value));
  Interpreter &interpreter = *interpreterField(kit, self);
  Script &script =
      value ? *field<Script *>(value, kit.scriptOffset) : interpreter.script();
  size_t mark = script.mark();
  ScriptValue held = value ? script.kept(field<void *>(value, kit.holdOffset))
                           : script.newNil();
  std::string error;
  bool ok = interpreter.setVariable(cString(name), held, global != NO, error);
  script.release(mark);
  return ok ? nil : exceptionNamed(kit, error);
}

void setVariable(id self, SEL, id name, id value, BOOL global) {
  if (id failure = assign(self, name, value, global))
    objc_send<void>(failure, "raise");
}

BOOL isCompleteScript(id self, SEL, id text) {
  Kit &kit = *kitOf(self);
  return interpreterField(kit, self)->isComplete(cString(text)) ? YES : NO;
}

id completionsOf(id, SEL, id prefix) {
  id array = objc_send_class("NSMutableArray", "array");
  for (const std::string &name : completions(cString(prefix)))
    objc_send<void>(array, "addObject:", nsString(name.c_str()));
  return array;
}

/* ---- the language object ---- */

id fileExtension(id self, SEL) {
  return nsString(kitOf(self)->language->fileExtension());
}

Class interpClass(id self, SEL) { return kitOf(self)->interpClass; }
Class valueClass(id self, SEL) { return kitOf(self)->valueClass; }

BOOL isResponsibleForException(id self, SEL, id exception) {
  id name = exception ? objc_send(exception, "name") : nil;
  return name && std::strcmp(cString(name),
                             kitOf(self)->language->exceptionName()) == 0;
}

/* The reason (the language's report), on stderr. */
void report(id self, SEL, id exception) {
  id reason = exception ? objc_send(exception, "reason") : nil;
  std::fprintf(stderr, "%s error: %s\n", kitOf(self)->language->name(),
               cString(reason));
  std::fflush(stderr);
}

/* ---- making the classes ---- */

struct MethodSpec {
  const char *name;
  const char *types;
  IMP imp;
};

template <typename F> IMP imp(F function) {
  return reinterpret_cast<IMP>(reinterpret_cast<void (*)(void)>(function));
}

/* A method list (malloc'd; the runtime keeps it) attached to cls. */
void attach(Class cls, std::initializer_list<MethodSpec> methods) {
  size_t bytes =
      sizeof(objc_method_list) + (methods.size() - 1) * sizeof(objc_method);
  auto *list = static_cast<objc_method_list *>(std::calloc(1, bytes));
  if (!list)
    std::abort(); /* at load, before anything could run */
  for (const MethodSpec &method : methods) {
    objc_method &record = list->method_list[list->method_count++];
    record.method_name = sel_registerName(method.name);
    record.method_types = method.types;
    record.method_imp = method.imp;
  }
  class_addMethods(cls, list);
}

Class makeClass(const std::string &name, const char *superclass,
                const std::string &ivars) {
  Class cls = ZelObjC_NewClass(
      name.c_str(), reinterpret_cast<Class>(objc_lookUpClass(superclass)),
      ivars.empty() ? nullptr : ivars.c_str());
  if (!cls) {
    std::fprintf(stderr, "cannot make class %s\n", name.c_str());
    std::abort();
  }
  return cls;
}

int offsetOf(Class cls, const char *name) {
  return ZelObjC_GetInstanceVariable(cls, name)->ivar_offset;
}

void makeInterpClass(Kit &kit) {
  std::string name = kit.prefix + "Interp";
  kit.interpClass =
      makeClass(name, "NSObject", "{" + name + "=\"interpreter\"^v}");
  kit.interpreterOffset = offsetOf(kit.interpClass, "interpreter");
  attach(kit.interpClass,
         {{"init", "@8@0:4", imp(interpInit)},
          {"dealloc", "v8@0:4", imp(interpDealloc)},
          {"setVariable:toValue:global:", "v20@0:4@8@12c16", imp(setVariable)},
          {"sourceFile:", "@12@0:4@8", imp(sourceFile)},
          {"evaluate:", "@12@0:4@8", imp(evaluate)},
          {"isCompleteScript:", "c12@0:4@8", imp(isCompleteScript)},
          {"completionsOf:", "@12@0:4@8", imp(completionsOf)}});
  attach(kit.interpClass->isa, {{"mainInterp", "@8@0:4", imp(mainInterp)}});
}

void makeValueClass(Kit &kit) {
  std::string name = kit.prefix + "Value";
  kit.valueClass =
      makeClass(name, "NSObject", "{" + name + "=\"script\"^v\"hold\"^v}");
  kit.scriptOffset = offsetOf(kit.valueClass, "script");
  kit.holdOffset = offsetOf(kit.valueClass, "hold");
  attach(kit.valueClass, {{"dealloc", "v8@0:4", imp(valueDealloc)},
                          {"description", "@8@0:4", imp(valueDescription)}});
  attach(kit.valueClass->isa,
         {{"valueWithInt:", "@12@0:4i8", imp(valueWithInt)},
          {"valueWithPointer:toObjCType:", "@16@0:4^v8*12",
           imp(valueWithPointer)}});
}

void makeLanguageClass(Kit &kit) {
  kit.languageClass =
      makeClass(kit.prefix + "Language", "ZELScriptingLanguage", "");
  attach(kit.languageClass, {{"fileExtension", "@8@0:4", imp(fileExtension)},
                             {"interpClass", "#8@0:4", imp(interpClass)},
                             {"valueClass", "#8@0:4", imp(valueClass)},
                             {"isResponsibleForException:", "c12@0:4@8",
                              imp(isResponsibleForException)},
                             {"logException:", "v12@0:4@8", imp(report)},
                             {"presentException:", "v12@0:4@8", imp(report)}});
}

} // namespace

void registerLanguage(Language *language) {
  auto *kit = new Kit{language, language->classPrefix()};
  makeInterpClass(*kit);
  makeValueClass(*kit);
  makeLanguageClass(*kit);
  kits().push_back(kit);
  id object = objc_send(
      objc_send(reinterpret_cast<id>(kit->languageClass), "alloc"), "init");
  ZELRegisterScriptingLanguage(object);
  objc_send<void>(object, "release");
}

namespace {

/* A language described by its names alone. */
class NamedLanguage : public Language {
public:
  NamedLanguage(const char *name, const char *prefix, const char *extension,
                Interpreter *(*make)(std::string &))
      : name_(name), prefix_(prefix), extension_(extension),
        exception_(std::string(prefix) + "Exception"), make_(make) {}

  const char *name() override { return name_; }
  const char *classPrefix() override { return prefix_; }
  const char *fileExtension() override { return extension_; }
  const char *exceptionName() override { return exception_.c_str(); }
  Interpreter *newInterpreter(std::string &error) override {
    return make_(error);
  }

private:
  const char *name_, *prefix_, *extension_;
  std::string exception_;
  Interpreter *(*make_)(std::string &);
};

} // namespace

void registerLanguage(const char *name, const char *prefix,
                      const char *extension,
                      Interpreter *(*make)(std::string &error)) {
  registerLanguage(new NamedLanguage(name, prefix, extension, make));
}

Interpreter *interpreterOf(id object) {
  Kit *kit = kitOf(object);
  if (!kit || !isInstanceOf(object, kit->interpClass))
    return nullptr;
  return interpreterField(*kit, object);
}

} // namespace zelbridge
