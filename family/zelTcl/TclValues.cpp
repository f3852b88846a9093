/* Tcl values as the bridge core sees them: handles and selectors keep
   what they stand for in their Tcl_Obj, and TclScript reads and makes
   values. */
#include "tcl_bridge.h"

#include <cstring>
#include <string>
#include <vector>

using zelbridge::Handle;
using zelbridge::ScriptValue;

namespace {

using zeltcl::obj;

/* ---- handles as Tcl values ----

   A handle keeps its object and serial in the Tcl_Obj, so that a handle
   used again is not parsed again; its text is made only when asked for.

   A value with this representation holds its object for the script side
   (the bridge's reference); when the value goes, or turns into another
   type (shimmers), its hold goes with the representation. */

void freeHandle(Tcl_Obj *object);
void dupHandle(Tcl_Obj *source, Tcl_Obj *copy);
void handleText(Tcl_Obj *object);

const Tcl_ObjType handleType = {"objcHandle", freeHandle, dupHandle, handleText,
                                nullptr};

void setHandle(Tcl_Obj *object, const Handle &handle) {
  object->internalRep.twoPtrValue.ptr1 = handle.object;
  object->internalRep.twoPtrValue.ptr2 =
      reinterpret_cast<void *>(static_cast<uintptr_t>(handle.serial));
  object->typePtr = &handleType;
  zelbridge::holdHandle(handle);
}

Handle handleOf(Tcl_Obj *object) {
  Handle handle;
  handle.object = static_cast<id>(object->internalRep.twoPtrValue.ptr1);
  handle.serial = static_cast<unsigned>(
      reinterpret_cast<uintptr_t>(object->internalRep.twoPtrValue.ptr2));
  return handle;
}

void dupHandle(Tcl_Obj *source, Tcl_Obj *copy) {
  setHandle(copy, handleOf(source));
}

void freeHandle(Tcl_Obj *object) {
  zelbridge::dropHandle(handleOf(object));
  object->typePtr = nullptr;
}

void handleText(Tcl_Obj *object) {
  std::string text = zelbridge::formatHandle(handleOf(object));
  object->bytes = Tcl_Alloc(static_cast<unsigned>(text.size() + 1));
  std::memcpy(object->bytes, text.c_str(), text.size() + 1);
  object->length = static_cast<int>(text.size());
}

void takeRepresentation(Tcl_Obj *object) {
  if (object->typePtr && object->typePtr->freeIntRepProc)
    object->typePtr->freeIntRepProc(object);
}

/* ---- selectors as Tcl values ----

   The selector word of a send keeps its selector, so that a send in a
   loop looks its name up once. The text never changes. */

void dupSelector(Tcl_Obj *source, Tcl_Obj *copy) {
  copy->internalRep.otherValuePtr = source->internalRep.otherValuePtr;
  copy->typePtr = source->typePtr;
}

const Tcl_ObjType selectorType = {"objcSelector", nullptr, dupSelector, nullptr,
                                  nullptr};

} // namespace

namespace zeltcl {

char *sharedEmptyText() {
  Tcl_Obj *empty = Tcl_NewObj();
  char *bytes = empty->bytes;
  Tcl_IncrRefCount(empty);
  Tcl_DecrRefCount(empty);
  return bytes;
}

bool readHandle(Tcl_Obj *object, Handle &out) {
  if (object->typePtr == &handleType) {
    out = handleOf(object);
    return true;
  }
  const char *text = Tcl_GetString(object);
  if (text[0] != '0' || !zelbridge::parseHandle(text, out))
    return false;
  takeRepresentation(object);
  setHandle(object, out);
  return true;
}

/* ---- TclScript ---- */

bool TclScript::isNil(ScriptValue value, bool forText) {
  if (obj(value)->typePtr == &handleType)
    return false;
  int length = 0;
  const char *text = Tcl_GetStringFromObj(obj(value), &length);
  return (length == 3 && std::strcmp(text, "nil") == 0) ||
         (length == 0 && !forText);
}

bool TclScript::getInteger(ScriptValue value, long long &out) {
  Tcl_WideInt number = 0;
  if (Tcl_GetWideIntFromObj(nullptr, obj(value), &number) != TCL_OK)
    return false;
  /* Tcl wraps unsigned 64-bit values: one without its minus sign that
     came out negative did not fit. */
  if (number < 0 && !std::strchr(Tcl_GetString(obj(value)), '-'))
    return false;
  out = number;
  return true;
}

bool TclScript::getBoolean(ScriptValue value, bool &out) {
  int truth = 0;
  if (Tcl_GetBooleanFromObj(nullptr, obj(value), &truth) != TCL_OK)
    return false;
  out = truth != 0;
  return true;
}

bool TclScript::getDouble(ScriptValue value, double &out) {
  return Tcl_GetDoubleFromObj(nullptr, obj(value), &out) == TCL_OK;
}

const char *TclScript::getText(ScriptValue value, zelbridge::Arena &) {
  return Tcl_GetString(obj(value)); /* lives as long as the value */
}

/* Tcl keeps a NUL inside its text as the two bytes C0 80: those are the
   NULs a C string would be cut at. */
const char *TclScript::getBytes(ScriptValue value, zelbridge::Arena &arena,
                                size_t &length) {
  int size = 0;
  const char *text = Tcl_GetStringFromObj(obj(value), &size);
  length = static_cast<size_t>(size);
  if (!memmem(text, length, "\xC0\x80", 2))
    return text;
  std::string bytes;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\xC0' && i + 1 < length && text[i + 1] == '\x80') {
      bytes += '\0';
      ++i;
    } else {
      bytes += text[i];
    }
  }
  length = bytes.size();
  return arena.keep(bytes.data(), bytes.size());
}

