// Lists every message that the loaded classes implement themselves, one
// "Class +selector" or "Class -selector" a line; linked against the
// platform libraries alone, so no category of ours is among them.
#include <objc/objc-runtime.h>
#include <cstdio>

namespace {

void listOwnMethods(Class cls, const char *name, char sign) {
  void *iterator = nullptr;
  while (struct objc_method_list *list = class_nextMethodList(cls, &iterator))
    for (int i = 0; i < list->method_count; i++)
      std::printf("%s %c%s\n", name, sign,
                  sel_getName(list->method_list[i].method_name));
}

} // namespace

int main() {
  NXHashTable *classes = objc_getClasses();
  NXHashState state = NXInitHashState(classes);
  void *entry;
  while (NXNextHashState(classes, &state, &entry)) {
    Class cls = static_cast<Class>(entry);
    listOwnMethods(cls->isa, cls->name, '+');
    listOwnMethods(cls, cls->name, '-');
  }
  return 0;
}
