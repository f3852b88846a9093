/* zel: runs a script in Tcl, JavaScript or Lua with the Objective-C bridge,
   or a console.

     zel [-l tcl|js|lua] [-e TEXT] [-i] [FILE [ARG ...]]

   The program links Tcl only; another language's library is loaded when a
   script of that language runs, so a Tcl script never starts the
   JavaScript engine. Everything goes through the language's interpreter
   object (mainInterp, sourceFile:, evaluate:, setVariable:toValue:global:,
   isCompleteScript:, completionsOf:), as an application's launcher does.
   The console's Tab completes class names and selectors. */
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <editline/readline.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

OBJC_IMPORT_CLASS(NSFramework_zelTcl);
OBJC_LIBRARY_REGISTRATION()

namespace {

struct ScriptLanguage {
  const char *name;    /* as -l names it, and the file extension */
  const char *library; /* loaded on first use; null: linked */
  const char *built;   /* where the build made it */
  const char *interpClass;
  /* Turns the variable zelArgs (FILE, then the arguments) into the
     language's own shell conventions. */
  const char *arguments;
  const char *noResult; /* the text of a result not worth printing */
  /* Whether selectors are spelt as members, `_` for `:` (JavaScript and
     Lua, where `:` and `.` are between words); else `:` is in words. */
  bool memberSpelling;
};

const ScriptLanguage languages[] = {
    {"tcl", nullptr, nullptr, "ZELTclInterp",
     "set argv [lrange $zelArgs 1 end]; set argc [llength $argv]\n"
     "if {![info exists argv0]} {set argv0 [lindex $zelArgs 0]}\n"
     "unset zelArgs",
     "", false},
    {"js", ZEL_JAVASCRIPT_LIBRARY, ZEL_JAVASCRIPT_BUILT, "ZELJSInterp",
     "var scriptPath = zelArgs[0], scriptArgs = zelArgs.slice(1);\n"
     "delete globalThis.zelArgs; undefined",
     "undefined", true},
    {"lua", ZEL_LUA_LIBRARY, ZEL_LUA_BUILT, "ZELLuaInterp",
     "local all = zelArgs; arg = {[0] = all[1]}\n"
     "for i = 2, #all do arg[i - 1] = all[i] end\nzelArgs = nil",
     "nil", true},
};

int usage() {
  std::fprintf(
      stderr,
      "usage: zel [-l tcl|js|lua] [-e TEXT] [-i] [-c LINE] [FILE [ARG ...]]\n");
  return 2;
}

const ScriptLanguage *languageNamed(const std::string &name) {
  for (const ScriptLanguage &language : languages)
    if (name == language.name)
      return &language;
  return nullptr;
}

const ScriptLanguage *languageOfFile(const std::string &path) {
  size_t dot = path.rfind('.');
  size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return nullptr;
  return languageNamed(path.substr(dot + 1));
}

id nsString(const std::string &text) {
  return objc_send_class("NSString", "stringWithCString:", text.c_str());
}

std::string text(id string) {
  const char *chars = string ? objc_send<const char *>(string, "cString") : "";
  return chars ? chars : "";
}

extern "C" int Zeltcl_Init(struct Tcl_Interp *interp);

/* The language's library: by its name through the program's run path,
   else beside zelTcl (installed, every library is in one folder), else
   where the build made it. (A sanitizer's dlopen does not see the
   program's run path.) */
bool loadLanguage(const ScriptLanguage &language) {
  const int mode = RTLD_NOW | RTLD_GLOBAL;
  if (dlopen(language.library, mode))
    return true;
  std::string error = dlerror();
  Dl_info info;
  if (dladdr(reinterpret_cast<void *>(&Zeltcl_Init), &info) && info.dli_fname) {
    std::string beside = info.dli_fname;
    beside = beside.substr(0, beside.rfind('/') + 1) + language.library;
    if (dlopen(beside.c_str(), mode))
      return true;
  }
  if (dlopen(language.built, mode))
    return true;
  std::fprintf(stderr, "zel: cannot load the %s language: %s\n", language.name,
               error.c_str());
  return false;
}

/* The language's main interpreter, its library loaded first; nil with a
   message on failure. */
id interpreterOf(const ScriptLanguage &language) {
  if (language.library && !loadLanguage(language))
    return nil;
  return objc_send_class(language.interpClass, "mainInterp");
}

enum Run { ran, failed };

/* Sends the message to the interpreter; a raised exception is reported
   (its reason is the language's own report) and answers failed. */
Run send(id interp, const char *message, id argument, id *result = nullptr) {
  id volatile answer = nil;
  id volatile raised = nil;
  SEL selector = sel_registerName(message);
  NS_DURING
  answer = objc_send(interp, selector, argument);
  NS_HANDLER
  raised = localException;
  NS_ENDHANDLER
  if (raised) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text(objc_send(raised, "reason")).c_str());
    std::fflush(stderr);
    return failed;
  }
  if (result)
    *result = answer;
  return ran;
}

