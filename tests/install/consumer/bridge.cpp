// A bridge outside the tree: the installed core prepares a signature
// (libffi and the runtime linked through zel::zelBridge).
#include <zelBridge/zelBridge.h>
#include <cstdio>
#include <string>

int main() {
  std::string error;
  auto signature = zelbridge::prepare("i12@0:4i8", error);
  std::printf("%s\n", signature ? "prepared" : error.c_str());
  return signature ? 0 : 1;
}
