/* The Tcl language: its interpreters for the classes the bridge core makes
   (ZELTclInterp, ZELTclValue, ZELTclLanguage), the library's marker class,
   and the package entry for a tclsh that loads the library. */
#include "tcl_bridge.h"

#include <zelTcl/zelTcl.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <initializer_list>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

using namespace objc_module_records;
using zelbridge::ScriptValue;

ZEL_EXPORT id ZELTclException = NSSTR("ZELTclException");

namespace {

extern "C" int Zeltcl_SafeInit(Tcl_Interp *interp);

/* The folder of this library's package index (beside the library). */
std::string packageFolder() {
  Dl_info info;
  if (!dladdr(reinterpret_cast<void *>(&Zeltcl_SafeInit), &info) ||
      !info.dli_fname)
    return "";
  std::string library = info.dli_fname;
  size_t slash = library.rfind('/');
  return slash == std::string::npos ? "." : library.substr(0, slash);
}

/* Readies Tcl's encodings and script library, once per process, with the
   program's path for `info nameofexecutable`; the interpreters of this
   process, child interpreters included, find the package zelTcl (and
   `load {} Zeltcl` works in any of them). */
void prepareTcl() {
  static bool prepared = false;
  if (prepared)
    return;
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  path[length > 0 ? length : 0] = '\0';
  Tcl_FindExecutable(length > 0 ? path : nullptr);
  std::string folders = packageFolder();
  if (const char *given = std::getenv("TCLLIBPATH"))
    folders = std::string(given) + " " + folders;
  setenv("TCLLIBPATH", folders.c_str(), 1);
  Tcl_StaticPackage(nullptr, "Zeltcl", Zeltcl_Init, Zeltcl_SafeInit);
  prepared = true;
}

void flushStandardChannels() {
  for (int type : {TCL_STDOUT, TCL_STDERR})
    if (Tcl_Channel channel = Tcl_GetStdChannel(type))
      Tcl_Flush(channel);
}

class TclInterpreter : public zelbridge::Interpreter {
public:
  TclInterpreter() {
    prepareTcl();
    interp_ = Tcl_CreateInterp();
    if (Tcl_Init(interp_) != TCL_OK) /* the built-in commands still work */
      Tcl_ResetResult(interp_);
    script_ = zeltcl::installObjcCommands(interp_);
  }
  /* Deleted only once no script of it runs any more (Tcl_Preserve). */
  ~TclInterpreter() override { Tcl_DeleteInterp(interp_); }

  zelbridge::Script &script() override { return *script_; }

  /* argv0 names the file, as in tclsh. */
  bool sourceFile(const char *path, ScriptValue &result,
                  std::string &error) override {
    Tcl_Preserve(interp_);
    Tcl_SetVar2(interp_, "argv0", nullptr, path, TCL_GLOBAL_ONLY);
    int status = Tcl_EvalFile(interp_, path);
    return finish(status, result, error);
  }

  bool evaluate(const char *text, ScriptValue &result,
                std::string &error) override {
    Tcl_Preserve(interp_);
    int status = Tcl_EvalEx(interp_, text, -1, TCL_EVAL_GLOBAL);
    return finish(status, result, error);
  }

  bool setVariable(const char *name, ScriptValue value, bool global,
                   std::string &error) override {
    int flags = TCL_LEAVE_ERR_MSG | (global ? TCL_GLOBAL_ONLY : 0);
    if (Tcl_SetVar2Ex(interp_, name, nullptr, static_cast<Tcl_Obj *>(value),
                      flags))
      return true;
    error = zeltcl::errorReport(interp_);
    return false;
  }

  bool isComplete(const char *text) override {
    return Tcl_CommandComplete(text) != 0;
  }

private:
  /* What the script printed comes out before the report of its error. */
  bool finish(int status, ScriptValue &result, std::string &error) {
    flushStandardChannels();
    bool ok = status != TCL_ERROR;
    if (ok)
      result = Tcl_GetObjResult(interp_);
    else
      error = zeltcl::errorReport(interp_);
    Tcl_Release(interp_);
    return ok;
  }

  Tcl_Interp *interp_;
  zeltcl::TclScript *script_;
};

class TclLanguage : public zelbridge::Language {
public:
  const char *name() override { return "Tcl"; }
  const char *classPrefix() override { return "ZELTcl"; }
  const char *fileExtension() override { return "tcl"; }
  const char *exceptionName() override { return "ZELTclException"; }
  zelbridge::Interpreter *newInterpreter(std::string &) override {
    return new TclInterpreter;
  }
};

/* After the modules are registered (priorities 101 to 103). */
__attribute__((constructor(110))) void registerTcl() {
  zelbridge::registerLanguage(new TclLanguage);
}

/* The framework marker: importing it links a library to this one. */
OBJC_CLASS_RECORDS(Framework_class, "NSFramework_zelTcl", "NSObject",
                   sizeof(id), nullptr, nullptr, nullptr);

OBJC_MODULE_RECORD(Framework_module, 1, 0, &Framework_class);

} // namespace

OBJC_CLASS_SYMBOL(ZELTclInterp);
OBJC_CLASS_SYMBOL(NSFramework_zelTcl);
OBJC_REGISTER_MODULE(Framework_module)
OBJC_LIBRARY_REGISTRATION()

/* `package require zelTcl` (or `load libzelTcl.so`) in a tclsh: the objc
   commands in that interpreter. Objects autoreleased by its commands go to
   a pool made at the first load, which lasts as long as the process. */
extern "C" ZEL_EXPORT int Zeltcl_Init(Tcl_Interp *interp) {
  static id pool =
      objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  (void)pool;
  zeltcl::installObjcCommands(interp);
  return TCL_OK;
}

/* A safe interpreter gets no bridge: every command could reach memory. */
extern "C" ZEL_EXPORT int Zeltcl_SafeInit(Tcl_Interp *interp) {
  Tcl_SetObjResult(interp,
                   Tcl_NewStringObj("zelTcl cannot be loaded into a safe "
                                    "interpreter",
                                    -1));
  return TCL_ERROR;
}
