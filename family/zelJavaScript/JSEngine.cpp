/* The engine of zelJavaScript: one context for the process, started on
   first use and shut down at exit; global objects with print and console;
   JavaScript errors as exceptions. */
#include "js_objects.h"

#include <js/CompilationAndEvaluation.h>
#include <js/Conversions.h>
#include <js/ErrorReport.h>
#include <js/Exception.h>
#include <js/Initialization.h>
#include <js/PropertyAndElement.h>
#include <js/Stack.h>
#include <js/String.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

JSContext *engine = nullptr;
bool stopped = false;
int running = 0;

/* Deep recursion in a script ends in "too much recursion" well before the
   main thread's stack (8 MB by default) runs out. */
const size_t stackQuota = 1024 * 1024;

JSClass globalClass = {"global",
                       JSCLASS_GLOBAL_FLAGS,
                       &JS::DefaultGlobalClassOps,
                       nullptr,
                       nullptr,
                       nullptr};

JS::PersistentRootedObject *firstGlobal = nullptr; /* its compartment */

/* Tears the engine down at exit. An exit called from inside a script
   (a C function it reached) leaves the engine's frames on the stack: it can
   be neither torn down nor left to the engine's own static destructors,
   which refuse a runtime still in use, so the process ends right here with
   the status it was given, its streams flushed. */
void stopEngine(int status, void *) {
  if (!engine)
    return;
  if (running > 0) {
    std::fflush(nullptr);
    _exit(status);
  }
  stopped = true;
  delete firstGlobal;
  firstGlobal = nullptr;
  JS_DestroyContext(engine);
  engine = nullptr;
  JS_ShutDown();
}

JSContext *startEngine() {
  if (!JS_Init())
    return nullptr;
  JSContext *cx = JS_NewContext(JS::DefaultHeapMaxBytes);
  if (!cx)
    return nullptr;
  JS_SetNativeStackQuota(cx, stackQuota);
  if (!JS::InitSelfHostedCode(cx)) {
    JS_DestroyContext(cx);
    return nullptr;
  }
  return cx;
}

/* One line of the arguments, converted as String() would, separated by
   spaces. */
bool writeLine(JSContext *cx, unsigned argc, JS::Value *vp, FILE *stream) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  std::string line;
  for (unsigned i = 0; i < args.length(); ++i) {
    std::string text;
    if (!zeljs::textOf(cx, args[i], text))
      return false;
    if (i > 0)
      line += ' ';
    line += text;
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stream);
  args.rval().setUndefined();
  return true;
}

bool print(JSContext *cx, unsigned argc, JS::Value *vp) {
  return writeLine(cx, argc, vp, stdout);
}

bool printError(JSContext *cx, unsigned argc, JS::Value *vp) {
  return writeLine(cx, argc, vp, stderr);
}

/* exit(N) and quit(N), as the engine's own shell has them: the process
   ends with status N (0 without one). */
bool exitProcess(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  int32_t status = 0;
  if (args.length() > 0 && !JS::ToInt32(cx, args[0], &status))
    return false;
  std::fflush(nullptr);
  std::exit(status);
}

/* gc(): a full collection, as the engine's own shell has it. */
bool collect(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  JS_GC(cx);
  args.rval().setUndefined();
  return true;
}

bool defineConsole(JSContext *cx, JS::HandleObject global) {
  JS::RootedObject console(cx, JS_NewPlainObject(cx));
  return console && JS_DefineFunction(cx, console, "log", print, 0, 0) &&
         JS_DefineFunction(cx, console, "info", print, 0, 0) &&
         JS_DefineFunction(cx, console, "warn", printError, 0, 0) &&
         JS_DefineFunction(cx, console, "error", printError, 0, 0) &&
         JS_DefineProperty(cx, global, "console", console, 0) &&
         JS_DefineFunction(cx, global, "print", print, 0, 0) &&
         JS_DefineFunction(cx, global, "exit", exitProcess, 1, 0) &&
         JS_DefineFunction(cx, global, "quit", exitProcess, 1, 0) &&
         JS_DefineFunction(cx, global, "gc", collect, 0, 0);
}

