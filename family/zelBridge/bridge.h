/* What the modules of zelBridge share. */
#ifndef ZELBRIDGE_BRIDGE_H
#define ZELBRIDGE_BRIDGE_H

#include <zelBridge/zelBridge.h>

namespace zelbridge {

/* Changed whenever this bridge attaches a method list: prepared method
   signatures made before are checked again. */
extern unsigned methodListsEpoch;

/* A script method running for a receiver: `owner` is the class (or
   metaclass) that the method's list was attached to. */
struct MethodFrame {
  id self;
  Class owner;
};

/* Innermost first: the frames of the script methods now running. */
std::vector<MethodFrame> &methodFrames();

/* The owner of the innermost script method running for receiver, or null. */
Class runningOwner(id receiver);

/* Calls apply inside an exception frame; false with the exception. */
bool guardedApply(void *fn, ApplyVal *result, int argc, ApplyVal *argv,
                  id *exception);

/* "NAME: REASON" of an Objective-C exception. */
std::string exceptionMessage(id exception);

/* Calls imp for a method signature: receiver and selector, then the
   script's arguments. */
bool callMethod(Script &script, const Signature &signature, IMP imp,
                id receiver, SEL sel, ScriptValue *args, int argc,
                ScriptValue &result, std::string &error);

/* Bytes of storage a value of the type needs, tail padding included. */
int storageSize(const char *type);

} // namespace zelbridge

#endif
