/* What the script side owns of an object, per object:

   - one reference for its handles, taken when the first script value
     holding a handle of it is made (a Tcl value with the handle's
     representation, a JavaScript handle object, a Lua userdata), and
     given back, into the current autorelease pool, when the last one goes:
     an object a script received therefore lives at least until the end of
     the pool it was received in, and as long as a value holds it beyond;
     results of the alloc, new, copy and mutableCopy families are taken
     over instead of retained again, an init consumes its receiver's
     reference and answers an owned result;
   - each retain the script sent (a release gives one of those back, then
     the handles' reference; no more: a further release is refused);
   - the objects the bridge stored in `@` instance variables of instances
     of script-defined classes, released when overwritten or when the
     instance is freed.

   Values go away at any time (a collector's finalizer, a Tcl value freed
   deep inside Tcl), so a drop is only noted there and settled at the next
   point the bridge is in control. */
#include "bridge.h"

#include <Foundation/Foundation.h>

#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace zelbridge {

namespace {

struct Owned {
  id object = nil;
  int holders = 0;      /* script values holding a handle */
  bool handles = false; /* the handles' reference is held */
  int retains = 0;      /* retains the script sent, not yet given back */
  unsigned pool = 0;    /* the outermost open pool it was received in */
};

/* The pools the bridge opened and has not drained, innermost last. */
struct BridgePool {
  id pool;
  unsigned serial;
};

/* Made at first use, never freed; a plain pointer rather than a guarded
   static, as every handle made asks for it. */
std::vector<BridgePool> *openPools = nullptr;

inline std::vector<BridgePool> &bridgePools() {
  if (!openPools)
    openPools = new std::vector<BridgePool>;
  return *openPools;
}

unsigned nextPoolSerial = 1;

/* The open pool of that serial, or nil once it was drained. */
id openPoolOf(unsigned serial) {
  for (const BridgePool &each : bridgePools())
    if (each.serial == serial)
      return each.pool;
  return nil;
}

std::unordered_map<unsigned, Owned> &owned() {
  static auto *table = new std::unordered_map<unsigned, Owned>;
  return *table;
}

std::vector<Handle> *pendingDrops = nullptr; /* made at the first drop */

std::vector<Handle> &drops() {
  if (!pendingDrops)
    pendingDrops = new std::vector<Handle>;
  return *pendingDrops;
}

/* Objects stored by the bridge in instance variables: (object, offset). */
std::map<std::pair<id, int>, id> &stored() {
  static auto *table = new std::map<std::pair<id, int>, id>;
  return *table;
}

std::unordered_set<Class> &scriptClasses() {
  static auto *classes = new std::unordered_set<Class>;
  return *classes;
}

/* Objects counted: instances whose class answers retain and release
   (Protocol objects, for one, do not), at an address an object can have
   (a method that claims to answer an object but answers a small number
   gives no handle to count). */
bool counted(id object) {
  static auto *known = new std::unordered_map<Class, bool>;
  if (reinterpret_cast<uintptr_t>(object) < 0x10000 ||
      reinterpret_cast<uintptr_t>(object) % alignof(void *) ||
      isClassObject(object))
    return false;
  auto found = known->find(object->isa);
  if (found != known->end())
    return found->second;
  static SEL retain = sel_registerName("retain");
  static SEL release = sel_registerName("release");
  bool answers = class_getInstanceMethod(object->isa, retain) &&
                 class_getInstanceMethod(object->isa, release);
  return (*known)[object->isa] = answers;
}

/* The last entry found: a loop holds and drops one object again. Entries
   stay where they are until their objects go, which forgets it. */
Owned *lastEntry = nullptr;
unsigned lastEntrySerial = 0;

Owned *entryLookedUp(const Handle &handle) {
  auto known = owned().find(handle.serial);
  if (known != owned().end() && known->second.object == handle.object) {
    lastEntry = &known->second;
    lastEntrySerial = handle.serial;
    return lastEntry; /* entries go when their objects do */
  }
  id object = nil;
  std::string error;
  if (!handle.object || !resolve(handle, object, error) || !counted(object))
    return nullptr;
  Owned &entry = owned()[handle.serial];
  entry.object = object;
  return &entry;
}

/* The last entry when it is the handle's, else null. Inline, as every
   handle value made or dropped asks. */
inline Owned *cachedEntry(const Handle &handle) {
  return lastEntry && handle.serial == lastEntrySerial &&
                 lastEntry->object == handle.object
             ? lastEntry
             : nullptr;
}

inline Owned *entryOf(const Handle &handle) {
  Owned *cached = cachedEntry(handle);
  return cached ? cached : entryLookedUp(handle);
}

Owned *entryOf(id object) {
  return object ? entryOf(handleFor(object)) : nullptr;
}

/* The handles' reference goes into the pool the object was received in,
   while that pool is open; once it is drained, the object has had its
   time and the reference goes at once. */
void giveBack(Owned &entry) {
  entry.handles = false;
  if (id pool = openPoolOf(entry.pool))
    objc_send<void>(pool, messages().addObject, entry.object);
  else if (entry.pool == 0) /* received outside every pool of the bridge */
    autoreleaseObject(entry.object);
  else
    releaseObject(entry.object);
}

inline void noteReceived(Owned &entry) {
  if (openPools && !openPools->empty() && !openPoolOf(entry.pool))
    entry.pool = openPools->back().serial;
}

} // namespace

