/* The JavaScript language: its interpreters (a global object each) for the
   classes the bridge core makes (ZELJSInterp, ZELJSValue, ZELJSLanguage). */
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

using zelbridge::ScriptValue;

ZEL_EXPORT id ZELJavaScriptException = NSSTR("ZELJavaScriptException");

namespace {

bool readFile(const char *path, std::string &contents) {
  std::ifstream file(path, std::ios::binary);
  if (!file)
    return false;
  std::ostringstream buffer;
  buffer << file.rdbuf();
  contents = buffer.str();
  return !file.bad();
}

class JsInterpreter : public zelbridge::Interpreter {
public:
  JsInterpreter(JSContext *cx, JSObject *global)
      : global_(new JS::PersistentRootedObject(cx, global)) {}
  ~JsInterpreter() override {
    if (zeljs::engineStopped()) /* its roots went with the engine */
      return;
    zelbridge::freeCallbacks(script());
    delete global_;
  }

  zelbridge::Script &script() override {
    return zeljs::scriptOfGlobal(*global_);
  }

  bool sourceFile(const char *path, ScriptValue &result,
                  std::string &error) override {
    std::string source;
    if (!readFile(path, source)) {
      error = std::string("couldn't read file \"") + path +
              "\": " + std::strerror(errno);
      return false;
    }
    bool ok = run(path, source, result, error);
    std::fflush(stdout); /* before the report of an error */
    return ok;
  }

  bool evaluate(const char *text, ScriptValue &result,
                std::string &error) override {
    bool ok = run("(evaluate)", text, result, error);
    std::fflush(stdout);
    return ok;
  }

  /* A property of the global whatever the flag says: a script's top level
     has no other scope. */
  bool setVariable(const char *name, ScriptValue value, bool,
                   std::string &error) override {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, *global_);
    JS::RootedValue rooted(cx, zeljs::lentValue(value));
    if (JS_WrapValue(cx, &rooted) && JS_SetProperty(cx, *global_, name, rooted))
      return true;
    error = zeljs::pendingErrorText(cx);
    return false;
  }

  bool isComplete(const char *text) override {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, *global_);
    JS::RootedObject global(cx, *global_);
    return JS_Utf8BufferIsCompilableUnit(cx, global, text, std::strlen(text));
  }

private:
  bool run(const char *file, const std::string &source, ScriptValue &result,
           std::string &error) {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, *global_);
    JS::CompileOptions options(cx);
    options.setFileAndLine(file, 1);
    JS::SourceText<mozilla::Utf8Unit> text;
    JS::RootedValue value(cx);
    zeljs::Running running;
    if (!text.init(cx, source.data(), source.size(),
                   JS::SourceOwnership::Borrowed) ||
        !JS::Evaluate(cx, options, text, &value)) {
      error = zeljs::pendingErrorText(cx);
      return false;
    }
    result = zeljs::lendValue(cx, value);
    return true;
  }

  JS::PersistentRootedObject *global_;
};

class JsLanguage : public zelbridge::Language {
public:
  const char *name() override { return "JavaScript"; }
  const char *classPrefix() override { return "ZELJS"; }
  const char *fileExtension() override { return "js"; }
  const char *exceptionName() override { return "ZELJavaScriptException"; }
  zelbridge::Interpreter *newInterpreter(std::string &error) override {
    JSContext *cx = zeljs::context();
    if (!cx) {
      error = "the JavaScript engine could not start";
      return nullptr;
    }
    JSObject *global = zeljs::newGlobal(cx);
    if (!global) {
      error = zeljs::pendingErrorText(cx);
      return nullptr;
    }
    return new JsInterpreter(cx, global);
  }
};

/* After the modules are registered (priorities 101 to 103). */
__attribute__((constructor(110))) void registerJavaScript() {
  zelbridge::registerLanguage(new JsLanguage);
}

} // namespace

OBJC_CLASS_SYMBOL(ZELJSInterp);
