// A library loaded by protocol_test after the protocol registry was filled:
// one class adopting a protocol that nothing else in the process lists.
#include <objc/objc-load.h>

using namespace objc_module_records;

namespace {

struct objc_protocol ZPLate = {nullptr, "ZPLate", nullptr, nullptr, nullptr};
ProtocolList<1> lateList = {nullptr, 1, {reinterpret_cast<id>(&ZPLate)}};

struct objc_class ZPLateClass_meta = {nullptr,       nullptr,
                                      "ZPLateClass", 0,
                                      CLS_META,      sizeof(struct objc_class),
                                      nullptr,       nullptr,
                                      nullptr,       nullptr};
struct objc_class ZPLateClass_class = {
    &ZPLateClass_meta, OBJC_SUPER_NAME("NSObject"),
    "ZPLateClass",     0,
    CLS_CLASS,         4,
    nullptr,           nullptr,
    nullptr,           OBJC_PROTOCOL_LIST(lateList)};

OBJC_MODULE_RECORD(module, 1, 0, &ZPLateClass_class);
OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()

} // namespace
