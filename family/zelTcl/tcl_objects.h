/* What the modules of zelTcl share: the instance layouts of the
   interpreter and value classes, and raising Tcl errors. */
#ifndef ZELTCL_TCL_OBJECTS_H
#define ZELTCL_TCL_OBJECTS_H

#include <objc/objc.h>
#include <tcl.h>

namespace zeltcl {

/* An instance of ZELTclInterp. */
struct InterpObject {
  Class isa;
  Tcl_Interp *interp; /* owned: deleted with the object */
};

/* An instance of ZELTclValue. */
struct ValueObject {
  Class isa;
  Tcl_Obj *object; /* one reference held */
};

/* Readies Tcl's encodings and script library, once per process; before
   any interpreter or value is made. */
void prepareTcl();

/* Raises ZELTclException with the interpreter's error information. */
[[noreturn]] void raiseError(Tcl_Interp *interp);

/* An autoreleased ZELTclValue holding the object. */
id newValue(Tcl_Obj *object);

/* Tcl_Obj of a ZELTclValue; an empty object for nil. */
Tcl_Obj *objectOf(id value);

/* Makes the commands of namespace objc in the interpreter. */
void installObjcCommands(Tcl_Interp *interp);

/* Calls the implementation that NSObject has for the selector. */
void superDealloc(id self);

} // namespace zeltcl

#endif