const Messages &messages() {
  static const Messages sent = {
      sel_registerName("retain"),        sel_registerName("release"),
      sel_registerName("autorelease"),   sel_registerName("alloc"),
      sel_registerName("init"),          sel_registerName("addObject:"),
      objc_getClass("NSAutoreleasePool")};
  return sent;
}

id openPool() {
  const Messages &sent = messages();
  id pool = objc_send(objc_send(sent.poolClass, sent.alloc), sent.init);
  bridgePools().push_back(BridgePool{pool, nextPoolSerial++});
  return pool;
}

void closePool(id pool) {
  settleDrops();
  auto &open = bridgePools();
  while (!open.empty()) {
    bool last = open.back().pool == pool;
    open.pop_back();
    if (last)
      break;
  }
  releaseObject(pool);
}

void holdHandle(const Handle &handle) {
  Owned *entry = entryOf(handle);
  if (!entry)
    return;
  noteReceived(*entry);
  if (entry->holders++ == 0 && !entry->handles) {
    retainObject(entry->object);
    entry->handles = true;
  }
}

void receiveHandle(const Handle &handle) {
  if (Owned *entry = entryOf(handle))
    noteReceived(*entry);
}

bool dropsNoted = false;

/* A drop that leaves other holders only counts down, which is safe
   anywhere; the last one is noted, as giving the reference back sends
   messages. */
void dropHandle(const Handle &handle) {
  if (!handle.object)
    return;
  Owned *cached = cachedEntry(handle);
  if (cached && cached->holders > 1) {
    --cached->holders;
    return;
  }
  drops().push_back(handle);
  dropsNoted = true;
}

void settleNotedDrops() {
  auto &pending = drops();
  while (!pending.empty()) {
    Handle handle = pending.back();
    pending.pop_back();
    Owned *known = cachedEntry(handle);
    if (!known) {
      auto found = owned().find(handle.serial);
      if (found == owned().end())
        continue;
      known = &found->second;
    }
    Owned &entry = *known;
    if (entry.holders > 0 && --entry.holders == 0 && entry.handles)
      giveBack(entry);
  }
  dropsNoted = false; /* a drop during a give-back was settled above */
}

void adoptOwned(id object) {
  Owned *entry = entryOf(object);
  if (!entry)
    return;
  if (entry->handles) /* a reference the handles already hold */
    releaseObject(object);
  else
    entry->handles = true;
  if (entry->holders == 0) /* no value holds it: into the pool */
    giveBack(*entry);
}

bool consumeOwned(id object) {
  Owned *entry = entryOf(object);
  if (!entry || !entry->handles)
    return false;
  entry->handles = false;
  return true;
}

void restoreOwned(id object) {
  if (Owned *entry = entryOf(object))
    entry->handles = true;
}

