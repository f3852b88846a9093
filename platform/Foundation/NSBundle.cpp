/* Bundles: a folder with a Resources folder. The main bundle is the folder
   that holds the running executable (Name.app for an application). */
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include "foundation.h"

using namespace objc_module_records;

namespace {

struct BundleIvars {
  Class isa;
  id path; /* NSString, no trailing slash */
};

BundleIvars *ivarsOf(id self) { return reinterpret_cast<BundleIvars *>(self); }

id mainBundle = nil;

bool isRegularFile(const char *path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

/* argv[0] found along PATH, as a shell would; false when it is not. */
bool searchPath(const char *program, char *found) {
  const char *path = getenv("PATH");
  while (path && *path) {
    const char *end = strchr(path, ':');
    size_t count = end ? static_cast<size_t>(end - path) : strlen(path);
    char candidate[PATH_MAX];
    int size = snprintf(candidate, sizeof candidate, "%.*s/%s",
                        static_cast<int>(count), count ? path : ".", program);
    if (size > 0 && size < PATH_MAX && isRegularFile(candidate) &&
        realpath(candidate, found))
      return true;
    path = end ? end + 1 : nullptr;
  }
  return false;
}

/* The running executable's full path. /proc/self/exe first (qemu-i386
   answers it for the emulated program too), else the program name
   resolved against the working folder or PATH. */
bool executablePath(char *found) {
  ssize_t size = readlink("/proc/self/exe", found, PATH_MAX - 1);
  if (size > 0) {
    found[size] = '\0';
    return true;
  }
  const char *program = program_invocation_name;
  if (!program || !*program)
    return false;
  if (strchr(program, '/'))
    return realpath(program, found) != nullptr;
  return searchPath(program, found);
}

id newBundle(Class cls, const char *path, size_t length) {
  id bundle = objc_send(reinterpret_cast<id>(cls), "alloc");
  ivarsOf(bundle)->path = fnd::newString(path, static_cast<unsigned>(length));
  return bundle;
}

/* ---- class methods ---- */

id Bundle_mainBundle(id self, SEL) {
  if (mainBundle)
    return mainBundle;
  char path[PATH_MAX];
  if (!executablePath(path))
    return nil;
  char *slash = strrchr(path, '/');
  size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
  mainBundle = newBundle(reinterpret_cast<Class>(self), path, length);
  return mainBundle;
}

id Bundle_bundleWithPath(id self, SEL, id path) {
  id bundle = objc_send(objc_send(self, "alloc"), "initWithPath:", path);
  return fnd::autorelease(bundle);
}

/* ---- instance methods ---- */

/* nil (and the instance freed) for a path that is not a folder. */
id Bundle_initWithPath(id self, SEL, id path) {
  const char *text = fnd::cString(path);
  struct stat info;
  if (!text || stat(text, &info) != 0 || !S_ISDIR(info.st_mode)) {
    object_dispose(self);
    return nil;
  }
  size_t length = strlen(text);
  while (length > 1 && text[length - 1] == '/')
    length--;
  ivarsOf(self)->path = fnd::newString(text, static_cast<unsigned>(length));
  return self;
}

void Bundle_dealloc(id self, SEL) {
  fnd::release(ivarsOf(self)->path);
  object_dispose(self);
}

id Bundle_bundlePath(id self, SEL) { return ivarsOf(self)->path; }

id Bundle_resourcePath(id self, SEL) {
  return fnd::stringWithFormat("%s/Resources",
                               fnd::cString(ivarsOf(self)->path));
}

/* Resources/name.type when that file exists; a nil or empty type means
   the name alone. */
id Bundle_pathForResourceOfType(id self, SEL, id name, id type) {
  const char *base = fnd::cString(name);
  const char *extension = fnd::cString(type);
  if (!base || !*base)
    return nil;
  bool plain = !extension || !*extension;
  id path = fnd::stringWithFormat("%s/Resources/%s%s%s",
                                  fnd::cString(ivarsOf(self)->path), base,
                                  plain ? "" : ".", plain ? "" : extension);
  return isRegularFile(fnd::cString(path)) ? path : nil;
}

id Bundle_copyWithZone(id self, SEL, NSZone *) { return fnd::retain(self); }

MethodList<6> Bundle_imethods = {
    nullptr,
    6,
    {OBJC_DERIVED_METHOD("initWithPath:", Bundle_initWithPath),
     OBJC_DERIVED_METHOD("dealloc", Bundle_dealloc),
     OBJC_DERIVED_METHOD("bundlePath", Bundle_bundlePath),
     OBJC_DERIVED_METHOD("resourcePath", Bundle_resourcePath),
     OBJC_DERIVED_METHOD("pathForResource:ofType:",
                         Bundle_pathForResourceOfType),
     OBJC_DERIVED_METHOD("copyWithZone:", Bundle_copyWithZone)}};

MethodList<2> Bundle_cmethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("mainBundle", Bundle_mainBundle),
     OBJC_DERIVED_METHOD("bundleWithPath:", Bundle_bundleWithPath)}};

IvarList<1> Bundle_ivars = {1, {{"path", "@", 4}}};

OBJC_CLASS_RECORDS(NSBundleClass, "NSBundle", "NSObject", sizeof(BundleIvars),
                   &Bundle_ivars, &Bundle_imethods, &Bundle_cmethods);

OBJC_MODULE_RECORD(module, 1, 0, &NSBundleClass);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_CLASS_SYMBOL(NSBundle);
