/* The core's commands bound as the commands of namespace objc (groups
   such as objc::protocol are ensembles), method bodies, C functions and
   handles as commands. */
#include "tcl_bridge.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <string>
#include <vector>

using zelbridge::Handle;
using zelbridge::ScriptValue;
using zeltcl::obj;
using zeltcl::readHandle;

namespace {

int fail(Tcl_Interp *interp, const std::string &message) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
  return TCL_ERROR;
}

const char *text(id string) {
  const char *chars = string ? objc_send<const char *>(string, "cString") : "";
  return chars ? chars : "";
}

/* A failed command or C function call: the original error of a Tcl method
   called through Objective-C (its message and -errorcode), else the
   message with -errorcode {OBJC NAME REASON} for an Objective-C
   exception. */
int failCall(zeltcl::TclScript &script, const std::string &message) {
  Tcl_Interp *interp = script.interp();
  zelbridge::Failure failure = zelbridge::takeFailure(script);
  if (failure.original) {
    auto *saved = static_cast<Tcl_Obj *>(failure.original);
    Tcl_Obj *options = nullptr, *result = nullptr, *code = nullptr;
    Tcl_ListObjIndex(nullptr, saved, 0, &options);
    Tcl_ListObjIndex(nullptr, saved, 1, &result);
    Tcl_Obj *key = Tcl_NewStringObj("-errorcode", -1);
    Tcl_IncrRefCount(key);
    if (options && Tcl_DictObjGet(nullptr, options, key, &code) == TCL_OK &&
        code)
      Tcl_SetObjErrorCode(interp, code);
    Tcl_DecrRefCount(key);
    Tcl_SetObjResult(interp, result ? result : Tcl_NewObj());
    Tcl_DecrRefCount(saved);
    return TCL_ERROR;
  }
  fail(interp, message);
  if (failure.exception)
    Tcl_SetErrorCode(interp, "OBJC", text(objc_send(failure.exception, "name")),
                     text(objc_send(failure.exception, "reason")), nullptr);
  return TCL_ERROR;
}

const char *completionName(int status) {
  switch (status) {
  case TCL_BREAK:
    return "break";
  case TCL_CONTINUE:
    return "continue";
  default:
    return nullptr;
  }
}

/* A nil result leaves the interpreter its own empty result: setting the
   shared nil would make the next reset allocate a new one. */
int succeed(zeltcl::TclScript &script, Tcl_Interp *interp, ScriptValue value) {
  if (script.isSharedNil(value))
    Tcl_ResetResult(interp);
  else
    script.setResult(interp, value);
  return TCL_OK;
}

/* ---- method bodies ---- */

/* An anonymous procedure of self, _cmd and the argument names, run with
   ::apply (which keeps its compiled form). */
class TclMethodBody : public zelbridge::MethodBody {
public:
  TclMethodBody(zeltcl::TclScript &script, Tcl_Obj *lambda)
      : script_(script), lambda_(lambda) {
    Tcl_IncrRefCount(lambda_);
  }
  ~TclMethodBody() override { Tcl_DecrRefCount(lambda_); }

  zelbridge::Script &script() override { return script_; }

  bool run(ScriptValue *args, int argc, ScriptValue &result,
           std::string &error) override {
    Tcl_Interp *interp = script_.interp();
    if (!interp) {
      for (int i = 0; i < argc; ++i)
        script_.discard(args[i]);
      error = "the interpreter of this method was deleted";
      return false;
    }
    std::vector<Tcl_Obj *> words{applyWord(), lambda_};
    for (int i = 0; i < argc; ++i)
      words.push_back(obj(args[i]));
    for (Tcl_Obj *word : words)
      Tcl_IncrRefCount(word);
    Tcl_Preserve(interp);
    int status = Tcl_EvalObjv(interp, static_cast<int>(words.size()),
                              words.data(), TCL_EVAL_GLOBAL);
    for (Tcl_Obj *word : words)
      Tcl_DecrRefCount(word);
    bool ok = status == TCL_OK || status == TCL_RETURN;
    if (ok) {
      result = Tcl_GetObjResult(interp);
    } else if (status == TCL_ERROR) {
      script_.noteFailure(status);
      error = zeltcl::errorReport(interp);
    } else { /* break, continue or a code of the script's own */
      const char *name = completionName(status);
      error = "the method's body ended with " +
              (name ? std::string(name) : "code " + std::to_string(status));
      Tcl_ResetResult(interp);
    }
    Tcl_Release(interp);
    return ok;
  }

private:
  static Tcl_Obj *applyWord() {
    static Tcl_Obj *word = [] {
      Tcl_Obj *name = Tcl_NewStringObj("::apply", -1);
      Tcl_IncrRefCount(name);
      return name;
    }();
    return word;
  }

