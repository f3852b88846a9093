// The consumer's own i386 libffi beside the package: the same call made
// by libffi and by apply.
#include <ffi.h>
#include <zelObjCRuntime/zelObjCRuntime.h>
#include <cstdio>

namespace {

int add(int a, int b) { return a + b; }

int byFfi(int a, int b) {
  ffi_cif cif;
  ffi_type *types[] = {&ffi_type_sint, &ffi_type_sint};
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, 2, &ffi_type_sint, types) != FFI_OK)
    return -1;
  void *values[] = {&a, &b};
  ffi_arg result = 0;
  ffi_call(&cif, FFI_FN(add), &result, values);
  return static_cast<int>(result);
}

int byApply(int a, int b) {
  int result = 0;
  ApplyVal out = {APPLY_INT, sizeof result, &result};
  ApplyVal in[] = {{APPLY_INT, sizeof a, &a}, {APPLY_INT, sizeof b, &b}};
  apply(reinterpret_cast<void *>(add), &out, 2, in);
  return result;
}

} // namespace

int main() {
  int ffi = byFfi(40, 2), applied = byApply(40, 2);
  std::printf("%d %d\n", ffi, applied);
  return ffi == 42 && applied == 42 ? 0 : 1;
}