bool scriptRetain(id object) {
  Owned *entry = entryOf(object);
  if (!entry)
    return false;
  retainObject(object);
  ++entry->retains;
  return true;
}

/* release or autorelease sent by the script: one of the references the
   script side holds, or a refusal. */
bool scriptRelease(id object, bool later, std::string &error) {
  Owned *entry = entryOf(object);
  if (!entry)
    return true; /* a class: nothing to count */
  if (entry->retains > 0)
    --entry->retains;
  else if (entry->handles)
    entry->handles = false;
  else {
    error = "object " + formatPointer(object) +
            " was released (the script holds no reference to it)";
    return false;
  }
  if (later)
    autoreleaseObject(object);
  else
    releaseObject(object);
  return true;
}

void noteScriptClass(Class cls) { scriptClasses().insert(cls); }

bool isScriptInstance(id object) {
  if (!object || isClassObject(object))
    return false;
  for (Class cls = object->isa; cls; cls = cls->super_class)
    if (scriptClasses().count(cls))
      return true;
  return false;
}

void storeObjectIvar(id object, int offset, id value) {
  auto key = std::make_pair(object, offset);
  /* Packed instance variables need not be aligned. */
  char *slot = reinterpret_cast<char *>(object) + offset;
  id old = nil;
  std::memcpy(&old, slot, sizeof old);
  if (value)
    retainObject(value);
  std::memcpy(slot, &value, sizeof value);
  auto found = stored().find(key);
  if (found != stored().end() && found->second == old && old)
    releaseObject(old);
  if (value)
    stored()[key] = value;
  else
    stored().erase(key);
}

/* The instance is going: what the bridge stored in it goes back. */
void objectFreed(id object, unsigned serial) {
  if (serial == lastEntrySerial)
    lastEntry = nullptr;
  owned().erase(serial);
  auto &table = stored();
  auto first = table.lower_bound(std::make_pair(object, INT_MIN));
  std::vector<id> values;
  while (first != table.end() && first->first.first == object) {
    values.push_back(first->second);
    first = table.erase(first);
  }
  for (id value : values)
    releaseObject(value);
}

size_t ownedCount() { return owned().size(); }

/* ---- selector families ---- */

namespace {

/* The selector begins with the word (and no lower-case letter follows). */
bool startsWord(const char *name, const char *word) {
  size_t length = std::strlen(word);
  return std::strncmp(name, word, length) == 0 &&
         !(name[length] >= 'a' && name[length] <= 'z');
}

Family familyNamed(const char *name) {
  Family family = Family::plain;
  if (std::strcmp(name, "retain") == 0)
    family = Family::retain;
  else if (std::strcmp(name, "release") == 0)
    family = Family::release;
  else if (std::strcmp(name, "autorelease") == 0)
    family = Family::autorelease;
  else if (startsWord(name, "init"))
    family = Family::init;
  else
    for (const char *word : {"alloc", "new", "copy", "mutableCopy"})
      if (startsWord(name, word))
        family = Family::owning;
  return family;
}

} // namespace

KnownFamily lastFamily;

Family familyLookedUp(SEL sel) {
  static auto *known = new std::unordered_map<SEL, Family>;
  lastFamily.sel = sel;
  auto found = known->find(sel);
  if (found != known->end())
    return lastFamily.family = found->second;
  lastFamily.family = familyNamed(sel_getName(sel));
  return (*known)[sel] = lastFamily.family;
}

/* retain, release and autorelease from a script: counted; the answer is
   the receiver, or nothing. */
bool countedSend(Script &script, Family family, id receiver, int argc,
                 ScriptValue &result, std::string &error) {
  if (argc != 0) {
    error = "expected 0 arguments, got " + std::to_string(argc);
    return false;
  }
  if (family == Family::retain)
    scriptRetain(receiver);
  else if (!scriptRelease(receiver, family == Family::autorelease, error))
    return false;
  result = family == Family::release ? script.newNil()
                                     : script.newHandle(handleFor(receiver));
  return true;
}

} // namespace zelbridge
