// A target for application events that notes what it is sent, and may
// raise; and a category that makes NSApplication's terminate: note its
// sender instead of ending the process. Included by one source file per
// test program, beside recording_language.h.
#ifndef TESTS_ZELSTANDALONE_EVENT_PROBE_H
#define TESTS_ZELSTANDALONE_EVENT_PROBE_H

#include "recording_language.h"

#include <AppKit/AppKit.h>

namespace probe {

using namespace objc_module_records;

inline id &terminatedBy() {
  static id sender = nil;
  return sender;
}

inline int &terminations() {
  static int count = 0;
  return count;
}

inline void fire(id, SEL, id) { recording::note("fired"); }

inline void explode(id, SEL, id) {
  recording::note("exploded");
  recording::raise("Explosion", "100% of %s and %@ went %d ways");
}

inline void terminate(id, SEL, id sender) {
  ++terminations();
  terminatedBy() = sender;
}

inline MethodList<2> Probe_imethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("fire:", fire),
     OBJC_DERIVED_METHOD("explode:", explode)}};
inline struct objc_class Probe_meta = {
    nullptr, nullptr, "EventProbe", 0,      CLS_META, sizeof(struct objc_class),
    nullptr, nullptr, nullptr,      nullptr};
inline struct objc_class Probe_class = {
    &Probe_meta,  OBJC_SUPER_NAME("NSObject"),
    "EventProbe", 0,
    CLS_CLASS,    sizeof(id),
    nullptr,      OBJC_MODULE_METHODS(Probe_imethods),
    nullptr,      nullptr};

inline MethodList<1> Termination_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("terminate:", terminate)}};
inline struct objc_category Termination_category = {
    "TestTermination", "NSApplication", OBJC_METHOD_LIST(Termination_imethods),
    nullptr, nullptr};

inline Symtab<2> Probe_symtab = {
    0, nullptr, 1, 1, {&Probe_class, &Termination_category}};
inline struct objc_module Probe_module = {
    OBJC_MODULE_VERSION, sizeof(struct objc_module), __FILE__,
    reinterpret_cast<struct objc_symtab *>(&Probe_symtab)};

OBJC_REGISTER_MODULE(Probe_module)

// An event whose dispatch sends the action to a new probe.
inline id event(const char *action) {
  id target = objc_send(objc_send_class("EventProbe", "new"), "autorelease");
  return objc_send_class("NSEvent", "eventWithTarget:action:object:", target,
                         sel_registerName(action), nil);
}

// ---- The alert panel, answered by the test ----

struct Alert {
  std::string title, message, defaultButton, alternateButton, otherButton;
};

inline std::vector<Alert> &alerts() {
  static std::vector<Alert> shown;
  return shown;
}

inline int &alertAnswer() {
  static int answer = NSAlertDefaultReturn;
  return answer;
}

inline int respond(id title, id message, id defaultButton, id alternateButton,
                   id otherButton) {
  alerts().push_back({recording::text(title), recording::text(message),
                      recording::text(defaultButton),
                      recording::text(alternateButton),
                      recording::text(otherButton)});
  return alertAnswer();
}

} // namespace probe

#endif
