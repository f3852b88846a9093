/* What every language's binding of the core says alike (see binding.h). */
#include <zelBridge/binding.h>

#include <Foundation/Foundation.h>

namespace zelbridge {

std::string arityMessage(const Command &command, Script &script,
                         const std::string &path, int argc) {
  return path + ": expected (" + usage(command, script, true) + ") but got " +
         std::to_string(argc) + (argc == 1 ? " argument" : " arguments");
}

std::string handleText(const Handle &handle) {
  id object = nil;
  std::string error;
  return resolve(handle, object, error) ? describe(object) : "<" + error + ">";
}

bool sameHandle(const Handle &one, const Handle &other) {
  return one.object == other.object && one.serial == other.serial;
}

std::string exceptionText(id exception, const char *key) {
  id text = exception ? objc_send(exception, key) : nil;
  const char *chars = text ? objc_send<const char *>(text, "cString") : "";
  return chars ? chars : "";
}

} // namespace zelbridge
