/* The marker class NSFramework_zelObjCRuntime, which other libraries import
   to be linked against this one, and the library's load-time registration
   of its Objective-C modules. */
#include <objc/objc-load.h>

#include <zelObjCRuntime/zelObjCRuntime.h>

using namespace objc_module_records;

namespace {

constexpr char className[] = "NSFramework_zelObjCRuntime";
constexpr char classPointer[] = "^{_objc_class}";
constexpr char longType[] = "l";

/* A metaclass describes the class record as its instance variables. */
IvarList<10> classRecordIvars = {10,
                                 {{"isa", classPointer, 0},
                                  {"super_class", classPointer, 4},
                                  {"name", "*", 8},
                                  {"version", longType, 12},
                                  {"info", longType, 16},
                                  {"instance_size", longType, 20},
                                  {"ivars", "^{_objc_ivar_list}", 24},
                                  {"methods", "^{_objc_method_list}", 28},
                                  {"cache", "^{objc_cache}", 32},
                                  {"protocol_list", "^^{_objc_protocol}", 36}}};

struct objc_class markerMeta = {nullptr,
                                nullptr,
                                className,
                                0,
                                CLS_META,
                                sizeof(struct objc_class),
                                OBJC_IVAR_LIST(classRecordIvars),
                                nullptr,
                                nullptr,
                                nullptr};

/* A root class without methods or instance variables. */
struct objc_class markerClass = {&markerMeta, nullptr, className, 0,
                                 CLS_CLASS,   0,       nullptr,   nullptr,
                                 nullptr,     nullptr};

OBJC_MODULE_RECORD(markerModule, 1, 0, &markerClass);

} // namespace

OBJC_REGISTER_MODULE(markerModule)
OBJC_LIBRARY_REGISTRATION()
OBJC_CLASS_SYMBOL(NSFramework_zelObjCRuntime);
