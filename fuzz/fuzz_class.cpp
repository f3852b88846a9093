// Classes made from arbitrary instance-variable descriptions: made,
// described, instantiated and destroyed again, leaving the class table as
// it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

constexpr long maxInstanceSize = 1 << 20;

Class rootClass() {
  return reinterpret_cast<Class>(objc_getClass("NSObject"));
}

void exercise(Class cls) {
  const char *layout = ZelObjC_IVarStruct(cls);
  if (layout)
    (void)std::strlen(layout);
  struct objc_ivar_list *ivars = cls->ivars;
  for (int i = 0; ivars && i < ivars->ivar_count; ++i) {
    const char *name = ivars->ivar_list[i].ivar_name;
    if (name && !ZelObjC_GetInstanceVariable(cls, name))
      std::abort(); // a variable of the class is not found by its name
  }
  ZelObjC_GetInstanceVariable(cls->isa, "isa");
  // Sizes of members wrap at 32 bits; an instance is made only where its
  // size is one that memory can hold.
  if (cls->instance_size < 0 || cls->instance_size > maxInstanceSize)
    return;
  id object = objc_send(reinterpret_cast<id>(cls), "new");
  if (object)
    objc_send<void>(object, "release");
}

} // namespace

// The first line is the class name; the rest describes its variables.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  input = input.substr(0, input.find('\0'));
  const std::size_t newline = input.find('\n');
  if (newline == std::string::npos)
    return 0;
  const std::string name = "ZelFuzz" + input.substr(0, newline);
  const std::string ivars = input.substr(newline + 1);

  Class cls = ZelObjC_NewClass(name.c_str(), rootClass(), ivars.c_str());
  if (!cls)
    return 0;
  if (reinterpret_cast<Class>(objc_lookUpClass(name.c_str())) != cls)
    std::abort();
  exercise(cls);
  if (!ZelObjC_DestroyClass(cls))
    std::abort();
  if (objc_lookUpClass(name.c_str()))
    std::abort(); // the name must be free again
  return 0;
}
