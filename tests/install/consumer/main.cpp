// A program outside the project, built against the installed tree.
#include <zelObjCRuntime/zelObjCRuntime.h>
#include <cstdio>

int main() {
  char text[21];
  zelObjC_ulltostr(~0ULL, text);
  std::printf("%s %d\n", text, objc_sizeof_type("{x=ic}"));
  return objc_lookUpClass("NSObject") ? 0 : 1;
}