void setArguments(id interp, const ScriptLanguage &language,
                  const std::vector<std::string> &words) {
  std::vector<char *> vector;
  for (const std::string &word : words)
    vector.push_back(const_cast<char *>(word.c_str()));
  vector.push_back(nullptr);
  std::string valueClass = std::string(language.interpClass);
  valueClass.replace(valueClass.size() - 6, 6, "Value");
  id list = objc_send_class(valueClass.c_str(),
                            "valueWithPointer:toObjCType:", vector.data(), "*");
  objc_send<void>(interp, "setVariable:toValue:global:", nsString("zelArgs"),
                  list, YES);
  send(interp, "evaluate:", nsString(language.arguments));
}

/* ---- completion ---- */

/* Letters, digits and `_` make words, and in Tcl the colons of a
   selector: every other character ends one. */
bool inWord(char c, const ScriptLanguage &language) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
         (c == ':' && !language.memberSpelling);
}

std::string wordBreaks(const ScriptLanguage &language) {
  std::string breaks;
  for (int c = 1; c < 128; ++c)
    if ((std::isprint(c) || std::isspace(c)) &&
        !inWord(static_cast<char>(c), language))
      breaks += static_cast<char>(c);
  return breaks;
}

std::string lastWord(const std::string &line, const ScriptLanguage &language) {
  size_t start = line.size();
  while (start > 0 && inWord(line[start - 1], language))
    --start;
  return line.substr(start);
}

std::string respelt(std::string text, char from, char to) {
  for (char &c : text)
    if (c == from)
      c = to;
  return text;
}

/* The class names and selectors the word may be completed to, as the
   language spells them; the interpreter's bridge knows them. */
std::vector<std::string> completionsOf(id interp,
                                       const ScriptLanguage &language,
                                       const std::string &word) {
  std::vector<std::string> found;
  if (!objc_send<BOOL>(
          interp, "respondsToSelector:", sel_registerName("completionsOf:")))
    return found;
  std::string prefix = language.memberSpelling ? respelt(word, '_', ':') : word;
  id names = objc_send(interp, "completionsOf:", nsString(prefix));
  unsigned count = objc_send<unsigned>(names, "count");
  for (unsigned i = 0; i < count; ++i) {
    std::string name = text(objc_send(names, "objectAtIndex:", i));
    found.push_back(language.memberSpelling ? respelt(name, ':', '_') : name);
  }
  return found;
}

/* What the line editor completes with: the console's interpreter. */
struct Completing {
  id interp = nil;
  const ScriptLanguage *language = nullptr;
  std::string breaks;
  std::vector<std::string> found;
};

Completing completing;

char *nextCompletion(const char *word, int state) {
  static size_t next = 0;
  if (state == 0) {
    completing.found =
        completionsOf(completing.interp, *completing.language, word);
    next = 0;
  }
  if (next >= completing.found.size())
    return nullptr;
  return strdup(completing.found[next++].c_str());
}

char **completeWord(const char *word, int, int) {
  rl_attempted_completion_over = 1; /* no file names instead */
  return rl_completion_matches(word, nextCompletion);
}

void setUpCompletion(id interp, const ScriptLanguage &language) {
  completing.interp = interp;
  completing.language = &language;
  completing.breaks = wordBreaks(language);
  rl_basic_word_break_characters = completing.breaks.c_str();
  rl_completer_word_break_characters = &completing.breaks[0];
  rl_attempted_completion_function = completeWord;
  rl_completion_append_character = '\0';
}

/* -c LINE: what Tab would offer at the end of the line, one a line. */
void printCompletions(id interp, const ScriptLanguage &language,
                      const std::string &line) {
  for (const std::string &name :
       completionsOf(interp, language, lastWord(line, language)))
    std::printf("%s\n", name.c_str());
  std::fflush(stdout);
}

