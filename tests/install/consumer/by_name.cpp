// A program that reaches the libraries only through classes found by name:
// the one library it calls a function of is the runtime. Every class named
// on the command line, and NSString, must be loaded.
#include <objc/objc-send.h>
#include <cstdio>

namespace {

bool loaded(const char *name) {
  if (objc_getClass(name))
    return true;
  std::printf("class %s is not loaded\n", name);
  return false;
}

unsigned lengthOfNewString(const char *text) {
  id string =
      objc_send(objc_send_class("NSString", "alloc"), "initWithCString:", text);
  unsigned length = objc_send<unsigned>(string, "length");
  objc_send<void>(string, "release");
  return length;
}

} // namespace

int main(int argc, char **argv) {
  bool all = loaded("NSString");
  for (int i = 1; i < argc; i++)
    all = loaded(argv[i]) && all;
  if (!all)
    return 1;
  unsigned length = lengthOfNewString("by name");
  std::printf("length %u\n", length);
  return length == 7 ? 0 : 1;
}
