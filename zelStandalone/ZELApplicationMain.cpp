/* The scripted application's entry, and the category ZELExceptionHandling
   on NSApplication, whose sendEvent: presents exceptions that escape the
   dispatch of an event. */
#include <zelStandalone/zelStandalone.h>

#include <objc/objc-load.h>
#include <objc/objc-send.h>
#include <Foundation/Foundation.h>
#include <AppKit/AppKit.h>

#include <cstdlib>

using namespace objc_module_records;

/* Loading this library loads and registers these first: the former-method
   category of zelObjCRuntime, the language registry and the languages. */
OBJC_IMPORT_CLASS(NSFramework_zelObjCRuntime);
OBJC_IMPORT_CLASS(NSFramework_zelTcl);
OBJC_IMPORT_CLASS(NSFramework_zelJavaScript);
OBJC_IMPORT_CLASS(NSFramework_zelLua);
OBJC_IMPORT_CLASS(ZELScriptingLanguage);
OBJC_IMPORT_CLASS(ZELTclInterp);

namespace {

/* NSApplication's sendEvent: as it was before the category replaced it;
   null until ZELApplicationMain has run. */
IMP former_sendEvent = nullptr;

id classNamed(const char *name) { return objc_getClass(name); }

/* The first registered language that answers YES to
   isResponsibleForException:, or nil. */
id claimingLanguage(id exception) {
  id languages =
      objc_send(classNamed("ZELScriptingLanguage"), "availableLanguages");
  id each = objc_send(languages, "objectEnumerator");
  while (id language = objc_send(each, "nextObject"))
    if (objc_send<BOOL>(language, "isResponsibleForException:", exception))
      return language;
  return nil;
}

/* What the launcher asks of each language, in this order. */
struct Language {
  id extension;
  Class interpClass;
  Class valueClass;
};

Language describe(id language) {
  Language answers;
  answers.extension = objc_send(language, "fileExtension");
  answers.interpClass = objc_send<Class>(language, "interpClass");
  answers.valueClass = objc_send<Class>(language, "valueClass");
  return answers;
}

/* Sets "argc", then "argv", as global variables of the language's main
   interpreter, and answers that interpreter. */
id prepareInterp(const Language &language, int argc, char **argv) {
  id interp = objc_send(language.interpClass, "mainInterp");
  id count = objc_send(language.valueClass, "valueWithInt:", argc);
  id vector = objc_send(language.valueClass, "valueWithPointer:toObjCType:",
                        static_cast<void *>(argv), const_cast<char *>("*"));
  objc_send<void>(interp, "setVariable:toValue:global:", NSSTR("argc"), count,
                  YES);
  objc_send<void>(interp, "setVariable:toValue:global:", NSSTR("argv"), vector,
                  YES);
  return interp;
}

/* Runs the main script of the first language that has one in the main
   bundle, languages without one being passed over; at most one runs. */
void runFirstMainScript(int argc, char **argv) {
  id languages =
      objc_send(classNamed("ZELScriptingLanguage"), "availableLanguages");
  id each = objc_send(languages, "objectEnumerator");
  while (id object = objc_send(each, "nextObject")) {
    Language language = describe(object);
    id bundle = objc_send(classNamed("NSBundle"), "mainBundle");
    id path = objc_send(bundle, "pathForResource:ofType:", NSSTR("main"),
                        language.extension);
    if (!path)
      continue;
    id interp = prepareInterp(language, argc, argv);
    objc_send(interp, "sourceFile:", path); /* the result is not needed */
    return;
  }
}

/* Runs the script inside an exception frame. An exception is logged by the
   first language that claims it; one that none claims is raised again. */
void runGuarded(int argc, char **argv) {
  NS_DURING
  runFirstMainScript(argc, argv);
  NS_HANDLER
  id language = claimingLanguage(localException);
  if (!language)
    objc_send<void>(localException, "raise");
  objc_send<void>(language, "logException:", localException);
  NS_ENDHANDLER
}

/* The selector under which the former dispatch is called. */
SEL sendEventSelector() {
  static SEL selector = sel_registerName("sendEvent:");
  return selector;
}

/* An exception that no language claims: an alert offering to go on or to
   quit. The reason is an argument of a fixed format, so that percent signs
   in it are shown, not interpreted. */
void alertUnclaimed(id application, id exception) {
  int answer = NSRunAlertPanel(objc_send(exception, "name"), NSSTR("%@"),
                               NSSTR("Continue"), NSSTR("Quit"), nil,
                               objc_send(exception, "reason"));
  if (answer == NSAlertAlternateReturn)
    objc_send<void>(application, "terminate:", application);
}

void present(id application, id exception) {
  if (id language = claimingLanguage(exception))
    objc_send<void>(language, "presentException:", exception);
  else
    alertUnclaimed(application, exception);
}

/* NSApplication's sendEvent:, replaced: the former dispatch inside an
   exception frame. The event counts as handled whatever it raised; an
   event sent before ZELApplicationMain stored the former dispatch is
   dropped. */
void sendEvent(id self, SEL, id event) {
  IMP dispatch = former_sendEvent;
  if (!dispatch)
    return;
  NS_DURING
  objc_call_imp<void>(dispatch, self, sendEventSelector(), event);
  NS_HANDLER
  present(self, localException);
  NS_ENDHANDLER
}

MethodList<1> ExceptionHandling_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("sendEvent:", sendEvent)}};
/* The encoding the category's method is known by. */
OBJC_CHECK_FUNCTION_TYPES(sendEvent, "v12@0:4@8");

struct objc_category ExceptionHandling_category = {
    "ZELExceptionHandling", "NSApplication",
    OBJC_METHOD_LIST(ExceptionHandling_imethods), nullptr, nullptr};

OBJC_MODULE_RECORD(ApplicationMain_module, 0, 1, &ExceptionHandling_category);

} // namespace

OBJC_REGISTER_MODULE(ApplicationMain_module)
OBJC_LIBRARY_REGISTRATION()

ZEL_EXPORT void ZELApplicationMain(int argc, char **argv) noexcept {
  id pool =
      objc_send(objc_send(classNamed("NSAutoreleasePool"), "alloc"), "init");
  former_sendEvent =
      objc_send<IMP>(classNamed("NSApplication"),
                     "formerInstanceMethodForSelector:", sendEventSelector());
  objc_send(objc_send(classNamed("ZELTclInterp"), "alloc"), "init");
  runGuarded(argc, argv);
  objc_send<void>(pool, "release");
  std::exit(1);
}
