/* The JavaScript language object: what the launcher asks a language, and
   the exceptions raised for JavaScript errors. Registered with zelRuntime
   at load. */
#include "js_objects.h"

#include <zelRuntime/zelRuntime.h>
#include <zelJavaScript/zelJavaScript.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <cstdio>

using namespace objc_module_records;

ZEL_EXPORT id ZELJavaScriptException = NSSTR("ZELJavaScriptException");

namespace {

id fileExtension(id, SEL) { return NSSTR("js"); }

Class interpClass(id, SEL) {
  return reinterpret_cast<Class>(objc_getClass("ZELJSInterp"));
}

Class valueClass(id, SEL) {
  return reinterpret_cast<Class>(objc_getClass("ZELJSValue"));
}

BOOL isResponsibleForException(id, SEL, id exception) {
  id name = exception ? objc_send(exception, "name") : nil;
  return name && objc_send<BOOL>(name, "isEqual:", ZELJavaScriptException);
}

/* The error's place, message and stack, on stderr. */
void report(id, SEL, id exception) {
  id reason = exception ? objc_send(exception, "reason") : nil;
  const char *text = reason ? objc_send<const char *>(reason, "cString") : "";
  std::fprintf(stderr, "JavaScript error: %s\n", text ? text : "");
  std::fflush(stderr);
}

MethodList<6> Language_imethods = {
    nullptr, 6,
    {OBJC_METHOD("fileExtension", "@8@0:4", fileExtension),
     OBJC_METHOD("interpClass", "#8@0:4", interpClass),
     OBJC_METHOD("valueClass", "#8@0:4", valueClass),
     OBJC_METHOD("isResponsibleForException:", "c12@0:4@8",
                 isResponsibleForException),
     OBJC_METHOD("logException:", "v12@0:4@8", report),
     OBJC_METHOD("presentException:", "v12@0:4@8", report)}};

OBJC_CLASS_RECORDS(Language_class, "ZELJSLanguage", "ZELScriptingLanguage",
                   sizeof(id), nullptr, &Language_imethods, nullptr);

OBJC_MODULE_RECORD(Language_module, 1, 0, &Language_class);

/* After the modules are registered (priorities 101 to 103). */
__attribute__((constructor(110))) void registerLanguage() {
  id language = objc_send(objc_send_class("ZELJSLanguage", "alloc"), "init");
  ZELRegisterScriptingLanguage(language);
  objc_send<void>(language, "release");
}

} // namespace

OBJC_REGISTER_MODULE(Language_module)
