/** @file
    What every language's binding of the core says alike: the message of a
   command called with a count of arguments that does not fit, the text of a
   handle, whether two handles hold the same object and the texts of an
   Objective-C exception. Written once here so that the languages cannot
   drift apart in wording. */
#ifndef ZELBRIDGE_BINDING_H
#define ZELBRIDGE_BINDING_H

#include <zelBridge/zelBridge.h>

#include <string>

namespace zelbridge {

/** "objc.send: expected (RECEIVER, SELECTOR, ...ARG) but got 0 arguments":
   the command as the language names it (`path`), its parameters as a
   function's. */
std::string arityMessage(const Command &command, Script &script,
                         const std::string &path, int argc);

/** A handle's description ("<NSString 0x...>", a class's name) or, once its
   object is gone, "<object 0x... was freed>". */
std::string handleText(const Handle &handle);

/** Whether two handles hold the same object: same address and serial. */
bool sameHandle(const Handle &one, const Handle &other);

/** The text of an exception's name or reason (`key`); empty when it has
   none. */
std::string exceptionText(id exception, const char *key);

} // namespace zelbridge

#endif
