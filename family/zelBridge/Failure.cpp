/* Why a call failed, kept for the language to take: the Objective-C
   exception raised inside it, and the script's own error an exception
   carried from a failed body of that script. */
#include "bridge.h"

#include <Foundation/Foundation.h>

#include <unordered_map>

namespace zelbridge {

namespace {

/* An exception raised for a failed script body, and the script's error. */
struct Carried {
  Script *script;
  void *original;
};

std::unordered_map<id, Carried> &carried() {
  static auto *exceptions = new std::unordered_map<id, Carried>;
  return *exceptions;
}

/* The exception of the last failed call, not taken yet (retained). */
struct LastFailure {
  id exception = nil;
  Carried carried{nullptr, nullptr};
};

LastFailure last_; /* constant-initialized: no guard on every call */

LastFailure &lastFailure() { return last_; }

void noteKept() { failureKept = last_.exception || last_.carried.original; }

void dropCarried(const Carried &what) {
  if (what.original)
    what.script->dropFailure(what.original);
}

} // namespace

bool failureKept = false;

void recordFailure(id exception) {
  LastFailure &last = lastFailure();
  dropCarried(last.carried);
  if (last.exception)
    objc_send<void>(last.exception, "release");
  last.exception = objc_send(exception, "retain");
  last.carried = Carried{nullptr, nullptr};
  auto found = carried().find(exception);
  if (found != carried().end()) {
    last.carried = found->second;
    carried().erase(found);
  }
  noteKept();
}

void carryFailure(id exception, Script &script, void *original) {
  carried()[exception] = Carried{&script, original};
}

void recordScriptFailure(Script &script, void *original) {
  clearFailure();
  if (original)
    lastFailure().carried = Carried{&script, original};
  noteKept();
}

void forgetFailure() {
  LastFailure &last = lastFailure();
  if (!last.exception && !last.carried.original)
    return;
  dropCarried(last.carried);
  if (last.exception)
    objc_send<void>(last.exception, "release");
  last = LastFailure{};
  noteKept();
}

Failure takeFailure(Script &script) {
  LastFailure &last = lastFailure();
  Failure failure;
  if (!last.exception && !last.carried.original)
    return failure;
  if (last.exception)
    failure.exception = objc_send(last.exception, "autorelease");
  if (last.carried.script == &script)
    failure.original = last.carried.original;
  else
    dropCarried(last.carried);
  last = LastFailure{};
  noteKept();
  return failure;
}

} // namespace zelbridge
