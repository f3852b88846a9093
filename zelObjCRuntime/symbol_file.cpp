/* symbol: symbol tables saved as files and loaded back in place. A file
   is the table's strings laid end to end, each record a zero, the name, a
   zero, the kind byte and the type text, the whole ended by one more zero:
   a loaded table's names and definitions point into the file's bytes. */
#include "symbol.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

NSMapTable *loaded; /* path NSString -> SymbolTable, made on first load */

/* ---- reading ---- */

/* An estimate of how many distinct names a file holds, from the keyed
   hashes of its records, in fixed room: 1,024 registers of the largest
   run of leading zeros seen (the estimate is within a few per cent). A
   load sizes its map by it, so a file of one name repeated a million
   times costs the room of one name, not of a million. */
class DistinctNames {
public:
  void add(const char *name) {
    const uint32_t h = zel::keyedNameHash(name);
    const uint32_t rest = h << indexBits;
    const unsigned rank = rest ? static_cast<unsigned>(__builtin_clz(rest)) + 1
                               : 32 - indexBits + 1;
    unsigned char &best = registers_[h >> (32 - indexBits)];
    if (rank > best)
      best = static_cast<unsigned char>(rank);
  }

  unsigned estimate() const {
    constexpr double m = registerCount;
    double sum = 0;
    unsigned empty = 0;
    for (unsigned char rank : registers_) {
      sum += std::ldexp(1.0, -static_cast<int>(rank));
      empty += rank == 0 ? 1 : 0;
    }
    double e = 0.7213 / (1 + 1.079 / m) * m * m / sum;
    if (e <= 2.5 * m && empty != 0)
      e = m * std::log(m / empty); /* few names: count the empty registers */
    return e < 4294967295.0 ? static_cast<unsigned>(e) : ~0u;
  }

private:
  static constexpr unsigned indexBits = 10;
  static constexpr unsigned registerCount = 1u << indexBits;
  unsigned char registers_[registerCount] = {};
};

/* Checks an image as its bytes arrive, so that a file that breaks the
   format is refused at its first wrong byte, before the rest is read.
   Every record is a lead zero, a non-empty name, a zero, a kind 1 to 6 and
   the type text; the zero that ends a type text is the next record's lead
   or, as the last byte, the terminator. The names go to the estimate of
   distinct names on the way. */
class ImageCheck {
public:
  /* Takes the bytes from where the last call stopped up to length; false
     at the first byte that breaks the format. */
  bool take(const char *bytes, unsigned length) {
    while (position_ < length) {
      const char *at = bytes + position_;
      switch (expected_) {
      case Expect::firstLead:
        if (*at != '\0')
          return false;
        expected_ = Expect::nameStart;
        ++position_;
        break;
      case Expect::nameStart:
        if (*at == '\0')
          return false; /* an empty name */
        nameAt_ = position_;
        expected_ = Expect::nameEnd;
        break;
      case Expect::nameEnd:
        if (skipToZero(bytes, length)) {
          distinct_.add(bytes + nameAt_);
          expected_ = Expect::kind;
        }
        break;
      case Expect::kind:
        if (!zel::isSymbolKind(static_cast<signed char>(*at)))
          return false;
        ++records_;
        expected_ = Expect::typeEnd;
        ++position_;
        break;
      case Expect::typeEnd:
        if (skipToZero(bytes, length))
          expected_ = Expect::nameStart;
        break;
      }
    }
    return true;
  }

  /* True when the bytes taken so far are a whole image. */
  bool isWhole(unsigned length) const {
    return length == 0 || expected_ == Expect::nameStart;
  }

  long records() const { return records_; }
  const DistinctNames &distinct() const { return distinct_; }

private:
  enum class Expect { firstLead, nameStart, nameEnd, kind, typeEnd };

  /* Moves past the next zero byte before length; false (and at length)
     when there is none yet. */
  bool skipToZero(const char *bytes, unsigned length) {
    const void *zero = std::memchr(bytes + position_, 0, length - position_);
    if (!zero) {
      position_ = length;
      return false;
    }
    position_ =
        static_cast<unsigned>(static_cast<const char *>(zero) - bytes) + 1;
    return true;
  }

  Expect expected_ = Expect::firstLead;
  unsigned position_ = 0;
  unsigned nameAt_ = 0;
  long records_ = 0;
  DistinctNames distinct_;
};

