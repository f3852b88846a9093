/* Exceptions: per-thread handler frames left with _longjmp, the class
   NSException, and NSAssertionHandler. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "foundation.h"
#include "format.h"

using namespace objc_module_records;

namespace {

NSConstantStringRecord invalidArgumentName = {&_NSConstantStringClassReference,
                                              "NSInvalidArgumentException", 26};
NSConstantStringRecord internalInconsistencyName = {
    &_NSConstantStringClassReference, "NSInternalInconsistencyException", 32};
NSConstantStringRecord rangeName = {&_NSConstantStringClassReference,
                                    "NSRangeException", 16};
NSConstantStringRecord fileHandleOperationName = {
    &_NSConstantStringClassReference, "NSFileHandleOperationException", 30};

/* Initial-exec: every guarded call (each message a bridge sends) pushes and
   pops a frame, and the general model pays a call to find the variable on
   each access; one pointer fits the static TLS a loaded library may use. */
thread_local NSHandler2 *innermostHandler
    __attribute__((tls_model("initial-exec"))) = nullptr;

} // namespace

OBJC_EXPORT id NSInvalidArgumentException =
    reinterpret_cast<id>(&invalidArgumentName);
OBJC_EXPORT id NSInternalInconsistencyException =
    reinterpret_cast<id>(&internalInconsistencyName);
OBJC_EXPORT id NSRangeException = reinterpret_cast<id>(&rangeName);
OBJC_EXPORT id NSFileHandleOperationException =
    reinterpret_cast<id>(&fileHandleOperationName);

/* ======================= Handler frames ======================= */

OBJC_EXPORT void _NSAddHandler(NSHandler2 *handler) noexcept {
  handler->_exception = nil;
  handler->_next = innermostHandler;
  innermostHandler = handler;
}

/* A frame that an exception already unlinked is not in the chain: then
   nothing changes. */
OBJC_EXPORT void _NSRemoveHandler(NSHandler2 *handler) noexcept {
  for (NSHandler2 *frame = innermostHandler; frame; frame = frame->_next) {
    if (frame == handler) {
      innermostHandler = handler->_next;
      return;
    }
  }
}

OBJC_EXPORT id _NSExceptionObjectFromHandler(NSHandler2 *handler) noexcept {
  return handler->_exception;
}

namespace {

[[noreturn]] void abortUncaught(id exception) {
  const char *name = fnd::cString(objc_send(exception, "name"));
  const char *reason = fnd::cString(objc_send(exception, "reason"));
  fprintf(stderr, "Uncaught exception %s: %s\n", name ? name : "(null)",
          reason ? reason : "(null)");
  fflush(stderr);
  abort();
}

} // namespace

OBJC_EXPORT void _NSRaiseException(id exception) {
  NSHandler2 *handler = innermostHandler;
  if (!handler)
    abortUncaught(exception);
  innermostHandler = handler->_next;
  handler->_exception = exception;
  _longjmp(handler->_state, 1);
}

/* ======================= NSException ======================= */

namespace {

struct ExceptionIvars {
  Class isa;
  id name;
  id reason;
  id userInfo;
};

ExceptionIvars *ivarsOf(id self) {
  return reinterpret_cast<ExceptionIvars *>(self);
}

id Exception_initWithNameReasonUserInfo(id self, SEL, id name, id reason,
                                        id userInfo) {
  ExceptionIvars *ivars = ivarsOf(self);
  ivars->name = objc_send(name, "copy");
  ivars->reason = objc_send(reason, "copy");
  ivars->userInfo = fnd::retain(userInfo);
  return self;
}

id Exception_exceptionWithNameReasonUserInfo(id self, SEL, id name, id reason,
                                             id userInfo) {
  id exception = objc_send(self, "alloc");
  exception = objc_send(exception, "initWithName:reason:userInfo:", name,
                        reason, userInfo);
  return fnd::autorelease(exception);
}

void Exception_raiseFormat(id self, SEL, id name, id format, ...) {
  va_list args;
  va_start(args, format);
  id reason = objc_send(objc_send(&fnd::NSStringClass, "alloc"),
                        "initWithFormat:arguments:", format, args);
  va_end(args);
  fnd::autorelease(reason);
  id exception =
      objc_send(self, "exceptionWithName:reason:userInfo:", name, reason, nil);
  objc_send<void>(exception, "raise");
}

void Exception_dealloc(id self, SEL) {
  ExceptionIvars *ivars = ivarsOf(self);
  fnd::release(ivars->name);
  fnd::release(ivars->reason);
  fnd::release(ivars->userInfo);
  object_dispose(self);
}

id Exception_name(id self, SEL) { return ivarsOf(self)->name; }
id Exception_reason(id self, SEL) { return ivarsOf(self)->reason; }
id Exception_userInfo(id self, SEL) { return ivarsOf(self)->userInfo; }

id Exception_description(id self, SEL) {
  return fnd::stringWithFormat("%s: %s", fnd::cString(ivarsOf(self)->name),
                               fnd::cString(ivarsOf(self)->reason));
}

/* Exceptions do not change once made. */
id Exception_copyWithZone(id self, SEL, NSZone *) { return fnd::retain(self); }

void Exception_raise(id self, SEL) { _NSRaiseException(self); }

MethodList<8> Exception_imethods = {
    nullptr,
    8,
    {OBJC_DERIVED_METHOD("initWithName:reason:userInfo:",
                         Exception_initWithNameReasonUserInfo),
     OBJC_DERIVED_METHOD("dealloc", Exception_dealloc),
     OBJC_DERIVED_METHOD("name", Exception_name),
     OBJC_DERIVED_METHOD("reason", Exception_reason),
     OBJC_DERIVED_METHOD("userInfo", Exception_userInfo),
     OBJC_DERIVED_METHOD("description", Exception_description),
     OBJC_DERIVED_METHOD("copyWithZone:", Exception_copyWithZone),
     OBJC_DERIVED_METHOD("raise", Exception_raise)}};

MethodList<2> Exception_cmethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("exceptionWithName:reason:userInfo:",
                         Exception_exceptionWithNameReasonUserInfo),
     OBJC_DERIVED_METHOD("raise:format:", Exception_raiseFormat)}};