std::string utf8(JSContext *cx, JSString *string) {
  JS::RootedString rooted(cx, string);
  JS::UniqueChars chars = JS_EncodeStringToUTF8(cx, rooted);
  return chars ? chars.get() : "";
}

/* The stack of an error, one frame a line ("name@file:line:column"). */
std::string stackText(JSContext *cx, JS::HandleObject stack) {
  if (!stack)
    return "";
  JS::RootedString text(cx);
  if (!JS::BuildStackString(cx, nullptr, stack, &text)) {
    JS_ClearPendingException(cx);
    return "";
  }
  return utf8(cx, text);
}

std::string describeReport(const JS::ErrorReportBuilder &builder) {
  std::string reason;
  const JSErrorReport *report = builder.report();
  if (report && report->filename) {
    reason += report->filename;
    reason += ':' + std::to_string(report->lineno) + ": ";
  }
  const char *message = builder.toStringResult().c_str();
  reason += message ? message : "unknown error";
  return reason;
}

/* The reason text of the pending error, which is taken off the context. */
std::string pendingReason(JSContext *cx) {
  if (!JS_IsExceptionPending(cx))
    return "uncatchable error (out of memory or the script was stopped)";
  JS::ExceptionStack exception(cx);
  if (!JS::StealPendingExceptionStack(cx, &exception)) {
    JS_ClearPendingException(cx);
    return "error (its details were lost)";
  }
  JS::ErrorReportBuilder builder(cx);
  if (!builder.init(cx, exception, JS::ErrorReportBuilder::WithSideEffects)) {
    JS_ClearPendingException(cx);
    return "error (its report could not be made)";
  }
  std::string reason = describeReport(builder);
  std::string stack = stackText(cx, exception.stack());
  if (!stack.empty())
    reason += "\n" + stack;
  while (!reason.empty() && reason.back() == '\n')
    reason.pop_back();
  return reason;
}

} // namespace

namespace zeljs {

JSContext *context() {
  if (!engine && !stopped) {
    engine = startEngine();
    if (engine)
      on_exit(stopEngine, nullptr);
  }
  return engine;
}

bool engineStopped() { return stopped; }

Running::Running() { ++running; }
Running::~Running() { --running; }

JSObject *newGlobal(JSContext *cx) {
  JS::RealmOptions options;
  if (firstGlobal)
    options.creationOptions().setExistingCompartment(*firstGlobal);
  JS::RootedObject global(cx,
                          JS_NewGlobalObject(cx, &globalClass, nullptr,
                                             JS::FireOnNewGlobalHook, options));
  if (!global)
    return nullptr;
  JSAutoRealm realm(cx, global);
  if (!JS::InitRealmStandardClasses(cx) || !defineConsole(cx, global) ||
      !installObjc(cx, global))
    return nullptr;
  if (!firstGlobal)
    firstGlobal = new JS::PersistentRootedObject(cx, global);
  return global;
}

bool textOf(JSContext *cx, JS::HandleValue value, std::string &text) {
  JS::RootedString string(cx, JS::ToString(cx, value));
  if (!string)
    return false;
  JSLinearString *linear = JS_EnsureLinearString(cx, string);
  JS::UniqueChars chars = JS_EncodeStringToUTF8(cx, string);
  if (!linear || !chars)
    return false;
  /* The length counts the NULs inside the text too. */
  text.assign(chars.get(), JS::GetDeflatedUTF8StringLength(linear));
  return true;
}

std::string pendingErrorText(JSContext *cx) { return pendingReason(cx); }

JSString *newString(JSContext *cx, const char *text) {
  return newString(cx, text, std::strlen(text));
}

/* Bytes that are not UTF-8 arrive as Latin-1, a character a byte. */
JSString *newString(JSContext *cx, const char *text, size_t length) {
  JS::UTF8Chars chars(text, length);
  if (JSString *string = JS_NewStringCopyUTF8N(cx, chars))
    return string;
  JS_ClearPendingException(cx);
  return JS_NewStringCopyN(cx, text, length);
}

} // namespace zeljs
