/* The object registry: handles with serials, kept current by the object
   notification hooks of zelObjCRuntime. */
#include "bridge.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace zelbridge {

namespace {

/* Both directions: an object's serial, a serial's object. Made on first
   use and never freed (hooks may run until the process ends). */
struct Registry {
  /* A serial's object now, and the address it was first seen at (which
     its text keeps after a move): one entry, so that a new handle costs
     one insertion here. */
  struct Entry {
    id object;
    uintptr_t firstAddress;
  };
  std::unordered_map<id, unsigned> serials;
  std::unordered_map<unsigned, Entry> objects;
  unsigned nextSerial = 1;
};

Registry *registry_ = nullptr;

/* The last handle resolved: a loop sends to one receiver again. Cleared
   whenever an object goes or moves. */
unsigned lastSerial = 0;
id lastObject = nil;

void forget(id object) {
  lastSerial = 0;
  auto found = registry_->serials.find(object);
  if (found == registry_->serials.end())
    return;
  registry_->objects.erase(found->second);
  registry_->serials.erase(found);
}

/* Objects by address, for the hook that hears of every allocation: open
   addressing with linear probing, so that an object costs no allocation
   of its own, and removal by shifting the entries behind back, so that no
   marks of removed entries pile up. nil marks a free slot. */
class ObjectSet {
public:
  void insert(id object) {
    if ((count_ + 1) * 4 > slots_.size() * 3)
      grow();
    size_t at = find(object);
    if (!slots_[at]) {
      slots_[at] = object;
      ++count_;
    }
  }

  bool erase(id object) {
    if (slots_.empty())
      return false;
    size_t hole = find(object);
    if (!slots_[hole])
      return false;
    for (size_t next = step(hole); slots_[next]; next = step(next)) {
      size_t home = homeOf(slots_[next]);
      /* An entry stays unless the hole lies between its home and it. */
      bool stays = hole <= next ? hole < home && home <= next
                                : hole < home || home <= next;
      if (!stays) {
        slots_[hole] = slots_[next];
        hole = next;
      }
    }
    slots_[hole] = nil;
    --count_;
    return true;
  }

  template <typename Visit> void each(Visit visit) const {
    for (id object : slots_)
      if (object)
        visit(object);
  }

private:
  size_t homeOf(id object) const { /* Fibonacci hashing of the address */
    uint32_t address =
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
    return (address * 2654435769u) >> (32 - bits_);
  }
  size_t step(size_t at) const { return (at + 1) & (slots_.size() - 1); }
  /* The object's slot, or the free one where it would go. */
  size_t find(id object) const {
    size_t at = homeOf(object);
    while (slots_[at] && slots_[at] != object)
      at = step(at);
    return at;
  }
  void grow() {
    std::vector<id> old(std::size_t{1} << (bits_ + 1), nil);
    old.swap(slots_);
    ++bits_;
    count_ = 0;
    for (id object : old)
      if (object)
        insert(object);
  }

  std::vector<id> slots_;
  size_t count_ = 0;
  int bits_ = 5; /* slots_ has 2^bits_ entries once made */
};

/* Every object allocated, once a script asked for instances (objects are
   registered when a script first sees them, not here). */
ObjectSet *live = nullptr;

void noteRegistered(id object) {
  if (live)
    live->insert(object);
}

void noteMoved(id oldObject, id newObject) {
  lastSerial = 0;
  if (live && live->erase(oldObject))
    live->insert(newObject);
  auto found = registry_->serials.find(oldObject);
  if (found == registry_->serials.end())
    return;
  unsigned serial = found->second;
  registry_->serials.erase(found);
  forget(newObject);
  registry_->serials[newObject] = serial;
  registry_->objects[serial].object = newObject;
}

void noteFreed(id object) {
  if (live)
    live->erase(object);
  if (object == lastObject)
    lastSerial = 0;
  auto found = registry_->serials.find(object);
  if (found == registry_->serials.end())
    return; /* never seen by a script: nothing else to forget */
  objectFreed(object, found->second);
  forget(object);
}

IdHooks hooks_ = {noteRegistered, noteMoved, noteFreed, nullptr};

Registry &registry() {
  if (!registry_) {
    registry_ = new Registry;
    zelObjC_InstallIdHooks(&hooks_);
  }
  return *registry_;
}

char hexDigit(unsigned value) { return "0123456789abcdef"[value & 15]; }

/* "0x" and eight hexadecimal digits, into out (11 bytes). */
void writeAddress(uintptr_t address, char *out) {
  out[0] = '0';
  out[1] = 'x';
  for (int i = 0; i < 8; ++i)
    out[2 + i] = hexDigit(static_cast<unsigned>(address >> (28 - 4 * i)));
  out[10] = '\0';
}

} // namespace

