/* Object notifications: hooks on the runtime's allocation functions and on
   NXProxy that tell caller-installed IdHooks records of objects coming into
   being, moving and going away. The records are the registry; nothing is
   stored here but the list of records and the displaced functions. */
#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

using AllocFn = id (*)(Class, unsigned);
using ZoneAllocFn = id (*)(Class, unsigned, void *);
using CopyFn = id (*)(id, unsigned);
using ZoneCopyFn = id (*)(id, unsigned, void *);
using ReallocFn = id (*)(id, unsigned);
using ZoneReallocFn = id (*)(id, unsigned, void *);
using DeallocFn = id (*)(id);
using FreeProxyFn = id (*)(id, SEL);
using DecodeUsingFn = id (*)(id, SEL, id);

IdHooks *_hooks = nullptr; /* newest record first */
BOOL registerOnAlloc = NO;

/* The runtime's functions as they were at the first installation. */
AllocFn _preZelObjC_alloc = nullptr;
ZoneAllocFn _preZelObjC_zoneAlloc = nullptr;
CopyFn _preZelObjC_copy = nullptr;
ZoneCopyFn _preZelObjC_zoneCopy = nullptr;
ReallocFn _preZelObjC_realloc = nullptr;
ZoneReallocFn _preZelObjC_zoneRealloc = nullptr;
DeallocFn _preZelObjC_dealloc = nullptr;
FreeProxyFn _preZelObjC_freeProxy = nullptr;
DecodeUsingFn _preZelObjC_decodeUsing = nullptr;

/* ---- Walking the records, newest first ---- */

void notifyRegister(id object) {
  for (IdHooks *hooks = _hooks; hooks; hooks = hooks->next)
    hooks->registerId(object);
}

void notifyMove(id oldObject, id newObject) {
  for (IdHooks *hooks = _hooks; hooks; hooks = hooks->next)
    hooks->moveId(oldObject, newObject);
}

void notifyUnregister(id object) {
  for (IdHooks *hooks = _hooks; hooks; hooks = hooks->next)
    hooks->unregisterId(object);
}

/* A reallocation or decoding that answers another object moved it; one
   that answers nil failed, and the old object still lives. */
id announceMove(id oldObject, id newObject) {
  if (newObject && newObject != oldObject)
    notifyMove(oldObject, newObject);
  return newObject;
}

/* ---- Replacements: each passes its arguments on unchanged ---- */

id zelObjC_alloc(Class cls, unsigned extraBytes) {
  id object = _preZelObjC_alloc(cls, extraBytes);
  notifyRegister(object);
  return object;
}

id zelObjC_zoneAlloc(Class cls, unsigned extraBytes, void *zone) {
  id object = _preZelObjC_zoneAlloc(cls, extraBytes, zone);
  notifyRegister(object);
  return object;
}

id zelObjC_copy(id object, unsigned extraBytes) {
  id copy = _preZelObjC_copy(object, extraBytes);
  notifyRegister(copy);
  return copy;
}

id zelObjC_zoneCopy(id object, unsigned extraBytes, void *zone) {
  id copy = _preZelObjC_zoneCopy(object, extraBytes, zone);
  notifyRegister(copy);
  return copy;
}

id zelObjC_realloc(id object, unsigned size) {
  return announceMove(object, _preZelObjC_realloc(object, size));
}

id zelObjC_zoneRealloc(id object, unsigned size, void *zone) {
  return announceMove(object, _preZelObjC_zoneRealloc(object, size, zone));
}

/* The records hear of the object while its memory is still valid. */
id zelObjC_dealloc(id object) {
  notifyUnregister(object);
  return _preZelObjC_dealloc(object);
}

id zelObjC_freeProxy(id self, SEL _cmd) {
  notifyUnregister(self);
  return _preZelObjC_freeProxy(self, _cmd);
}

id zelObjC_decodeUsing(id self, SEL _cmd, id coder) {
  return announceMove(self, _preZelObjC_decodeUsing(self, _cmd, coder));
}

/* ---- Installation ---- */

/* Deallocation and reallocation are always watched once a record exists;
   allocation and copy only while the switch is on, so only saved here. */
void hookRuntime() {
  _preZelObjC_dealloc = _dealloc;
  _preZelObjC_realloc = _realloc;
  _preZelObjC_zoneRealloc = _zoneRealloc;
  _dealloc = zelObjC_dealloc;
  _realloc = zelObjC_realloc;
  _zoneRealloc = zelObjC_zoneRealloc;
  _preZelObjC_alloc = _alloc;
  _preZelObjC_zoneAlloc = _zoneAlloc;
  _preZelObjC_copy = _copy;
  _preZelObjC_zoneCopy = _zoneCopy;
}

/* Swaps the implementation in the method record itself; answers the
   displaced one, or null when the class lacks the method. */
IMP replaceMethod(Class cls, const char *selector, IMP replacement) {
  Method method = class_getInstanceMethod(cls, sel_registerName(selector));
  if (!method)
    return nullptr;
  IMP previous = method->method_imp;
  method->method_imp = replacement;
  return previous;
}

/* A process without NXProxy simply has no proxies to watch. */
void hookProxy() {
  Class proxy = reinterpret_cast<Class>(objc_lookUpClass("NXProxy"));
  if (!proxy)
    return;
  _preZelObjC_freeProxy = reinterpret_cast<FreeProxyFn>(replaceMethod(
      proxy, "freeProxy", reinterpret_cast<IMP>(zelObjC_freeProxy)));
  _preZelObjC_decodeUsing = reinterpret_cast<DecodeUsingFn>(replaceMethod(
      proxy, "decodeUsing:", reinterpret_cast<IMP>(zelObjC_decodeUsing)));
}

void setAllocHooks(BOOL on) {
  _alloc = on ? zelObjC_alloc : _preZelObjC_alloc;
  _zoneAlloc = on ? zelObjC_zoneAlloc : _preZelObjC_zoneAlloc;
  _copy = on ? zelObjC_copy : _preZelObjC_copy;
  _zoneCopy = on ? zelObjC_zoneCopy : _preZelObjC_zoneCopy;
}

bool isInstalled(const IdHooks *record) {
  for (const IdHooks *hooks = _hooks; hooks; hooks = hooks->next)
    if (hooks == record)
      return true;
  return false;
}

} // namespace

/* ===================== Exported ===================== */

/* Linking a record twice would make the list a loop. */
ZEL_EXPORT void zelObjC_InstallIdHooks(IdHooks *hooks) noexcept {
  if (isInstalled(hooks))
    return;
  if (!_hooks) {
    hookRuntime();
    hookProxy();
  }
  hooks->next = _hooks;
  _hooks = hooks;
}

/* Before any record is installed there is nothing saved to switch back
   to, so the switch stays off. */
ZEL_EXPORT void zelObjC_SetRegistersIdsOnAlloc(BOOL on) noexcept {
  BOOL value = on ? YES : NO;
  if (value == registerOnAlloc || !_hooks)
    return;
  registerOnAlloc = value;
  setAllocHooks(value);
}

ZEL_EXPORT int zelObjC_RegistersIdsOnAlloc(void) noexcept {
  return registerOnAlloc;
}

ZEL_EXPORT id ZelObjC_RegisterId(id object) noexcept {
  notifyRegister(object);
  return object;
}

ZEL_EXPORT void ZelObjC_UnregisterId(id object) noexcept {
  notifyUnregister(object);
}