/* Position of the first zero byte at or after p; the caller guarantees
   one before the end. */
const char *nextZero(const char *p) { return p + std::strlen(p); }

/* Enters every record of a well-formed image, in place. */
void enterImage(SymbolTable *table, const char *bytes, unsigned length) {
  if (length == 0)
    return;
  const char *last = bytes + length - 1;
  for (const char *cursor = bytes; cursor < last;) {
    const char *separator = nextZero(cursor + 1);
    NSMapInsert(table->map, cursor, separator);
    cursor = nextZero(separator + 1);
  }
}

/* Map room for a file's names: the estimate with an eighth to spare (the
   map grows should it still fall short), never more than its records. */
unsigned capacityFor(long records, const DistinctNames &distinct) {
  const unsigned estimate = distinct.estimate();
  unsigned capacity = estimate + estimate / 8 + 16;
  if (capacity < estimate || static_cast<unsigned long>(records) < capacity)
    capacity = static_cast<unsigned>(records);
  return capacity > zel::symbolTableCapacity ? capacity
                                             : zel::symbolTableCapacity;
}

/* Lengths are 32-bit (NSData's), and one byte more is read to see the
   end of the file: larger files cannot be held. */
constexpr unsigned long long largestImage = 0xfffffffeull;

/* A file is read at most this much at a time, and checked after each
   read; until its first piece has passed, no more room than that is
   taken, whatever size the file claims. */
constexpr unsigned readPiece = 1u << 20;

/* A file's contents in one malloc'ed block. */
struct Contents {
  char *bytes = nullptr;
  unsigned length = 0;
};

/* Room for the next read: the file's size (and a byte to see its end)
   once the first piece has passed the check, twice as much once a file
   outgrows that. */
unsigned long long nextRoom(unsigned long long room,
                            unsigned long long expected) {
  unsigned long long next = room < expected + 1 ? expected + 1 : room * 2;
  return next > largestImage + 1 ? largestImage + 1 : next;
}

bool growTo(Contents *contents, unsigned long long room) {
  char *grown = static_cast<char *>(
      std::realloc(contents->bytes, static_cast<size_t>(room)));
  if (!grown)
    return false;
  contents->bytes = grown;
  return true;
}

/* One read of at most a piece into the room left; the bytes read, 0 at
   the end of the file, -1 on an error. */
long readPieceInto(int descriptor, Contents *contents,
                   unsigned long long room) {
  unsigned long long wanted = room - contents->length;
  if (wanted > readPiece)
    wanted = readPiece;
  for (;;) {
    const ssize_t got = read(descriptor, contents->bytes + contents->length,
                             static_cast<size_t>(wanted));
    if (got >= 0 || errno != EINTR)
      return got;
  }
}

/* Reads to the end of the file into contents (expecting about expected
   bytes), checking each piece as it arrives; false on a read error, at the
   first byte that breaks the format, or past largestImage. */
bool readChecked(int descriptor, unsigned long long expected,
                 Contents *contents, ImageCheck *check) {
  unsigned long long room = expected + 1 < readPiece ? expected + 1 : readPiece;
  if (!growTo(contents, room))
    return false;
  for (;;) {
    const long got = readPieceInto(descriptor, contents, room);
    if (got == 0)
      return check->isWhole(contents->length);
    if (got < 0)
      return false;
    contents->length += static_cast<unsigned>(got);
    if (!check->take(contents->bytes, contents->length))
      return false;
    if (contents->length < room)
      continue;
    if (room > largestImage)
      return false; /* the file grew past what a table can address */
    room = nextRoom(room, expected);
    if (!growTo(contents, room))
      return false;
  }
}

/* The whole contents of the regular file at path, checked, or false when
   it cannot be read or is not a well-formed image. Pipes, devices and
   sockets are refused before they are opened (and opened without waiting,
   should one take the file's place meanwhile): none of them is a table,
   and reading one may never end. So are files larger than a table can
   address. */
