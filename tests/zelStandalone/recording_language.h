// Test languages that write every message they receive into a journal,
// with their interpreter and value classes; and helpers to raise
// exceptions and to keep the journal across a process that exits.
// Included by exactly one source file per test program, which also says
// OBJC_LIBRARY_REGISTRATION().
#ifndef TESTS_ZELSTANDALONE_RECORDING_LANGUAGE_H
#define TESTS_ZELSTANDALONE_RECORDING_LANGUAGE_H

#include <objc/objc-load.h>
#include <Foundation/Foundation.h>
#include <zelRuntime/zelRuntime.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace recording {

using namespace objc_module_records;

inline std::vector<std::string> &journal() {
  static std::vector<std::string> entries;
  return entries;
}

inline void note(const std::string &entry) { journal().push_back(entry); }

inline std::string text(id string) {
  if (!string)
    return "nil";
  const char *characters = objc_send<const char *>(string, "cString");
  return characters ? characters : "";
}

// How one test language answers.
struct Behaviour {
  const char *name;
  const char *extension; // its scripts are Resources/main.<extension>
  bool claims;           // answer to isResponsibleForException:
  bool extensionRaises;  // fileExtension raises "ExtensionFailure"
};

struct LanguageObject {
  Class isa;
  const Behaviour *behaviour;
};

struct ValueObject {
  Class isa;
  char text[200];
};

// What sourceFile: does after noting the path; null: nothing.
inline void (*&scriptAction())() {
  static void (*action)() = nullptr;
  return action;
}

// The exception that raise() made last.
inline id &lastRaised() {
  static id exception = nil;
  return exception;
}

[[noreturn]] inline void raise(const char *name, const char *reason) {
  id exception = objc_send_class(
      "NSException", "exceptionWithName:reason:userInfo:",
      objc_send_class("NSString", "stringWithCString:", name),
      objc_send_class("NSString", "stringWithCString:", reason), nil);
  lastRaised() = exception;
  objc_send<void>(exception, "raise");
  std::abort();
}

inline const Behaviour &behaviourOf(id language) {
  return *reinterpret_cast<LanguageObject *>(language)->behaviour;
}

inline std::string heard(id language, const char *message) {
  return std::string(behaviourOf(language).name) + " " + message;
}

inline id fileExtension(id self, SEL) {
  note(heard(self, "fileExtension"));
  if (behaviourOf(self).extensionRaises)
    raise("ExtensionFailure", "no extension");
  return objc_send_class("NSString",
                         "stringWithCString:", behaviourOf(self).extension);
}

inline Class interpClass(id self, SEL) {
  note(heard(self, "interpClass"));
  return reinterpret_cast<Class>(objc_getClass("RecordingInterp"));
}

inline Class valueClass(id self, SEL) {
  note(heard(self, "valueClass"));
  return reinterpret_cast<Class>(objc_getClass("RecordingValue"));
}

inline BOOL isResponsibleForException(id self, SEL, id exception) {
  note(heard(self, "isResponsibleForException: ") +
       text(objc_send(exception, "name")));
  return behaviourOf(self).claims ? YES : NO;
}

inline void logException(id self, SEL, id exception) {
  note(heard(self, "logException: ") + text(objc_send(exception, "name")));
}

inline void presentException(id self, SEL, id exception) {
  note(heard(self, "presentException: ") + text(objc_send(exception, "name")));
}

inline id mainInterp(id self, SEL) {
  static id interp = objc_send(self, "new");
  note("mainInterp");
  return interp;
}

inline void setVariable(id, SEL, id name, id value, BOOL global) {
  note("set " + text(name) + "=" +
       reinterpret_cast<ValueObject *>(value)->text +
       (global ? " global" : " local"));
}

inline void noteSource(id path) {
  std::string full = text(path);
  note("source " + full.substr(full.rfind('/') + 1));
}

// The action may raise: nothing with a destructor is alive here then.
inline id sourceFile(id, SEL, id path) {
  noteSource(path);
  if (void (*action)() = scriptAction())
    action();
  return nil;
}

inline id newValue(id valueClass, const std::string &contents) {
  id value = objc_send(valueClass, "new");
  std::snprintf(reinterpret_cast<ValueObject *>(value)->text,
                sizeof(ValueObject::text), "%s", contents.c_str());
  return objc_send(value, "autorelease");
}

inline id valueWithInt(id self, SEL, int number) {
  note("valueWithInt: " + std::to_string(number));
  return newValue(self, std::to_string(number));
}

