/* ZELTclInterp: a Tcl interpreter as an object, and the marker class of the
   library. */
#include "tcl_objects.h"

#include <zelTcl/zelTcl.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <initializer_list>

using namespace objc_module_records;
using zeltcl::InterpObject;

namespace {

id mainInterp_ = nil; /* the first interpreter made, kept for ever */

Tcl_Interp *interpOf(id self) {
  return reinterpret_cast<InterpObject *>(self)->interp;
}

id init(id self, SEL) {
  zeltcl::prepareTcl();
  Tcl_Interp *interp = Tcl_CreateInterp();
  if (Tcl_Init(interp) != TCL_OK)  /* the built-in commands still work */
    Tcl_ResetResult(interp);
  zeltcl::installObjcCommands(interp);
  reinterpret_cast<InterpObject *>(self)->interp = interp;
  if (!mainInterp_)
    mainInterp_ = objc_send(self, "retain");
  return self;
}

void dealloc(id self, SEL) {
  if (Tcl_Interp *interp = interpOf(self))
    Tcl_DeleteInterp(interp);
  zeltcl::superDealloc(self);
}

id mainInterp(id self, SEL) {
  if (!mainInterp_)
    objc_send(objc_send(self, "alloc"), "init");  /* kept as the main one */
  return mainInterp_;
}

void flushStandardChannels() {
  for (int type : {TCL_STDOUT, TCL_STDERR})
    if (Tcl_Channel channel = Tcl_GetStdChannel(type))
      Tcl_Flush(channel);
}

void setVariable(id self, SEL, id name, id value, BOOL global) {
  const char *text = objc_send<const char *>(name, "cString");
  int flags = TCL_LEAVE_ERR_MSG | (global ? TCL_GLOBAL_ONLY : 0);
  if (!Tcl_SetVar2Ex(interpOf(self), text, nullptr, zeltcl::objectOf(value),
                     flags))
    zeltcl::raiseError(interpOf(self));
}

/* Runs the file to its end; what the script printed is flushed before an
   error is raised, so that it comes out before the report. */
id sourceFile(id self, SEL, id path) {
  Tcl_Interp *interp = interpOf(self);
  int status =
      Tcl_EvalFile(interp, objc_send<const char *>(path, "cString"));
  flushStandardChannels();
  if (status == TCL_ERROR)
    zeltcl::raiseError(interp);
  return zeltcl::newValue(Tcl_GetObjResult(interp));
}

/* Evaluates the text as a script at global level. */
id evaluate(id self, SEL, id script) {
  Tcl_Interp *interp = interpOf(self);
  int status = Tcl_EvalEx(interp, objc_send<const char *>(script, "cString"),
                          -1, TCL_EVAL_GLOBAL);
  flushStandardChannels();
  if (status == TCL_ERROR)
    zeltcl::raiseError(interp);
  return zeltcl::newValue(Tcl_GetObjResult(interp));
}

MethodList<1> Interp_cmethods = {
    nullptr, 1, {OBJC_METHOD("mainInterp", "@8@0:4", mainInterp)}};
MethodList<5> Interp_imethods = {
    nullptr, 5,
    {OBJC_METHOD("init", "@8@0:4", init),
     OBJC_METHOD("dealloc", "v8@0:4", dealloc),
     OBJC_METHOD("setVariable:toValue:global:", "v20@0:4@8@12c16",
                 setVariable),
     OBJC_METHOD("sourceFile:", "@12@0:4@8", sourceFile),
     OBJC_METHOD("evaluate:", "@12@0:4@8", evaluate)}};

OBJC_CLASS_RECORDS(Interp_class, "ZELTclInterp", "NSObject",
                   sizeof(InterpObject), nullptr, &Interp_imethods,
                   &Interp_cmethods);

/* The framework marker: importing it links a library to this one. */
OBJC_CLASS_RECORDS(Framework_class, "NSFramework_zelTcl", "NSObject",
                   sizeof(id), nullptr, nullptr, nullptr);

OBJC_MODULE_RECORD(Interp_module, 2, 0, &Interp_class, &Framework_class);

} // namespace

OBJC_CLASS_SYMBOL(ZELTclInterp);
OBJC_CLASS_SYMBOL(NSFramework_zelTcl);
OBJC_REGISTER_MODULE(Interp_module)
OBJC_LIBRARY_REGISTRATION()