  zeltcl::TclScript &script_;
  Tcl_Obj *lambda_;
};

/* {{self _cmd NAME...} BODY ::}, without self and _cmd for a callback. */
Tcl_Obj *methodLambda(Tcl_Obj *names, Tcl_Obj *body, bool method) {
  Tcl_Obj *parameters = Tcl_NewListObj(0, nullptr);
  for (const char *name : {"self", "_cmd"})
    if (method)
      Tcl_ListObjAppendElement(nullptr, parameters, Tcl_NewStringObj(name, -1));
  Tcl_ListObjAppendList(nullptr, parameters, names);
  Tcl_Obj *words[3] = {parameters, body, Tcl_NewStringObj("::", -1)};
  return Tcl_NewListObj(3, words);
}

/* ---- C functions as commands ---- */

struct CFunctionCommand {
  zeltcl::TclScript *script;
  std::unique_ptr<zelbridge::Function> function;
};

int callCFunction(ClientData data, Tcl_Interp *interp, int objc,
                  Tcl_Obj *const objv[]) {
  auto &command = *static_cast<CFunctionCommand *>(data);
  ScriptValue result = nullptr;
  std::string error;
  auto args = reinterpret_cast<ScriptValue *>(const_cast<Tcl_Obj **>(objv + 1));
  if (!zelbridge::callFunction(*command.script, *command.function,
                               Tcl_GetString(objv[0]), args, objc - 1, result,
                               error))
    return failCall(*command.script, error);
  return succeed(*command.script, interp, result);
}

void deleteCFunction(ClientData data) {
  delete static_cast<CFunctionCommand *>(data);
}

/* ---- the commands of namespace objc ---- */

struct Bound {
  zeltcl::TclScript *script;
  const zelbridge::Command *command;
};

int dispatch(ClientData data, Tcl_Interp *interp, int objc,
             Tcl_Obj *const objv[]) {
  auto &bound = *static_cast<Bound *>(data);
  const zelbridge::Command &command = *bound.command;
  zelbridge::Script &script = *bound.script;
  if (!zelbridge::arityFits(command, script, objc - 1)) {
    Tcl_WrongNumArgs(interp, 1, objv,
                     zelbridge::usage(command, script, false).c_str());
    return TCL_ERROR;
  }
  ScriptValue result = nullptr;
  std::string error;
  auto args = reinterpret_cast<ScriptValue *>(const_cast<Tcl_Obj **>(objv + 1));
  if (!zelbridge::runCommand(command, script, args, objc - 1, result, error))
    return failCall(*bound.script, error);
  return succeed(*bound.script, interp, result);
}

void unbind(ClientData data) { delete static_cast<Bound *>(data); }

void bind(Tcl_Interp *interp, zeltcl::TclScript *script,
          const std::string &space, const zelbridge::Command *commands) {
  for (const zelbridge::Command *command = commands; command->name; ++command) {
    std::string name = space + "::" + command->name;
    if (command->subcommands) {
      Tcl_Namespace *group =
          Tcl_CreateNamespace(interp, name.c_str(), nullptr, nullptr);
      bind(interp, script, name, command->subcommands);
      Tcl_Export(interp, group, "*", 0);
      Tcl_CreateEnsemble(interp, name.c_str(), group, TCL_ENSEMBLE_PREFIX);
      continue;
    }
    Tcl_CreateObjCommand(interp, name.c_str(), dispatch,
                         new Bound{script, command}, unbind);
  }
}