/* ---- the console ---- */

/* A line from the terminal (with editing and history) or from piped
   input; false at the end of input. */
bool readLine(bool terminal, const char *prompt, std::string &line) {
  if (terminal) {
    char *read = readline(prompt);
    if (!read)
      return false;
    line = read;
    if (*read)
      add_history(read);
    std::free(read);
    return true;
  }
  return static_cast<bool>(std::getline(std::cin, line));
}

/* Reads entries until the end of input: an entry goes on over lines while
   the language finds it cut short; each runs in an autorelease pool and
   its result, or its error, is printed. */
void console(id interp, const ScriptLanguage &language) {
  bool terminal = isatty(STDIN_FILENO);
  if (terminal)
    setUpCompletion(interp, language);
  std::string entry, line;
  while (readLine(terminal, entry.empty() ? "% " : "> ", line)) {
    entry += line;
    entry += '\n';
    if (!objc_send<BOOL>(interp, "isCompleteScript:", nsString(entry)))
      continue;
    id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    id result = nil;
    if (send(interp, "evaluate:", nsString(entry), &result) == ran) {
      std::string shown = text(objc_send(result, "description"));
      if (!shown.empty() && shown != language.noResult)
        std::printf("%s\n", shown.c_str());
      std::fflush(stdout);
    }
    objc_send<void>(pool, "release");
    entry.clear();
  }
  if (terminal)
    std::printf("\n");
}

/* ---- the command line ---- */

struct Options {
  const ScriptLanguage *language = nullptr;
  bool evaluate = false;
  std::string text;
  bool interactive = false;
  bool complete = false;
  std::string line; /* to complete */
  std::string file;
  std::vector<std::string> arguments;
};

/* Options, then FILE (unless -e) and its arguments; false for a bad one. */
bool parse(int argc, char **argv, Options &options) {
  int at = 1;
  for (; at < argc && argv[at][0] == '-' && argv[at][1]; ++at) {
    std::string option = argv[at];
    if (option == "--") {
      ++at;
      break;
    }
    if (option == "-i") {
      options.interactive = true;
    } else if (option == "-c" && at + 1 < argc) {
      options.complete = true;
      options.line = argv[++at];
    } else if ((option == "-l" || option == "-e") && at + 1 < argc) {
      if (option == "-l" && !(options.language = languageNamed(argv[++at])))
        return false;
      if (option == "-e") {
        options.evaluate = true;
        options.text = argv[++at];
      }
    } else {
      return false;
    }
  }
  if (!options.evaluate && at < argc)
    options.file = argv[at++];
  options.arguments.assign(argv + at, argv + argc);
  return true;
}

std::string standardInput() {
  std::ostringstream all;
  all << std::cin.rdbuf();
  return all.str();
}

int run(const Options &options) {
  const ScriptLanguage *language = options.language;
  if (!options.file.empty() && !language &&
      !(language = languageOfFile(options.file))) {
    std::fprintf(stderr, "zel: cannot tell the language of %s (use -l)\n",
                 options.file.c_str());
    return 2;
  }
  if (!options.file.empty() && access(options.file.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "zel: cannot open %s: %s\n", options.file.c_str(),
                 std::strerror(errno));
    return 2;
  }
  if (!language)
    language = &languages[0];
  id interp = interpreterOf(*language);
  if (!interp)
    return 2;
  std::vector<std::string> words{options.file.empty() ? "zel" : options.file};
  words.insert(words.end(), options.arguments.begin(), options.arguments.end());
  setArguments(interp, *language, words);
  bool consoleFirst = !options.evaluate && options.file.empty() &&
                      !options.complete &&
                      (options.interactive || isatty(STDIN_FILENO));
  Run status = ran;
  if (options.evaluate)
    status = send(interp, "evaluate:", nsString(options.text));
  else if (!options.file.empty())
    status = send(interp, "sourceFile:", nsString(options.file));
  else if (!consoleFirst && !options.complete)
    status = send(interp, "evaluate:", nsString(standardInput()));
  if (status == failed)
    return 1;
  if (options.complete)
    printCompletions(interp, *language, options.line);
  if (consoleFirst || options.interactive)
    console(interp, *language);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  Options options;
  if (!parse(argc, argv, options))
    return usage();
  objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  int status = run(options);
  std::fflush(nullptr);
  std::exit(status);
}
