/* Foundation: the root class NSObject, strings, data, files, arrays,
   autorelease pools, bundles, exceptions, map tables and zones.

   Classes are reached by messages (see <objc/objc-send.h>); this header
   declares the C functions, records and constants. Objects of every class
   are typed id here. */
#ifndef FOUNDATION_FOUNDATION_H
#define FOUNDATION_FOUNDATION_H

#include <setjmp.h>
#include <objc/objc-runtime.h>

#ifdef __cplusplus
#include <objc/objc-send.h>
#endif

OBJC_BEGIN_DECLS

/* ======================= Zones ======================= */

typedef struct _NSZone NSZone; /* opaque */

OBJC_EXPORT NSZone *NSDefaultMallocZone(void) OBJC_NOEXCEPT;
/* The zone that holds the block (the default zone for any malloc block). */
OBJC_EXPORT NSZone *NSZoneFromPointer(void *ptr) OBJC_NOEXCEPT;
OBJC_EXPORT void *NSZoneMalloc(NSZone *zone, unsigned size) OBJC_NOEXCEPT;
OBJC_EXPORT void *NSZoneCalloc(NSZone *zone, unsigned count, unsigned size)
    OBJC_NOEXCEPT;
OBJC_EXPORT void *NSZoneRealloc(NSZone *zone, void *ptr, unsigned size)
    OBJC_NOEXCEPT;
OBJC_EXPORT void NSZoneFree(NSZone *zone, void *ptr) OBJC_NOEXCEPT;

/* ======================= Map tables ======================= */

typedef struct _NSMapTable NSMapTable; /* opaque */

typedef struct {
  unsigned (*hash)(NSMapTable *table, const void *key);
  BOOL (*isEqual)(NSMapTable *table, const void *a, const void *b);
  void (*retain)(NSMapTable *table, const void *key);
  void (*release)(NSMapTable *table, void *key);
  id (*describe)(NSMapTable *table, const void *key); /* an NSString */
  const void *notAKeyMarker;
} NSMapTableKeyCallBacks;

typedef struct {
  void (*retain)(NSMapTable *table, const void *value);
  void (*release)(NSMapTable *table, void *value);
  id (*describe)(NSMapTable *table, const void *value);
} NSMapTableValueCallBacks;

/* Enumeration state, returned by value. */
typedef struct {
  NSMapTable *table;
  unsigned index;
} NSMapEnumerator;

/* Keys are objects: hash and isEqual: by message, retained. */
OBJC_EXPORT extern const NSMapTableKeyCallBacks NSObjectMapKeyCallBacks;
/* Keys are pointers, compared by address, not owned. */
OBJC_EXPORT extern const NSMapTableKeyCallBacks
    NSNonOwnedPointerMapKeyCallBacks;
/* Values are objects, retained while in the table. */
OBJC_EXPORT extern const NSMapTableValueCallBacks NSObjectMapValueCallBacks;
/* Values are pointers, not owned. */
OBJC_EXPORT extern const NSMapTableValueCallBacks
    NSNonOwnedPointerMapValueCallBacks;

OBJC_EXPORT NSMapTable *NSCreateMapTable(NSMapTableKeyCallBacks keyCallBacks,
                                         NSMapTableValueCallBacks valueCallBacks,
                                         unsigned capacity) OBJC_NOEXCEPT;
/* Releases every key and value through the callbacks, then the table. */
OBJC_EXPORT void NSFreeMapTable(NSMapTable *table) OBJC_NOEXCEPT;
/* The value for an equal key, or null. */
OBJC_EXPORT void *NSMapGet(NSMapTable *table, const void *key) OBJC_NOEXCEPT;
/* Stores the pair. An equal key's entry takes the new key and value; the
   old key and value go through the release callbacks where they differ
   from the new ones. */
OBJC_EXPORT void NSMapInsert(NSMapTable *table, const void *key,
                             const void *value) OBJC_NOEXCEPT;
/* Removes the pair of an equal key, releasing key and value. */
OBJC_EXPORT void NSMapRemove(NSMapTable *table, const void *key)
    OBJC_NOEXCEPT;