/* ---- handles as commands ----

   A handle used as a command word ($s appendString: $t) sends the message:
   the global namespace's unknown handler makes a command named after the
   handle the first time, which then holds the object (its value keeps the
   handle's representation) until the script sends it release through the
   command, renames it away, or the interpreter is deleted. */

const zelbridge::Command *commandNamed(const char *name) {
  for (const zelbridge::Command *command = zelbridge::commands(); command->name;
       ++command)
    if (std::strcmp(command->name, name) == 0)
      return command;
  return nullptr;
}

struct HandleCommand {
  zeltcl::TclScript *script;
  Tcl_Obj *handle; /* one reference: the hold on the object */
};

void deleteHandleCommand(ClientData data) {
  auto *command = static_cast<HandleCommand *>(data);
  Tcl_DecrRefCount(command->handle);
  delete command;
}

/* objc::send of the words (the handle's first); releasing, the command
   goes too. */
int sendWords(HandleCommand &command, Tcl_Interp *interp, Tcl_Obj **words,
              int count, Tcl_Obj *name) {
  static const zelbridge::Command *send = commandNamed("send");
  static SEL release = sel_registerName("release");
  bool releasing = command.script->getSelector(words[1]) == release;
  ScriptValue result = nullptr;
  std::string error;
  if (!zelbridge::runCommand(*send, *command.script,
                             reinterpret_cast<ScriptValue *>(words), count,
                             result, error))
    return failCall(*command.script, error);
  succeed(*command.script, interp, result);
  if (releasing) /* the command's own hold goes with it */
    Tcl_DeleteCommandFromToken(interp, Tcl_GetCommandFromObj(interp, name));
  return TCL_OK;
}

/* HANDLE SELECTOR ?ARG ...?: objc::send with the handle as receiver. */
int sendToHandle(ClientData data, Tcl_Interp *interp, int objc,
                 Tcl_Obj *const objv[]) {
  auto &command = *static_cast<HandleCommand *>(data);
  if (objc < 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "SELECTOR ?ARG ...?");
    return TCL_ERROR;
  }
  Tcl_Obj *local[16];
  std::vector<Tcl_Obj *> heap;
  Tcl_Obj **words = local;
  if (objc > 16) {
    heap.resize(static_cast<size_t>(objc));
    words = heap.data();
  }
  words[0] = command.handle;
  std::copy(objv + 1, objv + objc, words + 1);
  return sendWords(command, interp, words, objc, objv[0]);
}

/* The unknown handler of the global namespace: a handle becomes a
   command; any other word goes to Tcl's own ::unknown. */
int unknownCommand(ClientData data, Tcl_Interp *interp, int objc,
                   Tcl_Obj *const objv[]) {
  auto *script = static_cast<zeltcl::TclScript *>(data);
  Handle handle;
  const char *name = objc > 1 ? Tcl_GetString(objv[1]) : "";
  if (objc > 1 && name[0] == '0' && zelbridge::parseHandle(name, handle)) {
    auto *command = new HandleCommand{script, Tcl_DuplicateObj(objv[1])};
    Tcl_IncrRefCount(command->handle);
    readHandle(command->handle, handle);
    std::string qualified = std::string("::") + name;
    Tcl_CreateObjCommand(interp, qualified.c_str(), sendToHandle, command,
                         deleteHandleCommand);
    return sendToHandle(command, interp, objc - 1, objv + 1);
  }
  std::vector<Tcl_Obj *> words(objv, objv + objc);
  words[0] = Tcl_NewStringObj("::unknown", -1);
  Tcl_IncrRefCount(words[0]);
  int status = Tcl_EvalObjv(interp, objc, words.data(), 0);
  Tcl_DecrRefCount(words[0]);
  return status;
}

