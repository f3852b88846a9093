/* Byte buffers (NSData) and reading files (NSFileHandle). */
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include "foundation.h"
#include "text_buffer.h"

using namespace objc_module_records;

namespace {

struct DataIvars {
  Class isa;
  void *bytes; /* owned; null when empty */
  unsigned length;
};

struct FileHandleIvars {
  Class isa;
  int descriptor; /* -1 once closed */
};

DataIvars *dataOf(id self) { return reinterpret_cast<DataIvars *>(self); }

/* A new NSData owning the block (retained, not autoreleased). */
id newDataTakingBytes(void *bytes, unsigned length) {
  id data = objc_send(&fnd::NSDataClass, "alloc");
  dataOf(data)->bytes = bytes;
  dataOf(data)->length = length;
  return data;
}

id Data_initWithBytesLength(id self, SEL, const void *bytes, unsigned length) {
  if (length == 0)
    return self;
  void *copy = malloc(length);
  if (!copy)
    fnd::raise(NSInternalInconsistencyException, "data: out of memory");
  memcpy(copy, bytes, length);
  dataOf(self)->bytes = copy;
  dataOf(self)->length = length;
  return self;
}

void Data_dealloc(id self, SEL) {
  free(dataOf(self)->bytes);
  object_dispose(self);
}

const void *Data_bytes(id self, SEL) { return dataOf(self)->bytes; }

unsigned Data_length(id self, SEL) { return dataOf(self)->length; }

id Data_copyWithZone(id self, SEL, NSZone *) { return fnd::retain(self); }

BOOL Data_isEqual(id self, SEL, id other) {
  if (self == other)
    return YES;
  if (!fnd::isKindOf(other, &fnd::NSDataClass))
    return NO;
  DataIvars *a = dataOf(self);
  DataIvars *b = dataOf(other);
  return a->length == b->length &&
                 (a->length == 0 || memcmp(a->bytes, b->bytes, a->length) == 0)
             ? YES
             : NO;
}

id Data_dataWithBytesLength(id self, SEL, const void *bytes, unsigned length) {
  id data = objc_send(self, "alloc");
  return fnd::autorelease(
      objc_send(data, "initWithBytes:length:", bytes, length));
}

MethodList<6> Data_imethods = {
    nullptr,
    6,
    {OBJC_DERIVED_METHOD("initWithBytes:length:", Data_initWithBytesLength),
     OBJC_DERIVED_METHOD("dealloc", Data_dealloc),
     OBJC_DERIVED_METHOD("bytes", Data_bytes),
     OBJC_DERIVED_METHOD("length", Data_length),
     OBJC_DERIVED_METHOD("copyWithZone:", Data_copyWithZone),
     OBJC_DERIVED_METHOD("isEqual:", Data_isEqual)}};

MethodList<1> Data_cmethods = {
    nullptr,
    1,
    {OBJC_DERIVED_METHOD("dataWithBytes:length:", Data_dataWithBytesLength)}};

IvarList<2> Data_ivars = {2, {{"bytes", "^v", 4}, {"length", "I", 8}}};

/* ---- NSFileHandle ---- */

FileHandleIvars *handleOf(id self) {
  return reinterpret_cast<FileHandleIvars *>(self);
}

/* nil when the file cannot be opened for reading or is a folder. */
id FileHandle_forReadingAtPath(id self, SEL, id path) {
  const char *name = fnd::cString(path);
  if (!name)
    return nil;
  int descriptor = open(name, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0)
    return nil;
  struct stat info;
  if (fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(descriptor);
    return nil;
  }
  id handle = objc_send(self, "alloc");
  handleOf(handle)->descriptor = descriptor;
  return fnd::autorelease(handle);
}

/* Reads to the end of the file; false on a read error. */
bool readAll(int descriptor, fnd::TextBuffer *buffer) {
  char chunk[8192];
  for (;;) {
    ssize_t got = read(descriptor, chunk, sizeof chunk);
    if (got == 0)
      return true;
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0 || !fnd::textAppend(buffer, chunk, static_cast<unsigned>(got)))
      return false;
  }
}

id FileHandle_availableData(id self, SEL) {
  int descriptor = handleOf(self)->descriptor;
  if (descriptor < 0)
    fnd::raise(NSFileHandleOperationException,
               "-[NSFileHandle availableData]: file closed");
  fnd::TextBuffer buffer = {nullptr, 0, 0};
  if (!readAll(descriptor, &buffer)) {
    free(buffer.data);
    fnd::raise(NSFileHandleOperationException,
               "-[NSFileHandle availableData]: %s", strerror(errno));
  }
  void *bytes = buffer.data;
  if (buffer.length == 0) {
    free(bytes);
    bytes = nullptr;
  }
  return fnd::autorelease(newDataTakingBytes(bytes, buffer.length));
}

void FileHandle_closeFile(id self, SEL) {
  if (handleOf(self)->descriptor >= 0)
    close(handleOf(self)->descriptor);
  handleOf(self)->descriptor = -1;
}

void FileHandle_dealloc(id self, SEL sel) {
  FileHandle_closeFile(self, sel);
  object_dispose(self);
}

int FileHandle_fileDescriptor(id self, SEL) {
  return handleOf(self)->descriptor;
}

id FileHandle_copyWithZone(id self, SEL, NSZone *) { return fnd::retain(self); }

/* A handle made without a file holds none (not descriptor 0). */
id FileHandle_init(id self, SEL) {
  handleOf(self)->descriptor = -1;
  return self;
}

MethodList<7> FileHandle_imethods = {
    nullptr,
    7,
    {OBJC_DERIVED_METHOD("init", FileHandle_init),
     OBJC_DERIVED_METHOD("availableData", FileHandle_availableData),
     OBJC_DERIVED_METHOD("readDataToEndOfFile", FileHandle_availableData),
     OBJC_DERIVED_METHOD("closeFile", FileHandle_closeFile),
     OBJC_DERIVED_METHOD("dealloc", FileHandle_dealloc),
     OBJC_DERIVED_METHOD("fileDescriptor", FileHandle_fileDescriptor),
     OBJC_DERIVED_METHOD("copyWithZone:", FileHandle_copyWithZone)}};

MethodList<1> FileHandle_cmethods = {
    nullptr,
    1,
    {OBJC_DERIVED_METHOD("fileHandleForReadingAtPath:",
                         FileHandle_forReadingAtPath)}};

IvarList<1> FileHandle_ivars = {1, {{"descriptor", "i", 4}}};

OBJC_CLASS_RECORDS(NSFileHandleClass, "NSFileHandle", "NSObject",
                   sizeof(FileHandleIvars), &FileHandle_ivars,
                   &FileHandle_imethods, &FileHandle_cmethods);

} // namespace

namespace fnd {

OBJC_CLASS_RECORDS(NSDataClass, "NSData", "NSObject", sizeof(DataIvars),
                   &Data_ivars, &Data_imethods, &Data_cmethods);

} // namespace fnd

namespace {

OBJC_MODULE_RECORD(module, 2, 0, &fnd::NSDataClass, &NSFileHandleClass);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_CLASS_SYMBOL(NSData);
OBJC_CLASS_SYMBOL(NSFileHandle);