bool readImage(const char *path, Contents *contents, ImageCheck *check) {
  struct stat64 info;
  if (stat64(path, &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<unsigned long long>(info.st_size) > largestImage)
    return false;
  const int descriptor =
      open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_LARGEFILE);
  if (descriptor < 0)
    return false;
  bool whole = fstat64(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
               static_cast<unsigned long long>(info.st_size) <= largestImage;
  if (whole)
    whole =
        readChecked(descriptor, static_cast<unsigned long long>(info.st_size),
                    contents, check);
  close(descriptor);
  if (!whole) {
    std::free(contents->bytes);
    *contents = Contents{};
  }
  return whole;
}

/* Holds the image's bytes in the table's data and enters its records.
   Runs inside an exception frame: nothing here has a destructor. */
void fillTable(SymbolTable *table, id path, const Contents &contents) {
  id data = objc_send_class("NSData", "dataWithBytes:length:",
                            static_cast<const void *>(contents.bytes),
                            contents.length);
  table->data = objc_send(data, "retain");
  table->path = objc_send(path, "retain");
  enterImage(table,
             static_cast<const char *>(objc_send<const void *>(data, "bytes")),
             contents.length);
}

/* The table of an image already checked, its map sized by its distinct
   names; null when memory runs out. Foundation raises when it runs out of
   memory: that is caught here, so that the load answers null instead of
   unwinding through its caller. */
SymbolTable *tableOfImage(id path, const Contents &contents,
                          const ImageCheck &check) {
  SymbolTable *table =
      zel::newSymbolTable(capacityFor(check.records(), check.distinct()));
  if (!table)
    return nullptr;
  volatile bool filled = false;
  NS_DURING
  fillTable(table, path, contents);
  filled = true;
  NS_HANDLER
  NS_ENDHANDLER
  if (!filled) {
    ZelObjC_DestroySymbolTable(table); /* not registered yet */
    return nullptr;
  }
  return table;
}

/* The table of the file at path, or null when the file cannot be read or
   is not a well-formed image. */
SymbolTable *readTable(id pathString, const char *path) {
  Contents contents;
  ImageCheck check;
  if (!readImage(path, &contents, &check))
    return nullptr;
  SymbolTable *table = tableOfImage(pathString, contents, check);
  std::free(contents.bytes);
  return table;
}

/* ---- writing ---- */

/* Writes one stored string as its text, then its terminating zero. */
void writeStored(FILE *file, const void *stored) {
  std::fputs(zel::storedText(stored), file);
}

void writeTable(FILE *file, SymbolTable *table) {
  NSMapEnumerator pairs = NSEnumerateMapTable(table->map);
  void *name;
  void *value;
  while (NSNextMapEnumeratorPair(&pairs, &name, &value)) {
    std::fputc(0, file);
    writeStored(file, name);
    std::fputc(0, file);
    writeStored(file, value);
  }
  std::fputc(0, file);
}

/* Writes the table to an open descriptor and closes it; false when any
   write, the flush to the disk or the close failed. */
bool writeAndClose(int descriptor, SymbolTable *table, bool toDisk) {
  FILE *file = fdopen(descriptor, "wb");
  if (!file) {
    close(descriptor);
    return false;
  }
  writeTable(file, table);
  bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
  if (written && toDisk)
    written = fsync(fileno(file)) == 0;
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

/* Devices and pipes hold no previous file to keep: they are written in
   place, as they stand, without waiting for a pipe's reader. */
bool saveInPlace(const char *path, SymbolTable *table) {
  const int descriptor =
      open(path, O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_LARGEFILE);
  if (descriptor < 0)
    return false;
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags == -1 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    close(descriptor);
    return false;
  }
  return writeAndClose(descriptor, table, false);
}

/* The file a save replaces: the path itself, or the file a symbolic link
   there leads to (the link stays). Malloc'ed; null when memory runs out. */
char *replacedFile(const char *path) {
  struct stat64 link;
  if (lstat64(path, &link) == 0 && S_ISLNK(link.st_mode))
    if (char *target = realpath(path, nullptr))
      return target;
  return zel::copySymbolText(path, nullptr);
}

/* A fresh file beside target for the new contents, named
   ".<file name>.<process>.<count>~" and made like fopen's (mode 0666 less
   the umask); its descriptor, or -1. temporary receives its name
   (malloc'ed). */
int createBeside(const char *target, char **temporary) {
  static unsigned saves; /* tells apart the saves of one process */
  const char *slash = std::strrchr(target, '/');
  const size_t folderLength =
      slash ? static_cast<size_t>(slash - target) + 1 : 0;
  const size_t room = std::strlen(target) + 40;
  char *name = static_cast<char *>(std::malloc(room));
  if (!name)
    return -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned count = __atomic_fetch_add(&saves, 1, __ATOMIC_RELAXED);
    std::snprintf(name, room, "%.*s.%s.%ld.%u~", static_cast<int>(folderLength),
                  target, target + folderLength, static_cast<long>(getpid()),
                  count);
    const int descriptor =
        open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_LARGEFILE, 0666);
    if (descriptor >= 0) {
      *temporary = name;
      return descriptor;
    }
    if (errno != EEXIST)
      break;
  }
  std::free(name);
  return -1;
}