Handle handleFor(id object) {
  Handle handle;
  if (!object)
    return handle;
  if (object == lastObject && lastSerial) { /* the last one resolved */
    handle.object = object;
    handle.serial = lastSerial;
    return handle;
  }
  Registry &table = registry();
  auto found = table.serials.find(object);
  if (found != table.serials.end()) {
    handle.object = object;
    handle.serial = found->second;
    return handle;
  }
  unsigned serial = table.nextSerial++;
  table.serials.emplace(object, serial);
  table.objects.emplace(
      serial, Registry::Entry{object, reinterpret_cast<uintptr_t>(object)});
  handle.object = object;
  handle.serial = serial;
  return handle;
}

/* A handle is honoured only when its serial is live and its address is
   the object's (or the one it was first seen at, which its text keeps
   after a move). */
bool resolve(const Handle &handle, id &object, std::string &error) {
  if (handle.serial == lastSerial && handle.object == lastObject &&
      lastSerial) {
    object = lastObject;
    return true;
  }
  Registry &table = registry();
  auto found = table.objects.find(handle.serial);
  if (handle.serial == 0 || handle.serial >= table.nextSerial) {
    error = "no object " + formatPointer(handle.object) + "#" +
            std::to_string(handle.serial);
    return false;
  }
  if (found == table.objects.end()) {
    error = "object " + formatPointer(handle.object) + " was freed";
    return false;
  }
  const Registry::Entry &entry = found->second;
  if (handle.object != entry.object &&
      reinterpret_cast<uintptr_t>(handle.object) != entry.firstAddress) {
    error = "no object " + formatPointer(handle.object) + "#" +
            std::to_string(handle.serial);
    return false;
  }
  object = entry.object;
  if (handle.object == object) {
    lastSerial = handle.serial;
    lastObject = object;
  }
  return true;
}

size_t registeredCount() { return registry_ ? registry_->serials.size() : 0; }

std::vector<id> liveInstances(Class cls) {
  registry();
  if (!live) { /* from now on, every allocation is heard of */
    live = new ObjectSet;
    zelObjC_SetRegistersIdsOnAlloc(YES);
  }
  std::unordered_set<id> all;
  live->each([&](id object) { all.insert(object); });
  for (auto &[object, serial] : registry_->serials)
    all.insert(object);
  std::vector<id> found;
  for (id object : all)
    if (isInstanceOf(object, cls))
      found.push_back(object);
  return found;
}

std::string formatHandle(const Handle &handle) {
  uintptr_t address = reinterpret_cast<uintptr_t>(handle.object);
  if (registry_) {
    auto found = registry_->objects.find(handle.serial);
    if (found != registry_->objects.end())
      address = found->second.firstAddress;
  }
  char text[32];
  writeAddress(address, text);
  std::snprintf(text + 10, sizeof text - 10, "#%u", handle.serial);
  return text;
}

bool parseHandle(const char *text, Handle &out) {
  if (std::strncmp(text, "0x", 2) != 0)
    return false;
  char *end = nullptr;
  unsigned long address = std::strtoul(text + 2, &end, 16);
  if (end == text + 2 || *end != '#' || !end[1])
    return false;
  const char *serialText = end + 1;
  unsigned long serial = std::strtoul(serialText, &end, 10);
  if (*end || serial == 0 || *serialText < '0' || *serialText > '9')
    return false;
  out.object = reinterpret_cast<id>(address);
  out.serial = static_cast<unsigned>(serial);
  return true;
}

std::string formatPointer(const void *pointer) {
  char text[11];
  writeAddress(reinterpret_cast<uintptr_t>(pointer), text);
  return text;
}

bool parsePointer(const char *text, void *&out) {
  if (!*text)
    return false;
  char *end = nullptr;
  bool hex = std::strncmp(text, "0x", 2) == 0;
  errno = 0;
  unsigned long long value =
      hex ? std::strtoull(text + 2, &end, 16) : std::strtoull(text, &end, 10);
  if (*end || end == text + (hex ? 2 : 0) || errno || value > UINTPTR_MAX ||
      *text == '-')
    return false;
  out = reinterpret_cast<void *>(static_cast<uintptr_t>(value));
  return true;
}

std::string describe(id object) {
  if (!object)
    return "nil";
  Class cls = object->isa;
  if (cls->info & CLS_META)
    return reinterpret_cast<Class>(object)->name;
  return std::string("<") + cls->name + " " + formatPointer(object) + ">";
}

bool objectFrom(Script &script, ScriptValue value, bool classes, id &object,
                std::string &error) {
  Handle handle;
  if (script.getHandle(value, handle))
    return resolve(handle, object, error);
  if (script.isNil(value, false)) {
    object = nil;
    return true;
  }
  Arena arena;
  const char *text = script.getText(value, arena);
  if (classes) {
    if (id cls = objc_lookUpClass(text)) {
      object = cls;
      return true;
    }
    error = "no class named " + cut(text);
    return false;
  }
  error = "expected an object but got " + quote(text);
  return false;
}

/* ---- Arena ---- */

const char *Arena::keep(const char *text, size_t length) {
  char *copy = static_cast<char *>(bytes(length + 1));
  std::memcpy(copy, text, length);
  return copy;
}

void *Arena::bytes(size_t size) {
  blocks_.emplace_back(new char[size ? size : 1]());
  return blocks_.back().get();
}

} // namespace zelbridge
