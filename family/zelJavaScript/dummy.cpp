/* The framework marker of zelJavaScript: importing it links a library to
   this one. No JavaScript language is registered yet. */
#include <objc/objc-load.h>

using namespace objc_module_records;

namespace {

OBJC_CLASS_RECORDS(Framework_class, "NSFramework_zelJavaScript", "NSObject",
                   sizeof(id), nullptr, nullptr, nullptr);

OBJC_MODULE_RECORD(Framework_module, 1, 0, &Framework_class);

} // namespace

OBJC_CLASS_SYMBOL(NSFramework_zelJavaScript);
OBJC_REGISTER_MODULE(Framework_module)
OBJC_LIBRARY_REGISTRATION()
