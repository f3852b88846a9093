/** @file
   zelBridge/idiom.h: what the languages share beyond the Script interface
   (included by zelBridge.h): the idiom of languages whose object handles
   have members (JavaScript, Lua), functions of a language that call a
   command or a C function, method bodies run by a function, languages
   registered by their names, and the names a console completes with. */
#ifndef ZELBRIDGE_IDIOM_H
#define ZELBRIDGE_IDIOM_H

#include <zelBridge/zelBridge.h>

namespace zelbridge {

/** A method body of the script that calls `run` as MethodBody::run: for
   a language that keeps its bodies as it likes. */
template <typename Run> class FunctionBody : public MethodBody {
public:
  /** The body runs `run` with the script's values. */
  FunctionBody(Script &script, Run run) : script_(script), run_(run) {}
  Script &script() override { return script_; }
  bool run(ScriptValue *args, int argc, ScriptValue &result,
           std::string &error) override {
    return run_(args, argc, result, error);
  }

private:
  Script &script_;
  Run run_;
};

/** A FunctionBody of the script. */
template <typename Run>
std::unique_ptr<MethodBody> functionBody(Script &script, Run run) {
  return std::make_unique<FunctionBody<Run>>(script, run);
}

/* ===================== Objects in a language's idiom =====================
   For languages whose handles have members (JavaScript, Lua): `h.NAME`
   sends a selector, `h.$NAME` tells about the object. */

/** The selector a member name spells, `_` standing for `:`
   ("appendString_" gives "appendString:"). */
std::string selectorOfMember(const char *name);
/** The value of a $-member of the object the value holds: $className (a
   text), $class, $superclass, $methods and $ownMethods (texts "- SELECTOR"
   for the instance side, then "+ SELECTOR"; the nearest definition of each
   selector, only the class's own with $ownMethods), $handle (the value
   itself); nil for any other name. ($ivars, an object whose fields are the
   instance variables, is the language's.) */
bool specialMember(Script &script, ScriptValue value, const char *name,
                   ScriptValue &result, std::string &error);
/** How a handle shows when it has no description of its own: describe's
   text, or "<object 0x... was freed>". */
std::string describeHandle(const Handle &handle);
/** How a handle shows as text in the script: the object's description
   (sent through the bridge), or describeHandle's text when that fails or
   answers no text. */
std::string descriptionOf(Script &script, const Handle &handle);
/** The report of a command called as a function with arguments that do not
   fit it: "PATH: expected (USAGE) but got N arguments". */
std::string arityMessage(const Command &command, Script &script,
                         const std::string &path, int argc);
/** The fields of the error a failed call raises in the script when an
   Objective-C exception caused it (`failure.exception` set): a record of
   the texts name, reason and message (the whole report) and the object
   exception. */
ScriptValue failureRecord(Script &script, const Failure &failure,
                          const std::string &message);

/** Runs a command a script called as the function PATH: a count of
   arguments that does not fit it fails with arityMessage's report. */
bool callCommand(const Command &command, Script &script,
                 const std::string &path, ScriptValue *args, int argc,
                 ScriptValue &result, std::string &error);

/** What one function of the language calls: a command under the name
   scripts call it by, or a C function (see `callable`). */
class Callable {
public:
  virtual ~Callable() = default;
  /** Runs with the arguments, as runCommand or callFunction does. */
  virtual bool call(Script &script, ScriptValue *args, int argc,
                    ScriptValue &result, std::string &error) = 0;
};
/** The command called as the function PATH (see callCommand). */
std::unique_ptr<Callable> callable(const Command &command, std::string path);
/** The C function called as NAME (see callFunction). */
std::unique_ptr<Callable> callable(std::unique_ptr<Function> function,
                                   std::string name);

/** Whether a decimal text (newWideInteger's) fits in 64 signed bits, and
   its value then. */
bool signedDecimal(const char *decimal, long long &value);

/** For a console's completion: the class names and selectors ("NSString",
   "stringWithCString:") that begin with the prefix, sorted. Collected at
   the first call, again after classes were added or this bridge attached
   methods. */
std::vector<std::string> completions(const char *prefix);

/** registerLanguage for a language whose exceptions are named PREFIX
   "Exception" and whose interpreters `make` makes. */
void registerLanguage(const char *name, const char *prefix,
                      const char *extension,
                      Interpreter *(*make)(std::string &error));

} // namespace zelbridge

#endif