bool TclScript::getItems(ScriptValue value, std::vector<ScriptValue> &items) {
  int count = 0;
  Tcl_Obj **elements = nullptr;
  if (Tcl_ListObjGetElements(nullptr, obj(value), &count, &elements) != TCL_OK)
    return false;
  items.assign(elements, elements + count);
  return true;
}

bool TclScript::getHandle(ScriptValue value, Handle &out) {
  return readHandle(obj(value), out);
}

SEL TclScript::getSelector(ScriptValue value) {
  Tcl_Obj *word = obj(value);
  if (word->typePtr == &selectorType)
    return static_cast<SEL>(word->internalRep.otherValuePtr);
  SEL sel = sel_registerName(Tcl_GetString(word));
  takeRepresentation(word);
  word->internalRep.otherValuePtr = const_cast<objc_selector *>(sel);
  word->typePtr = &selectorType;
  return sel;
}

/* Tcl values are shared and copied on write, so one empty value held for
   ever serves every nil: a send answering nothing makes no value. */
ScriptValue TclScript::newNil() {
  if (!nil_) {
    nil_ = Tcl_NewObj();
    Tcl_IncrRefCount(nil_);
  }
  return nil_;
}
ScriptValue TclScript::newInteger(long long value) {
  return Tcl_NewWideIntObj(value);
}
ScriptValue TclScript::newWideInteger(const char *decimal) {
  return Tcl_NewStringObj(decimal, -1);
}
ScriptValue TclScript::newDouble(double value) {
  return Tcl_NewDoubleObj(value);
}
ScriptValue TclScript::newText(const char *text) {
  return Tcl_NewStringObj(text, -1);
}
/* A NUL among the bytes becomes Tcl's own spelling of it, C0 80. */
ScriptValue TclScript::newBytes(const char *bytes, size_t length) {
  if (!std::memchr(bytes, '\0', length))
    return Tcl_NewStringObj(bytes, static_cast<int>(length));
  std::string text;
  for (size_t i = 0; i < length; ++i)
    if (bytes[i])
      text += bytes[i];
    else
      text += "\xC0\x80";
  return Tcl_NewStringObj(text.data(), static_cast<int>(text.size()));
}
ScriptValue TclScript::newBoolean(bool value) {
  return Tcl_NewBooleanObj(value);
}
ScriptValue TclScript::newList(ScriptValue *items, int count) {
  return Tcl_NewListObj(count, reinterpret_cast<Tcl_Obj **>(items));
}

ScriptValue TclScript::newHandle(const Handle &handle) {
  Tcl_Obj *object = spare_;
  if (object) {
    spare_ = nullptr;
    object->refCount = 0; /* held by nobody else: as good as a new one */
  } else {
    object = Tcl_NewObj();
  }
  object->bytes = nullptr; /* its empty text is Tcl's shared one: no free */
  setHandle(object, handle);
  return object;
}

/* A handle value nobody holds yet (a send's answer) moves into the
   interpreter's result when that is empty and the interpreter's alone,
   which is the case after the reset before each command; its Tcl_Obj
   is kept for the next handle made. A send answering an object then
   neither allocates a value nor frees one. */
void TclScript::setResult(Tcl_Interp *interp, ScriptValue value) {
  Tcl_Obj *made = obj(value);
  Tcl_Obj *current = Tcl_GetObjResult(interp); /* takes in a string result */
  if (made->refCount != 0 || made->typePtr != &handleType || made->bytes ||
      current->refCount != 1 || current->typePtr ||
      current->bytes != emptyText_) {
    Tcl_SetObjResult(interp, made);
    return;
  }
  current->bytes = nullptr;
  made->bytes = emptyText_; /* a plain empty value, as a spare is */
  current->internalRep = made->internalRep;
  current->typePtr = made->typePtr; /* the hold moves with it */
  made->typePtr = nullptr;
  Tcl_IncrRefCount(made);
  if (spare_)
    Tcl_DecrRefCount(made);
  else
    spare_ = made;
}

void TclScript::forgetInterp() {
  interp_ = nullptr;
  if (spare_)
    Tcl_DecrRefCount(spare_);
  spare_ = nullptr;
}

/* A dict: KEY VALUE ... */
ScriptValue TclScript::newMap(ScriptValue *keys, ScriptValue *values,
                              int count) {
  Tcl_Obj *dict = Tcl_NewListObj(0, nullptr);
  for (int i = 0; i < count; ++i) {
    Tcl_ListObjAppendElement(nullptr, dict, obj(keys[i]));
    Tcl_ListObjAppendElement(nullptr, dict, obj(values[i]));
  }
  return dict;
}

ScriptValue TclScript::newPointer(void *pointer) {
  return Tcl_NewStringObj(zelbridge::formatPointer(pointer).c_str(), -1);
}

void TclScript::discard(ScriptValue value) {
  Tcl_IncrRefCount(obj(value));
  Tcl_DecrRefCount(obj(value));
}

void *TclScript::keep(ScriptValue value) {
  Tcl_IncrRefCount(obj(value));
  return value;
}

void TclScript::unkeep(void *hold) { Tcl_DecrRefCount(obj(hold)); }

} // namespace zeltcl
