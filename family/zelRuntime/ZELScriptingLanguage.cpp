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
    nullptr,
    1,
    {OBJC_METHOD("availableLanguages", "@8@0:4", availableLanguages)}};
MethodList<6> ScriptingLanguage_imethods = {
    nullptr,
    6,
    {OBJC_METHOD("fileExtension", "@8@0:4", noExtension),
     OBJC_METHOD("interpClass", "#8@0:4", noClass),
     OBJC_METHOD("valueClass", "#8@0:4", noClass),
     OBJC_METHOD("isResponsibleForException:", "c12@0:4@8", claimsNothing),
     OBJC_METHOD("logException:", "v12@0:4@8", ignoreException),
     OBJC_METHOD("presentException:", "v12@0:4@8", ignoreException)}};

OBJC_CLASS_RECORDS(ScriptingLanguage_class, "ZELScriptingLanguage", "NSObject",
                   sizeof(id), nullptr, &ScriptingLanguage_imethods,
                   &ScriptingLanguage_cmethods);

/* The framework marker: importing it links a library to this one. */
OBJC_CLASS_RECORDS(Framework_class, "NSFramework_zelRuntime", "NSObject",
                   sizeof(id), nullptr, nullptr, nullptr);

OBJC_MODULE_RECORD(ScriptingLanguage_module, 2, 0, &ScriptingLanguage_class,
                   &Framework_class);

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
