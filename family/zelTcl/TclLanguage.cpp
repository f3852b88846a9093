/* The Tcl language object: what the launcher asks a language, and the
   exceptions raised for Tcl errors. Registered with zelRuntime at load. */
#include "tcl_objects.h"

#include <zelRuntime/zelRuntime.h>
#include <zelTcl/zelTcl.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <cstdio>

using namespace objc_module_records;

ZEL_EXPORT id ZELTclException = NSSTR("ZELTclException");

namespace {

id fileExtension(id, SEL) { return NSSTR("tcl"); }

Class interpClass(id, SEL) {
  return reinterpret_cast<Class>(objc_getClass("ZELTclInterp"));
}

Class valueClass(id, SEL) {
  return reinterpret_cast<Class>(objc_getClass("ZELTclValue"));
}

BOOL isResponsibleForException(id, SEL, id exception) {
  id name = objc_send(exception, "name");
  return name && objc_send<BOOL>(name, "isEqual:", ZELTclException);
}

/* Tcl's error information, on stderr. */
void report(id, SEL, id exception) {
  id reason = objc_send(exception, "reason");
  const char *text = reason ? objc_send<const char *>(reason, "cString") : "";
  std::fprintf(stderr, "Tcl error: %s\n", text ? text : "");
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

OBJC_CLASS_RECORDS(Language_class, "ZELTclLanguage", "ZELScriptingLanguage",
                   sizeof(id), nullptr, &Language_imethods, nullptr);

OBJC_MODULE_RECORD(Language_module, 1, 0, &Language_class);

/* After the modules are registered (priorities 101 to 103). */
__attribute__((constructor(110))) void registerLanguage() {
  id language = objc_send(objc_send_class("ZELTclLanguage", "alloc"), "init");
  ZELRegisterScriptingLanguage(language);
  objc_send<void>(language, "release");
}

} // namespace

OBJC_REGISTER_MODULE(Language_module)

namespace zeltcl {

void raiseError(Tcl_Interp *interp) {
  const char *info = Tcl_GetVar2(interp, "errorInfo", nullptr,
                                 TCL_GLOBAL_ONLY);
  if (!info)
    info = Tcl_GetStringResult(interp);
  id reason = objc_send_class("NSString", "stringWithCString:", info);
  id exception = objc_send_class("NSException",
                                 "exceptionWithName:reason:userInfo:",
                                 ZELTclException, reason, nil);
  objc_send<void>(exception, "raise");
  __builtin_unreachable();
}

} // namespace zeltcl