/* Writes the table beside target and renames it over target once every
   byte is written, on the disk and closed: until then target is left as it
   was, and readers see the old file or the new one, never a part. A
   target that exists keeps its permission bits, and one that may not be
   written is refused, as opening it for writing would be. */
bool saveReplacing(const char *target, SymbolTable *table) {
  struct stat64 old;
  const bool exists = stat64(target, &old) == 0;
  if (exists) {
    const int probe = open(target, O_WRONLY | O_CLOEXEC | O_NOCTTY |
                                       O_NONBLOCK | O_LARGEFILE);
    if (probe < 0)
      return false;
    close(probe);
  }
  char *temporary = nullptr;
  const int descriptor = createBeside(target, &temporary);
  if (descriptor < 0)
    return false;
  if (exists) { /* as far as this process may: the owner only for root */
    (void)fchown(descriptor, old.st_uid, old.st_gid);
    (void)fchmod(descriptor, old.st_mode & 07777);
  }
  bool saved = writeAndClose(descriptor, table, true);
  if (saved)
    saved = rename(temporary, target) == 0;
  if (!saved)
    unlink(temporary);
  std::free(temporary);
  return saved;
}

/* Saves with SIGXFSZ held back: a write past the file-size limit then
   fails (EFBIG) instead of ending the process with the temporary file
   still beside the target. The signal stays pending and arrives, with its
   usual effect, once the temporary is gone and the mask is back. */
bool saveReplacingWithoutDying(const char *target, SymbolTable *table) {
  sigset_t fileTooLarge, previous;
  sigemptyset(&fileTooLarge);
  sigaddset(&fileTooLarge, SIGXFSZ);
  const bool held = pthread_sigmask(SIG_BLOCK, &fileTooLarge, &previous) == 0;
  const bool saved = saveReplacing(target, table);
  if (held)
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return saved;
}

} // namespace

/* A failed save leaves the previous file as it was: the new contents are
   written beside it and take its place only when complete. A save that
   passes the file-size limit removes what it wrote before the process
   gets the signal. */
ZEL_EXPORT BOOL ZelObjC_SaveSymbolTable(SymbolTable *table,
                                        const char *path) noexcept {
  if (!table || !path || path[0] == '\0')
    return NO;
  struct stat64 info;
  if (stat64(path, &info) == 0 && !S_ISREG(info.st_mode))
    return S_ISDIR(info.st_mode) ? NO : saveInPlace(path, table) ? YES : NO;
  char *target = replacedFile(path);
  if (!target)
    return NO;
  const bool saved = saveReplacingWithoutDying(target, table);
  std::free(target);
  return saved ? YES : NO;
}

/* A file that is not a well-formed image is refused like one that cannot
   be read: in-image strings must start with their zero marker and every
   scan must stop at the terminator. A refused file registers nothing. */
ZEL_EXPORT SymbolTable *ZelObjC_LoadSymbolTable(const char *path) noexcept {
  if (!path)
    return nullptr;
  id pathString = objc_send_class("NSString", "stringWithCString:", path);
  if (pathString == nil)
    return nullptr;
  if (loaded) {
    auto *known = static_cast<SymbolTable *>(NSMapGet(loaded, pathString));
    if (known) {
      ++known->refCount;
      return known;
    }
  } else {
    loaded = NSCreateMapTable(NSObjectMapKeyCallBacks,
                              NSNonOwnedPointerMapValueCallBacks, 16);
  }
  SymbolTable *table = readTable(pathString, path);
  if (table)
    NSMapInsert(loaded, pathString, table);
  return table;
}

void zel::unregisterLoadedTable(id path) {
  if (loaded)
    NSMapRemove(loaded, path);
}
