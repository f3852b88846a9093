// The executable of HelloLua.app: everything else is in the bundle's script.
#include <zelStandalone/zelStandalone.h>

int main(int argc, char **argv) { ZELApplicationMain(argc, argv); }
