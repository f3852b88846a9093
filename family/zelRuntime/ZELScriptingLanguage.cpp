/* The registry of scripting languages and the class ZELScriptingLanguage,
   which answers the registered languages in registration order. */
#include <zelRuntime/zelRuntime.h>

#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <algorithm>
#include <vector>

using namespace objc_module_records;

namespace {

/* Made on first use and never freed: languages stay registered until the
   process ends, and nothing runs after a static destructor would. */
std::vector<id> &languages() {
  static auto *registered = new std::vector<id>;
  return *registered;
}

/* An autoreleased array holding the registered languages, so that a walk
   over it is not disturbed by registrations made meanwhile. */
id availableLanguages(id, SEL) {
  id list = objc_send(objc_send_class("NSMutableArray", "alloc"), "init");
  for (id language : languages())
    objc_send<void>(list, "addObject:", language);
  return objc_send(list, "autorelease");
}

/* Defaults for languages that do not override them. */
id noExtension(id, SEL) { return nil; }
Class noClass(id, SEL) { return Nil; }
BOOL claimsNothing(id, SEL, id) { return NO; }
void ignoreException(id, SEL, id) {}

MethodList<1> ScriptingLanguage_cmethods = {
    nullptr, 1,
    {OBJC_METHOD("availableLanguages", "@8@0:4", availableLanguages)}};
MethodList<6> ScriptingLanguage_imethods = {
    nullptr, 6,
    {OBJC_METHOD("fileExtension", "@8@0:4", noExtension),
     OBJC_METHOD("interpClass", "#8@0:4", noClass),
     OBJC_METHOD("valueClass", "#8@0:4", noClass),
     OBJC_METHOD("isResponsibleForException:", "c12@0:4@8", claimsNothing),
     OBJC_METHOD("logException:", "v12@0:4@8", ignoreException),
     OBJC_METHOD("presentException:", "v12@0:4@8", ignoreException)}};

struct objc_class ScriptingLanguage_meta = {
    nullptr, nullptr, "ZELScriptingLanguage", 0, CLS_META,
    sizeof(struct objc_class), nullptr,
    OBJC_MODULE_METHODS(ScriptingLanguage_cmethods), nullptr, nullptr};
struct objc_class ScriptingLanguage_class = {
    &ScriptingLanguage_meta, OBJC_SUPER_NAME("NSObject"),
    "ZELScriptingLanguage", 0, CLS_CLASS, sizeof(id), nullptr,
    OBJC_MODULE_METHODS(ScriptingLanguage_imethods), nullptr, nullptr};

/* The framework marker: importing it links a library to this one. */
struct objc_class Framework_meta = {
    nullptr, nullptr, "NSFramework_zelRuntime", 0, CLS_META,
    sizeof(struct objc_class), nullptr, nullptr, nullptr, nullptr};
struct objc_class Framework_class = {
    &Framework_meta, OBJC_SUPER_NAME("NSObject"), "NSFramework_zelRuntime",
    0, CLS_CLASS, sizeof(id), nullptr, nullptr, nullptr, nullptr};

Symtab<2> ScriptingLanguage_symtab = {
    0, nullptr, 2, 0, {&ScriptingLanguage_class, &Framework_class}};
struct objc_module ScriptingLanguage_module = {
    OBJC_MODULE_VERSION, sizeof(struct objc_module), __FILE__,
    reinterpret_cast<struct objc_symtab *>(&ScriptingLanguage_symtab)};

} // namespace

OBJC_CLASS_SYMBOL(ZELScriptingLanguage);
OBJC_CLASS_SYMBOL(NSFramework_zelRuntime);
OBJC_REGISTER_MODULE(ScriptingLanguage_module)
OBJC_LIBRARY_REGISTRATION()

ZEL_EXPORT void ZELRegisterScriptingLanguage(id language) noexcept {
  auto &list = languages();
  if (!language || std::find(list.begin(), list.end(), language) != list.end())
    return;
  list.push_back(objc_send(language, "retain"));
}

ZEL_EXPORT void ZELUnregisterScriptingLanguage(id language) noexcept {
  auto &list = languages();
  auto found = std::find(list.begin(), list.end(), language);
  if (found == list.end())
    return;
  list.erase(found);
  objc_send<void>(language, "release");
}
