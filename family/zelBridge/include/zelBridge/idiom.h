/** @file
   zelBridge/idiom.h: what the languages share beyond the Script interface
   (included by zelBridge.h): the language classes the kit makes
   (Interpreter, Language, registerLanguage), the idiom of languages whose object handles
   have members (JavaScript, Lua), functions of a language that call a
   command or a C function, method bodies run by a function, languages
   registered by their names, and the names a console completes with. */
#ifndef ZELBRIDGE_IDIOM_H
#define ZELBRIDGE_IDIOM_H

#include <zelBridge/zelBridge.h>

namespace zelbridge {

/* ===================== The language classes ===================== */

/** Frees the callbacks (`callback new`) that run the script's code: a
   language calls it when the script's interpreter is deleted, while the
   script can still be reached. A callback running at that moment is left, and
   refuses to run again. */
void freeCallbacks(Script &script);

/** One interpreter of a language, behind an object of its Interp class. */
class Interpreter {
public:
  virtual ~Interpreter() = default;
  /** The values of this interpreter. */
  virtual Script &script() = 0;
  /** Runs a file, or a text, at global level; its result, or false with
     the language's own report of the error (Tcl's errorInfo, the
     JavaScript stack, the Lua traceback). */
  virtual bool sourceFile(const char *path, ScriptValue &result,
                          std::string &error) = 0;
  /** Runs a text, as sourceFile runs a file. */
  virtual bool evaluate(const char *text, ScriptValue &result,
                        std::string &error) = 0;
  /** Sets a variable (a global one when `global`); false with an error. */
  virtual bool setVariable(const char *name, ScriptValue value, bool global,
                           std::string &error) = 0;
  /** Whether the text is a whole script, not one cut short (an open brace,
     string or block): a console reads on while it is not. */
  virtual bool isComplete(const char *text) {
    (void)text;
    return true;
  }
};

/** What a language tells the kit that makes its classes. */
class Language {
public:
  virtual ~Language() = default;
  /** "Tcl": reports are "Tcl error: REASON". */
  virtual const char *name() = 0;
  /** "ZELTcl": the classes ZELTclInterp, ZELTclValue and ZELTclLanguage. */
  virtual const char *classPrefix() = 0;
  /** "tcl": the extension of its scripts. */
  virtual const char *fileExtension() = 0;
  /** "ZELTclException": the exceptions raised for its errors. */
  virtual const char *exceptionName() = 0;
  /** A new interpreter; null with an error. */
  virtual Interpreter *newInterpreter(std::string &error) = 0;
};

/** Makes the language's classes and registers its language object with
   zelRuntime, once, from the language library's constructor (priority 110
   or later: after the modules are registered). The classes:
   - PREFIXInterp (NSObject): alloc/init make an interpreter, the first one
     is +mainInterp (kept for ever); setVariable:toValue:global: (a value of
     PREFIXValue, or nil), sourceFile: and evaluate: (an NSString), which
     answer a PREFIXValue and raise the language's exception, whose reason
     is the language's report, when the script fails; isCompleteScript: (an
     NSString) whether a console has read a whole script; completionsOf:
     (an NSString) an NSArray of the `completions` of the prefix.
   - PREFIXValue (NSObject): +valueWithInt:, +valueWithPointer:toObjCType:
     (for the type "*" a list of the C strings of a null-terminated vector,
     else the pointer), -description (the value's text).
   - PREFIXLanguage (ZELScriptingLanguage): fileExtension, interpClass,
     valueClass, isResponsibleForException: (an exception of the language's
     name), logException: and presentException: (the reason on stderr).
   The language object lives for the process. */
void registerLanguage(Language *language);

/** The interpreter behind an object of a language's Interp class, or null
   for any other object. */
Interpreter *interpreterOf(id object);

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