void interpDeleted(ClientData data, Tcl_Interp *) {
  auto *script = static_cast<zeltcl::TclScript *>(data);
  zelbridge::freeCallbacks(*script);
  script->forgetInterp();
}

} // namespace

namespace zeltcl {

/* {OPTIONS RESULT} of the error a body just failed with. */
void TclScript::noteFailure(int status) {
  if (failed_)
    Tcl_DecrRefCount(failed_);
  Tcl_Obj *parts[2] = {Tcl_GetReturnOptions(interp_, status),
                       Tcl_GetObjResult(interp_)};
  failed_ = Tcl_NewListObj(2, parts);
  Tcl_IncrRefCount(failed_);
}

void *TclScript::keepFailure() { return std::exchange(failed_, nullptr); }

/* The script in the caller's frame (a command's own level). */
bool TclScript::runBlock(ScriptValue block, ScriptValue &result,
                         std::string &error) {
  int status = Tcl_EvalObjEx(interp_, obj(block), 0);
  if (status == TCL_OK || status == TCL_RETURN) {
    result = Tcl_GetObjResult(interp_);
    return true;
  }
  if (status == TCL_ERROR)
    noteFailure(status);
  const char *name = completionName(status);
  error = status == TCL_ERROR ? Tcl_GetStringResult(interp_)
                              : "the script ended with " +
                                    (name ? std::string(name)
                                          : "code " + std::to_string(status));
  return false;
}

void TclScript::dropFailure(void *hold) { Tcl_DecrRefCount(obj(hold)); }

std::unique_ptr<zelbridge::MethodBody>
TclScript::newBody(ScriptValue *words, const char *types, int argumentCount,
                   bool method, std::string &error) {
  int names = 0;
  if (Tcl_ListObjLength(nullptr, obj(words[0]), &names) != TCL_OK) {
    error = std::string("expected a list of argument names but got \"") +
            Tcl_GetString(obj(words[0])) + "\"";
    return nullptr;
  }
  if (names != argumentCount) {
    error = std::string("wrong number of argument names: \"") + types +
            "\" takes " + std::to_string(argumentCount) +
            (method ? " besides self and _cmd" : "");
    return nullptr;
  }
  return std::make_unique<TclMethodBody>(
      *this, methodLambda(obj(words[0]), obj(words[1]), method));
}

ScriptValue
TclScript::newFunction(std::unique_ptr<zelbridge::Function> function,
                       const char *name, bool, std::string &) {
  auto *command = new CFunctionCommand{this, std::move(function)};
  Tcl_CreateObjCommand(interp_, name, callCFunction, command, deleteCFunction);
  return newText(name);
}

TclScript *installObjcCommands(Tcl_Interp *interp) {
  /* Kept for ever: method bodies refer to it after the interpreter. */
  auto *script = new TclScript(interp);
  Tcl_CallWhenDeleted(interp, interpDeleted, script);
  Tcl_CreateNamespace(interp, "::objc", nullptr, nullptr);
  bind(interp, script, "::objc", zelbridge::commands());
  /* Tcl's own spelling of the class listing. */
  Tcl_CreateAlias(interp, "::objc::classes", interp, "::objc::classNames", 0,
                  nullptr);
  Tcl_CreateObjCommand(interp, "::objc::Unknown", unknownCommand, script,
                       nullptr);
  Tcl_Obj *handler = Tcl_NewStringObj("::objc::Unknown", -1);
  Tcl_IncrRefCount(handler);
  Tcl_SetNamespaceUnknownHandler(interp, Tcl_GetGlobalNamespace(interp),
                                 handler);
  Tcl_DecrRefCount(handler);
  Tcl_PkgProvide(interp, "zelTcl", "1.0");
  return script;
}

std::string errorReport(Tcl_Interp *interp) {
  const char *info = Tcl_GetVar2(interp, "errorInfo", nullptr, TCL_GLOBAL_ONLY);
  std::string report = info ? info : Tcl_GetStringResult(interp);
  Tcl_ResetResult(interp);
  return report;
}

} // namespace zeltcl
