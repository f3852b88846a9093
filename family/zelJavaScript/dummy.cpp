/* The framework marker of zelJavaScript: importing it links a library to
   this one. No JavaScript language is registered yet. */
#include <objc/objc-load.h>

using namespace objc_module_records;

namespace {

struct objc_class Framework_meta = {
    nullptr, nullptr, "NSFramework_zelJavaScript", 0, CLS_META,
    sizeof(struct objc_class), nullptr, nullptr, nullptr, nullptr};
struct objc_class Framework_class = {
    &Framework_meta, OBJC_SUPER_NAME("NSObject"), "NSFramework_zelJavaScript",
    0, CLS_CLASS, sizeof(id), nullptr, nullptr, nullptr, nullptr};

Symtab<1> Framework_symtab = {0, nullptr, 1, 0, {&Framework_class}};
struct objc_module Framework_module = {
    OBJC_MODULE_VERSION, sizeof(struct objc_module), __FILE__,
    reinterpret_cast<struct objc_symtab *>(&Framework_symtab)};

} // namespace

OBJC_CLASS_SYMBOL(NSFramework_zelJavaScript);
OBJC_REGISTER_MODULE(Framework_module)
OBJC_LIBRARY_REGISTRATION()