IvarList<3> Exception_ivars = {
    3, {{"name", "@", 4}, {"reason", "@", 8}, {"userInfo", "@", 12}}};

OBJC_CLASS_RECORDS(NSExceptionClass, "NSException", "NSObject",
                   sizeof(ExceptionIvars), &Exception_ivars,
                   &Exception_imethods, &Exception_cmethods);

} // namespace

[[noreturn]] void fnd::raise(id name, const char *format, ...) {
  va_list args;
  va_start(args, format);
  TextBuffer text = {nullptr, 0, 0};
  va_list copy;
  va_copy(copy, args);
  textFormat(&text, format, &copy);
  va_end(copy);
  va_end(args);
  id reason =
      fnd::autorelease(newString(text.data ? text.data : "", text.length));
  free(text.data);
  id exception =
      objc_send(&NSExceptionClass, "exceptionWithName:reason:userInfo:", name,
                reason, nil);
  _NSRaiseException(exception);
}

/* ======================= NSAssertionHandler ======================= */

namespace {

thread_local id currentAssertionHandler = nil;

id AssertionHandler_currentHandler(id self, SEL) {
  if (!currentAssertionHandler)
    currentAssertionHandler = objc_send(objc_send(self, "alloc"), "init");
  return currentAssertionHandler;
}

/* The reason names where the assertion failed, then the description. */
[[noreturn]] void failAssertion(const char *where, id file, int line,
                                id description, va_list *args) {
  fnd::TextBuffer text = {nullptr, 0, 0};
  fnd::textAppend(&text, where, static_cast<unsigned>(strlen(where)));
  char position[64];
  snprintf(position, sizeof position, ":%d: ", line);
  const char *fileName = fnd::cString(file);
  fnd::textAppend(&text, " in ", 4);
  fnd::textAppend(&text, fileName ? fileName : "?",
                  fileName ? static_cast<unsigned>(strlen(fileName)) : 1);
  fnd::textAppend(&text, position, static_cast<unsigned>(strlen(position)));
  const char *format = fnd::cString(description);
  fnd::textFormat(&text, format ? format : "", args);
  id reason =
      fnd::autorelease(fnd::newString(text.data ? text.data : "", text.length));
  free(text.data);
  id exception =
      objc_send(&NSExceptionClass, "exceptionWithName:reason:userInfo:",
                NSInternalInconsistencyException, reason, nil);
  _NSRaiseException(exception);
}

void AssertionHandler_failureInFunction(id, SEL, id function, id file, int line,
                                        id description, ...) {
  va_list args;
  va_start(args, description);
  char where[512];
  const char *name = fnd::cString(function);
  snprintf(where, sizeof where, "Assertion failed in %s",
           name ? name : "(unknown function)");
  failAssertion(where, file, line, description, &args);
}

void AssertionHandler_failureInMethod(id, SEL, SEL method, id object, id file,
                                      int line, id description, ...) {
  va_list args;
  va_start(args, description);
  char where[512];
  Class cls = object ? object->isa : Nil;
  snprintf(where, sizeof where, "Assertion failed in -[%s %s]",
           cls ? cls->name : "nil", method ? sel_getName(method) : "?");
  failAssertion(where, file, line, description, &args);
}

MethodList<2> AssertionHandler_imethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("handleFailureInFunction:file:lineNumber:description:",
                         AssertionHandler_failureInFunction),
     OBJC_DERIVED_METHOD(
         "handleFailureInMethod:object:file:lineNumber:description:",
         AssertionHandler_failureInMethod)}};

MethodList<1> AssertionHandler_cmethods = {
    nullptr,
    1,
    {OBJC_DERIVED_METHOD("currentHandler", AssertionHandler_currentHandler)}};

OBJC_CLASS_RECORDS(NSAssertionHandlerClass, "NSAssertionHandler", "NSObject", 4,
                   nullptr, &AssertionHandler_imethods,
                   &AssertionHandler_cmethods);

OBJC_MODULE_RECORD(module, 2, 0, &NSExceptionClass, &NSAssertionHandlerClass);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_CLASS_SYMBOL(NSException);
OBJC_CLASS_SYMBOL(NSAssertionHandler);
