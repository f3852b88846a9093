/* The framework marker of zelJavaScript: importing it links a library to
   this one. zelJavaScript imports zelTcl's marker in turn, so that zelTcl
   is loaded and registers its language first: availableLanguages lists
   Tcl before JavaScript whatever order a program names the libraries in. */
#include <objc/objc-load.h>

using namespace objc_module_records;

OBJC_IMPORT_CLASS(NSFramework_zelTcl);

namespace {

OBJC_CLASS_RECORDS(Framework_class, "NSFramework_zelJavaScript", "NSObject",
                   sizeof(id), nullptr, nullptr, nullptr);

OBJC_MODULE_RECORD(Framework_module, 1, 0, &Framework_class);

} // namespace

OBJC_CLASS_SYMBOL(NSFramework_zelJavaScript);
OBJC_REGISTER_MODULE(Framework_module)
OBJC_LIBRARY_REGISTRATION()
