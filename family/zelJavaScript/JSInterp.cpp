/* ZELJSInterp: a JavaScript global object as an interpreter. */
#include "js_objects.h"

#include <zelJavaScript/zelJavaScript.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <js/CompilationAndEvaluation.h>
#include <js/PropertyAndElement.h>
#include <js/SourceText.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

using namespace objc_module_records;
using zeljs::InterpObject;

namespace {

id mainInterp_ = nil; /* the first interpreter made, kept for ever */

JSObject *globalOf(id self) {
  JS::PersistentRootedObject *global =
      reinterpret_cast<InterpObject *>(self)->global;
  return global ? global->get() : nullptr;
}

id noEngine() {
  return zeljs::exceptionWithReason("the JavaScript engine could not start");
}

/* Makes the interpreter's global; an exception to raise on failure. */
id makeGlobal(id self) {
  JSContext *cx = zeljs::context();
  if (!cx)
    return noEngine();
  JSObject *global = zeljs::newGlobal(cx);
  if (!global)
    return zeljs::exceptionFromPending(cx);
  reinterpret_cast<InterpObject *>(self)->global =
      new JS::PersistentRootedObject(cx, global);
  return nil;
}

id init(id self, SEL) {
  if (id failure = makeGlobal(self)) {
    objc_send<void>(self, "release");
    objc_send<void>(failure, "raise");
  }
  if (!mainInterp_)
    mainInterp_ = objc_send(self, "retain");
  return self;
}

void dealloc(id self, SEL) {
  if (!zeljs::engineStopped())
    delete reinterpret_cast<InterpObject *>(self)->global;
  zeljs::superDealloc(self);
}

id mainInterp(id self, SEL) {
  if (!mainInterp_)
    objc_send(objc_send(self, "alloc"), "init");  /* kept as the main one */
  return mainInterp_;
}

/* The property on the global; an exception to raise on failure. */
id assign(id self, const char *name, id value) {
  JSContext *cx = zeljs::context();
  JS::RootedObject global(cx, globalOf(self));
  JSAutoRealm realm(cx, global);
  JS::RootedValue rooted(cx, zeljs::valueOf(value));
  if (!JS_WrapValue(cx, &rooted) ||
      !JS_SetProperty(cx, global, name, rooted))
    return zeljs::exceptionFromPending(cx);
  return nil;
}

void setVariable(id self, SEL, id name, id value, BOOL) {
  const char *text = objc_send<const char *>(name, "cString");
  if (id failure = assign(self, text ? text : "", value))
    objc_send<void>(failure, "raise");
}

bool readFile(const char *path, std::string &contents) {
  std::ifstream file(path, std::ios::binary);
  if (!file)
    return false;
  std::ostringstream buffer;
  buffer << file.rdbuf();
  contents = buffer.str();
  return !file.bad();
}

/* Runs the file in the interpreter's realm: its completion value in
   *result, or an exception to raise. */
id evaluateFile(id self, const char *path, id *result) {
  std::string source;
  if (!readFile(path, source))
    return zeljs::exceptionWithReason(std::string("couldn't read file \"") +
                                      path + "\": " + std::strerror(errno));
  JSContext *cx = zeljs::context();
  JS::RootedObject global(cx, globalOf(self));
  JSAutoRealm realm(cx, global);
  JS::CompileOptions options(cx);
  options.setFileAndLine(path, 1);
  JS::SourceText<mozilla::Utf8Unit> text;
  JS::RootedValue value(cx);
  zeljs::Running running;
  if (!text.init(cx, source.data(), source.size(),
                 JS::SourceOwnership::Borrowed) ||
      !JS::Evaluate(cx, options, text, &value))
    return zeljs::exceptionFromPending(cx);
  *result = zeljs::newValue(cx, value);
  return nil;
}

/* What the script printed comes out before the report of its error. */
id sourceFile(id self, SEL, id path) {
  const char *text = path ? objc_send<const char *>(path, "cString") : "";
  id result = nil;
  id failure = evaluateFile(self, text ? text : "", &result);
  std::fflush(stdout);
  if (failure)
    objc_send<void>(failure, "raise");
  return result;
}

MethodList<1> Interp_cmethods = {
    nullptr, 1, {OBJC_METHOD("mainInterp", "@8@0:4", mainInterp)}};
MethodList<4> Interp_imethods = {
    nullptr, 4,
    {OBJC_METHOD("init", "@8@0:4", init),
     OBJC_METHOD("dealloc", "v8@0:4", dealloc),
     OBJC_METHOD("setVariable:toValue:global:", "v20@0:4@8@12c16",
                 setVariable),
     OBJC_METHOD("sourceFile:", "@12@0:4@8", sourceFile)}};

OBJC_CLASS_RECORDS(Interp_class, "ZELJSInterp", "NSObject",
                   sizeof(InterpObject), nullptr, &Interp_imethods,
                   &Interp_cmethods);

OBJC_MODULE_RECORD(Interp_module, 1, 0, &Interp_class);

} // namespace

OBJC_CLASS_SYMBOL(ZELJSInterp);
OBJC_REGISTER_MODULE(Interp_module)

namespace zeljs {

JSObject *mainGlobal() {
  id interp = objc_send_class("ZELJSInterp", "mainInterp");
  return globalOf(interp);
}

} // namespace zeljs