// For "*", the strings of the null-terminated vector, joined by '|'.
inline id valueWithPointer(id self, SEL, void *pointer, char *type) {
  note(std::string("valueWithPointer:toObjCType: ") + type);
  std::string contents;
  if (std::strcmp(type, "*") == 0)
    for (char **each = static_cast<char **>(pointer); *each; ++each)
      contents += (contents.empty() ? "" : "|") + std::string(*each);
  return newValue(self, contents);
}

inline MethodList<6> Language_imethods = {
    nullptr,
    6,
    {OBJC_DERIVED_METHOD("fileExtension", fileExtension),
     OBJC_DERIVED_METHOD("interpClass", interpClass),
     OBJC_DERIVED_METHOD("valueClass", valueClass),
     OBJC_DERIVED_METHOD("isResponsibleForException:",
                         isResponsibleForException),
     OBJC_DERIVED_METHOD("logException:", logException),
     OBJC_DERIVED_METHOD("presentException:", presentException)}};
inline struct objc_class Language_meta = {
    nullptr, nullptr,  "RecordingLanguage",
    0,       CLS_META, sizeof(struct objc_class),
    nullptr, nullptr,  nullptr,
    nullptr};
inline struct objc_class Language_class = {
    &Language_meta,
    OBJC_SUPER_NAME("NSObject"),
    "RecordingLanguage",
    0,
    CLS_CLASS,
    sizeof(LanguageObject),
    nullptr,
    OBJC_MODULE_METHODS(Language_imethods),
    nullptr,
    nullptr};

inline MethodList<1> Interp_cmethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("mainInterp", mainInterp)}};
inline MethodList<2> Interp_imethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("setVariable:toValue:global:", setVariable),
     OBJC_DERIVED_METHOD("sourceFile:", sourceFile)}};
inline struct objc_class Interp_meta = {
    nullptr,           nullptr,
    "RecordingInterp", 0,
    CLS_META,          sizeof(struct objc_class),
    nullptr,           OBJC_MODULE_METHODS(Interp_cmethods),
    nullptr,           nullptr};
inline struct objc_class Interp_class = {
    &Interp_meta,      OBJC_SUPER_NAME("NSObject"),
    "RecordingInterp", 0,
    CLS_CLASS,         sizeof(id),
    nullptr,           OBJC_MODULE_METHODS(Interp_imethods),
    nullptr,           nullptr};

inline MethodList<2> Value_cmethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("valueWithInt:", valueWithInt),
     OBJC_DERIVED_METHOD("valueWithPointer:toObjCType:", valueWithPointer)}};
inline struct objc_class Value_meta = {
    nullptr,          nullptr,
    "RecordingValue", 0,
    CLS_META,         sizeof(struct objc_class),
    nullptr,          OBJC_MODULE_METHODS(Value_cmethods),
    nullptr,          nullptr};
inline struct objc_class Value_class = {
    &Value_meta,      OBJC_SUPER_NAME("NSObject"),
    "RecordingValue", 0,
    CLS_CLASS,        sizeof(ValueObject),
    nullptr,          nullptr,
    nullptr,          nullptr};

inline Symtab<3> Recording_symtab = {
    0, nullptr, 3, 0, {&Language_class, &Interp_class, &Value_class}};
inline struct objc_module Recording_module = {
    OBJC_MODULE_VERSION, sizeof(struct objc_module), __FILE__,
    reinterpret_cast<struct objc_symtab *>(&Recording_symtab)};

OBJC_REGISTER_MODULE(Recording_module)

// A new language with that behaviour (which must outlive it), registered
// after those already registered.
inline void enroll(const Behaviour &behaviour) {
  id language = objc_send_class("RecordingLanguage", "new");
  reinterpret_cast<LanguageObject *>(language)->behaviour = &behaviour;
  ZELRegisterScriptingLanguage(language);
  objc_send<void>(language, "release");
}

// Empties the registry, the languages loaded with the libraries included.
inline void withdrawAllLanguages() {
  id languages = objc_send_class("ZELScriptingLanguage", "availableLanguages");
  id each = objc_send(languages, "objectEnumerator");
  while (id language = objc_send(each, "nextObject"))
    ZELUnregisterScriptingLanguage(language);
}

// ---- Keeping the journal of a process that ends by exit ----

inline std::string &journalFile() {
  static std::string path;
  return path;
}

inline void saveJournal() {
  std::ofstream out(journalFile());
  for (const std::string &entry : journal())
    out << entry << '\n';
}

// Called in the process that is going to exit.
inline void saveJournalAtExit() { std::atexit(saveJournal); }

inline std::vector<std::string> savedJournal() {
  std::vector<std::string> entries;
  std::ifstream in(journalFile());
  for (std::string line; std::getline(in, line);)
    entries.push_back(line);
  return entries;
}

} // namespace recording

#endif