OBJC_EXPORT unsigned NSCountMapTable(NSMapTable *table) OBJC_NOEXCEPT;
OBJC_EXPORT NSMapEnumerator NSEnumerateMapTable(NSMapTable *table)
    OBJC_NOEXCEPT;
/* Stores the next pair (either pointer may be null) and answers YES; NO
   when every pair has been seen. */
OBJC_EXPORT BOOL NSNextMapEnumeratorPair(NSMapEnumerator *enumerator,
                                         void **key, void **value)
    OBJC_NOEXCEPT;

/* ======================= Exceptions ======================= */

OBJC_EXPORT extern id NSInvalidArgumentException;        /* NSString */
OBJC_EXPORT extern id NSInternalInconsistencyException;  /* NSString */
OBJC_EXPORT extern id NSRangeException;                  /* NSString */
OBJC_EXPORT extern id NSFileHandleOperationException;    /* NSString */

/* A handler frame, owned by the caller (usually on its stack). It begins
   with the host's jmp_buf, used with _setjmp/_longjmp: glibc's i386 buffer
   is 156 bytes, so the frame is larger than the 80 bytes of the original
   platform; nothing relies on its size. Frames are linked per thread. */
typedef struct _NSHandler2 {
  jmp_buf _state;
  struct _NSHandler2 *_next;
  id _exception;
  void *_reserved[2];
} NSHandler2;

/* Links a frame as the innermost one of this thread. */
OBJC_EXPORT void _NSAddHandler(NSHandler2 *handler) OBJC_NOEXCEPT;
/* Unlinks the frame (and any inner frames left behind). */
OBJC_EXPORT void _NSRemoveHandler(NSHandler2 *handler) OBJC_NOEXCEPT;
/* The exception that returned through the frame. */
OBJC_EXPORT id _NSExceptionObjectFromHandler(NSHandler2 *handler)
    OBJC_NOEXCEPT;
/* Unwinds to the innermost frame with the exception; with no frame linked,
   prints name and reason on stderr and aborts. */
OBJC_EXPORT void _NSRaiseException(id exception) __attribute__((noreturn));

/* Local variables changed inside NS_DURING and read in NS_HANDLER must be
   volatile. Nothing with a destructor may live inside the frame: it is
   left with _longjmp. */
#define NS_DURING                                                            \
  {                                                                          \
    NSHandler2 _localHandler;                                                \
    _NSAddHandler(&_localHandler);                                           \
    if (!_setjmp(_localHandler._state)) {

#define NS_HANDLER                                                           \
  _NSRemoveHandler(&_localHandler);                                          \
  }                                                                          \
  else {                                                                     \
    id localException = _NSExceptionObjectFromHandler(&_localHandler);

#define NS_ENDHANDLER                                                        \
  (void)localException;                                                      \
  }                                                                          \
  }

#define NS_VALUERETURN(value, type)                                          \
  do {                                                                       \
    type _nsValue = (value);                                                 \
    _NSRemoveHandler(&_localHandler);                                        \
    return _nsValue;                                                         \
  } while (0)

#define NS_VOIDRETURN                                                        \
  do {                                                                       \
    _NSRemoveHandler(&_localHandler);                                        \
    return;                                                                  \
  } while (0)

/* ======================= Constant strings ======================= */

/* An NSConstantString instance: class, characters, length. */
typedef struct {
  Class isa;
  const char *characters;
  unsigned int length;
} NSConstantStringRecord;

/* The class NSConstantString itself. */
OBJC_EXPORT extern struct objc_class _NSConstantStringClassReference;

OBJC_END_DECLS

#ifdef __cplusplus
/* A string constant: NSSTR("text") is an NSConstantString. */
#define NSSTR(text)                                                          \
  ([]() -> id {                                                              \
    static NSConstantStringRecord nsstr_record = {                           \
        &_NSConstantStringClassReference, text, sizeof(text) - 1};           \
    return reinterpret_cast<id>(&nsstr_record);                              \
  }())
#endif

#endif
