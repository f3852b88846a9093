/* Handle objects: how an Objective-C object or class is seen in
   JavaScript. A global has one handle object per live object, so that
   identity is the object's: two sends answering the same object answer the
   same (===) handle object, which works as a key of a Map or a member of a
   Set. The global finds its handle objects by the registry's serial, held
   weakly: a handle object nobody refers to is collected as any object is,
   and its object then goes to a new handle object when it comes back. An
   object freed and a new one at its address have different serials, so the
   new object never gets the handle object of the freed one. */
#include "js_objects.h"

#include <zelBridge/zelBridge.h>

#include <js/GCAPI.h>
#include <js/Object.h>

#include <unordered_map>

using zelbridge::Handle;

namespace {

enum { objectSlot, serialSlot, handleSlotCount };

/* A handle object holds its object for the script side (one reference,
   taken when it is made) until the collector finalizes it (on the main
   thread, so the drop is noted there). */
void finalizeHandle(JS::GCContext *, JSObject *object);

const JSClassOps handleOps = {nullptr, nullptr, nullptr,        nullptr,
                              nullptr, nullptr, finalizeHandle, nullptr,
                              nullptr, nullptr};

JSClass handleClass = {"ObjCObject",
                       JSCLASS_HAS_RESERVED_SLOTS(handleSlotCount) |
                           JSCLASS_FOREGROUND_FINALIZE,
                       &handleOps,
                       nullptr,
                       nullptr,
                       nullptr};

Handle handleIn(JSObject *object) {
  Handle handle;
  JS::Value pointer = JS::GetReservedSlot(object, objectSlot);
  if (pointer.isUndefined())
    return handle; /* made, but never filled */
  handle.object = static_cast<id>(pointer.toPrivate());
  handle.serial = JS::GetReservedSlot(object, serialSlot).toPrivateUint32();
  return handle;
}

void finalizeHandle(JS::GCContext *, JSObject *object) {
  zelbridge::dropHandle(handleIn(object));
}

/* The handle objects of one global by serial. The collector does not see
   these pointers: before it finalizes a handle object it calls sweep, which
   forgets that handle object (and follows one that was moved). The nodes
   of the map never move, as JS::Heap requires. Kept for the life of the
   process: the engine's last collection at exit still calls sweep. */
struct HandleObjects {
  std::unordered_map<unsigned, JS::Heap<JSObject *>> bySerial;
};

void sweep(JSTracer *trc, void *data) {
  auto &bySerial = static_cast<HandleObjects *>(data)->bySerial;
  for (auto entry = bySerial.begin(); entry != bySerial.end();)
    if (JS_UpdateWeakPointerAfterGC(trc, &entry->second))
      ++entry;
    else
      entry = bySerial.erase(entry);
}

HandleObjects &handleObjectsOf(JSObject *global) {
  return *static_cast<HandleObjects *>(
      JS::GetReservedSlot(global, zeljs::handleObjectsSlot).toPrivate());
}

JSObject *newHandleObject(JSContext *cx, JS::HandleObject global,
                          const Handle &handle) {
  JS::RootedObject prototype(
      cx, &JS::GetReservedSlot(global, zeljs::handlePrototypeSlot).toObject());
  JSObject *object = JS_NewObjectWithGivenProto(cx, &handleClass, prototype);
  if (!object)
    return nullptr;
  JS::SetReservedSlot(object, objectSlot, JS::PrivateValue(handle.object));
  JS::SetReservedSlot(object, serialSlot,
                      JS::PrivateUint32Value(handle.serial));
  zelbridge::holdHandle(handle);
  return object;
}

bool fail(JSContext *cx, const char *message) {
  JS_ReportErrorUTF8(cx, "%s", message);
  return false;
}

/* The object's description, a class's name, or what became of a freed
   object. */
bool handleToString(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  Handle handle;
  if (!zeljs::handleOf(args.thisv(), handle))
    return fail(cx, "toString: not an Objective-C object");
  zelbridge::Script &script =
      zeljs::scriptOfGlobal(JS::CurrentGlobalOrNull(cx));
  JSString *string =
      zeljs::newString(cx, zelbridge::descriptionOf(script, handle).c_str());
  if (!string)
    return false;
  args.rval().setString(string);
  return true;
}

/* Two handle objects are equal when they hold the same live object: of one
   global that is ===, across globals each has a handle object of its own. */
bool handleEquals(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  Handle mine, other;
  if (!zeljs::handleOf(args.thisv(), mine))
    return fail(cx, "equals: not an Objective-C object");
  args.rval().setBoolean(zeljs::handleOf(args.get(0), other) && mine == other);
  return true;
}

const JSFunctionSpec handleFunctions[] = {
    JS_FN("toString", handleToString, 0, 0),
    JS_FN("equals", handleEquals, 1, 0), JS_FS_END};

} // namespace

namespace zeljs {

bool installHandles(JSContext *cx, JS::HandleObject global) {
  JS::RootedObject prototype(cx, JS_NewPlainObject(cx));
  if (!prototype || !JS_DefineFunctions(cx, prototype, handleFunctions))
    return false;
  auto *objects = new HandleObjects;
  if (!JS_AddWeakPointerZonesCallback(cx, sweep, objects)) {
    delete objects;
    return false;
  }
  JS::SetReservedSlot(global, handlePrototypeSlot, JS::ObjectValue(*prototype));
  JS::SetReservedSlot(global, handleObjectsSlot, JS::PrivateValue(objects));
  return true;
}

bool handleOf(JS::HandleValue value, Handle &out) {
  if (!value.isObject() || JS::GetClass(&value.toObject()) != &handleClass)
    return false;
  out = handleIn(&value.toObject());
  return out.serial != 0;
}

JSObject *handleObject(JSContext *cx, JS::HandleObject global,
                       const Handle &handle) {
  auto &bySerial = handleObjectsOf(global).bySerial;
  auto found = bySerial.find(handle.serial);
  /* get() lets an incremental collection know the object is used again. */
  if (found != bySerial.end() && found->second) {
    zelbridge::receiveHandle(handle);
    return found->second.get();
  }
  JSObject *object = newHandleObject(cx, global, handle);
  if (object)
    bySerial[handle.serial] = object;
  return object;
}

} // namespace zeljs
