/* A plain tclsh on the system's Tcl: what a user of the package zelTcl
   runs, knowing nothing of this project. */
#include <tcl.h>

static int initialize(Tcl_Interp *interp) { return Tcl_Init(interp); }

int main(int argc, char **argv) {
  Tcl_Main(argc, argv, initialize);
  return 0;
}
