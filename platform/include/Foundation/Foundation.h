/** @file
    Foundation: the root class NSObject, strings, data, files, arrays,
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

typedef struct _NSZone NSZone; /**< opaque */

/** The zone of malloc's blocks, made once. */
OBJC_EXPORT NSZone *NSDefaultMallocZone(void) OBJC_NOEXCEPT;
/** The zone that holds the block (the default zone for any malloc block). */
OBJC_EXPORT NSZone *NSZoneFromPointer(void *ptr) OBJC_NOEXCEPT;
/** size bytes from the zone (malloc's for the default zone); null when
   there is no memory. */
OBJC_EXPORT void *NSZoneMalloc(NSZone *zone, unsigned size) OBJC_NOEXCEPT;
/** count times size zero-filled bytes from the zone, as calloc. */
OBJC_EXPORT void *NSZoneCalloc(NSZone *zone, unsigned count,
                               unsigned size) OBJC_NOEXCEPT;
/** The block resized within the zone, as realloc. */
OBJC_EXPORT void *NSZoneRealloc(NSZone *zone, void *ptr,
                                unsigned size) OBJC_NOEXCEPT;
/** Gives the block back to the zone. */
OBJC_EXPORT void NSZoneFree(NSZone *zone, void *ptr) OBJC_NOEXCEPT;

/* ======================= Map tables ======================= */

typedef struct _NSMapTable NSMapTable; /**< opaque */

/** How a map table treats its keys. */
typedef struct {
  /** The key's hash; equal keys hash alike. */
  unsigned (*hash)(NSMapTable *table, const void *key);
  /** YES when two keys are equal. */
  BOOL (*isEqual)(NSMapTable *table, const void *a, const void *b);
  /** Takes a key into the table (null: nothing). */
  void (*retain)(NSMapTable *table, const void *key);
  /** Lets a key go (null: nothing). */
  void (*release)(NSMapTable *table, void *key);
  id (*describe)(NSMapTable *table, const void *key); /**< an NSString */
  const void *notAKeyMarker; /**< a value no key may have */
} NSMapTableKeyCallBacks;

/** How a map table treats its values. */
typedef struct {
  /** Takes a value into the table (null: nothing). */
  void (*retain)(NSMapTable *table, const void *value);
  /** Lets a value go (null: nothing). */
  void (*release)(NSMapTable *table, void *value);
  /** The value's description, an NSString. */
  id (*describe)(NSMapTable *table, const void *value);
} NSMapTableValueCallBacks;

/** Enumeration state, returned by value. */
typedef struct {
  NSMapTable *table; /**< the table walked */
  unsigned index;    /**< the next entry */
} NSMapEnumerator;

/** Keys are objects: hash and isEqual: by message, retained. */
OBJC_EXPORT extern const NSMapTableKeyCallBacks NSObjectMapKeyCallBacks;
/** Keys are pointers, compared by address, not owned. */
OBJC_EXPORT extern const NSMapTableKeyCallBacks
    NSNonOwnedPointerMapKeyCallBacks;
/** Values are objects, retained while in the table. */
OBJC_EXPORT extern const NSMapTableValueCallBacks NSObjectMapValueCallBacks;
/** Values are pointers, not owned. */
OBJC_EXPORT extern const NSMapTableValueCallBacks
    NSNonOwnedPointerMapValueCallBacks;

/** A new empty table with room for capacity pairs (it grows as needed). */
OBJC_EXPORT NSMapTable *
NSCreateMapTable(NSMapTableKeyCallBacks keyCallBacks,
                 NSMapTableValueCallBacks valueCallBacks,
                 unsigned capacity) OBJC_NOEXCEPT;
/** Releases every key and value through the callbacks, then the table. */
OBJC_EXPORT void NSFreeMapTable(NSMapTable *table) OBJC_NOEXCEPT;
/** The value for an equal key, or null. */
OBJC_EXPORT void *NSMapGet(NSMapTable *table, const void *key) OBJC_NOEXCEPT;
/** Stores the pair. An equal key's entry takes the new key and value; the
   old key and value go through the release callbacks where they differ
   from the new ones. */
OBJC_EXPORT void NSMapInsert(NSMapTable *table, const void *key,
                             const void *value) OBJC_NOEXCEPT;
/** Removes the pair of an equal key, releasing key and value. */
OBJC_EXPORT void NSMapRemove(NSMapTable *table, const void *key) OBJC_NOEXCEPT;
/** The number of pairs. */
OBJC_EXPORT unsigned NSCountMapTable(NSMapTable *table) OBJC_NOEXCEPT;
/** Starts a walk of every pair (see NSNextMapEnumeratorPair). */
OBJC_EXPORT NSMapEnumerator NSEnumerateMapTable(NSMapTable *table)
    OBJC_NOEXCEPT;
/** Stores the next pair (either pointer may be null) and answers YES; NO
   when every pair has been seen. */
OBJC_EXPORT BOOL NSNextMapEnumeratorPair(NSMapEnumerator *enumerator,
                                         void **key,
                                         void **value) OBJC_NOEXCEPT;

/* ======================= Exceptions ======================= */

OBJC_EXPORT extern id NSInvalidArgumentException;       /**< NSString */
OBJC_EXPORT extern id NSInternalInconsistencyException; /**< NSString */
OBJC_EXPORT extern id NSRangeException;                 /**< NSString */
OBJC_EXPORT extern id NSFileHandleOperationException;   /**< NSString */

/** A handler frame, owned by the caller (usually on its stack). It begins
   with the host's jmp_buf, used with _setjmp/_longjmp: glibc's i386 buffer
   is 156 bytes, so the frame is larger than the 80 bytes of the original
   platform; nothing relies on its size. Frames are linked per thread. */
typedef struct _NSHandler2 {
  jmp_buf _state;            /**< where a raise returns to */
  struct _NSHandler2 *_next; /**< the next outer frame */
  id _exception;             /**< the exception raised */
  void *_reserved[2];        /**< unused */
} NSHandler2;

/** Links a frame as the innermost one of this thread. */
OBJC_EXPORT void _NSAddHandler(NSHandler2 *handler) OBJC_NOEXCEPT;
/** Unlinks the frame (and any inner frames left behind). */
OBJC_EXPORT void _NSRemoveHandler(NSHandler2 *handler) OBJC_NOEXCEPT;
/** The exception that returned through the frame. */
OBJC_EXPORT id _NSExceptionObjectFromHandler(NSHandler2 *handler) OBJC_NOEXCEPT;
/** Unwinds to the innermost frame with the exception; with no frame linked,
   prints name and reason on stderr and aborts. */
OBJC_EXPORT void _NSRaiseException(id exception) __attribute__((noreturn));

/** Opens a handler frame: the code up to NS_HANDLER runs, and a raise
   inside it continues after NS_HANDLER. Local variables changed inside
   NS_DURING and read in NS_HANDLER must be volatile. Nothing with a
   destructor may live inside the frame: it is left with _longjmp. */
#define NS_DURING                                                              \
  {                                                                            \
    NSHandler2 _localHandler;                                                  \
    _NSAddHandler(&_localHandler);                                             \
    if (!_setjmp(_localHandler._state)) {

/** Ends the guarded code; what follows, up to NS_ENDHANDLER, runs when it
   raised, with the exception in localException. */
#define NS_HANDLER                                                             \
  _NSRemoveHandler(&_localHandler);                                            \
  }                                                                            \
  else {                                                                       \
    id localException = _NSExceptionObjectFromHandler(&_localHandler);

/** Closes the frame opened by NS_DURING. */
#define NS_ENDHANDLER                                                          \
  (void)localException;                                                        \
  }                                                                            \
  }

/** Returns value (of that type) from inside NS_DURING, unlinking the
   frame first. */
#define NS_VALUERETURN(value, type)                                            \
  do {                                                                         \
    type _nsValue = (value);                                                   \
    _NSRemoveHandler(&_localHandler);                                          \
    return _nsValue;                                                           \
  } while (0)

/** Returns from inside NS_DURING, unlinking the frame first. */
#define NS_VOIDRETURN                                                          \
  do {                                                                         \
    _NSRemoveHandler(&_localHandler);                                          \
    return;                                                                    \
  } while (0)

/* ======================= Constant strings ======================= */

/** An NSConstantString instance: class, characters, length. */
typedef struct {
  Class isa;              /**< &_NSConstantStringClassReference */
  const char *characters; /**< NUL-terminated */
  unsigned int length;    /**< bytes, without the NUL */
} NSConstantStringRecord;

/** The class NSConstantString itself. */
OBJC_EXPORT extern struct objc_class _NSConstantStringClassReference;

OBJC_END_DECLS

#ifdef __cplusplus
/** A string constant: NSSTR("text") is an NSConstantString. */
#define NSSTR(text)                                                            \
  ([]() -> id {                                                                \
    static NSConstantStringRecord nsstr_record = {                             \
        &_NSConstantStringClassReference, text, sizeof(text) - 1};             \
    return reinterpret_cast<id>(&nsstr_record);                                \
  }())
#endif

/* ======================= Classes and their messages =======================

   Foundation's classes are reached by name and by message (objc_getClass,
   objc_send). Each class below comes with its instance layout and the
   messages it implements itself: "+" a class message, "-" an instance
   message; what a class inherits is listed with its superclass. A message
   that "raises" unwinds to the innermost NS_DURING frame of the thread
   with an NSException. An autoreleased result belongs to the thread's
   innermost autorelease pool; any other new object belongs to the caller.
   Strings are bytes, NUL-terminated, with no character encoding of their
   own; lengths count bytes. */

/** @class NSObject
   The root class; instances are isa alone. An object starts with one
   reference. Further references are counted in a table keyed by address
   (safe from any thread), so that any block the runtime allocates can be an
   object. zelObjCRuntime replaces the instance messages class, superclass
   and classForCoder with ones that skip a hidden class.
   @verbatim
   +initialize          nothing; the runtime sends it before a class's
                        first message
   +alloc               allocWithZone: with the default zone
   +allocWithZone:      a zero-filled instance with isa set, from the zone
                        (null: the default zone), through the runtime's
                        allocation hooks; not initialised
   +new                 alloc, then init
   +retain              the class itself: classes are never freed
   +release             nothing
   +autorelease         the class itself
   +retainCount         UINT_MAX
   +copy                the class itself
   +class               the class itself
   +superclass          the superclass; Nil for a root class
   +description         the class's name, autoreleased
   +instanceMethodForSelector:
                        the implementation an instance would run, through
                        the class's cache (+initialize runs first); the
                        forwarding implementation when nothing implements
                        the selector
   +instancesRespondToSelector:
                        YES when the class or a superclass lists an
                        instance method of that name; NO for a null
                        selector; forwarding does not count
   +isSubclassOfClass:  YES for the class itself and each superclass
   +conformsToProtocol: YES when the class or a superclass adopts a
                        protocol of that protocol's name, directly or
                        through the protocols an adopted one incorporates
   -init                self
   -dealloc             frees the instance (object_dispose)
   -retain              one more reference; self
   -release             one reference fewer; the last sends dealloc
   -autorelease         adds the object to the thread's innermost pool
                        (+[NSAutoreleasePool addObject:]); self
   -retainCount         the references held: 1 after alloc
   -copy                copyWithZone: with the default zone
   -copyWithZone:       a byte-for-byte copy from the zone, through the
                        allocation hooks: pointers held are shared, not
                        retained (subclasses that own memory override it)
   -self                self
   -zone                the zone that holds the instance
   -class               the instance's class (isa)
   -superclass          the superclass of the instance's class
   -classForCoder       the instance's class
   -isEqual:            YES for the same object only
   -hash                the address shifted right by 2
   -description         "<ClassName: 0xADDRESS>", autoreleased
   -respondsToSelector: YES when the instance's class or a superclass lists
                        an instance method of that name; NO for a null
                        selector; forwarding does not count
   -isKindOfClass:      YES for the instance's class and its superclasses
   -isMemberOfClass:    YES for the instance's class only
   -isProxy             NO
   -methodForSelector:  what a message of that selector to the instance
                        would run (forwarding when nothing implements it)
   -performSelector:    sends the selector without argument; its result as
                        an id
   -performSelector:withObject:
                        sends the selector with the object as argument
   -doesNotRecognizeSelector:
                        raises NSInvalidArgumentException, reason
                        "-[Class selector]: selector not recognized" ('+'
                        for a class); the runtime's forwarding sends it for
                        a message that nothing implements
   -conformsToProtocol: +conformsToProtocol: of the instance's class
   @endverbatim */

/** @class NSString
   @extends NSObject
   Immutable text. Instances (12 bytes): isa, characters (NUL-terminated,
   owned), length. Class messages answer instances of the receiving class, so
   NSMutableString's are mutable. Formats are NSStrings in printf's syntax
   (the C library converts each argument; %n stores nothing) plus %@, an
   object's description ("(null)" for nil); a nil format raises
   NSInvalidArgumentException.
   @verbatim
   +string              an empty string, autoreleased
   +stringWithCString:  a copy of the text, autoreleased; null raises
                        NSInvalidArgumentException
   +stringWithFormat:   the formatted text, autoreleased
   -initWithCString:    copies the text; null raises
                        NSInvalidArgumentException
   -initWithFormat:     the formatted text of the arguments that follow
   -initWithFormat:arguments:
                        the same from a va_list (encoded "*": on i386 a
                        va_list is a pointer)
   -dealloc             frees the characters and the instance
   -cString             the characters themselves, never null: valid while
                        the string lives (a mutable one: until changed)
   -UTF8String          the same as cString
   -length              bytes, without the NUL
   -cStringLength       the same as length
   -isEqual:            the same as isEqualToString:
   -isEqualToString:    YES for any NSString of the same bytes; NO for an
                        object of another class, nil included
   -hash                FNV-1a of the bytes: equal strings hash alike
   -description         self
   -copyWithZone:       an immutable string retained (itself); a mutable
                        one copied into a new NSString
   -mutableCopy         a new NSMutableString of the same bytes
   @endverbatim */

/** @class NSMutableString
   @extends NSString
   Text that changes in place. Instances (16 bytes) add the capacity of the
   character buffer; the buffer grows as needed, so characters answered
   earlier may move.
   @verbatim
   -appendFormat:       appends the formatted text
   -appendString:       appends another string's bytes; nil raises
                        NSInvalidArgumentException
   -setString:          replaces the bytes with another string's; nil
                        raises NSInvalidArgumentException
   @endverbatim */

/** @class NSConstantString
   @extends NSString
   Strings in static storage (NSConstantStringRecord, NSSTR), never freed.
   @verbatim
   -retain              self
   -release             nothing
   -autorelease         self
   -retainCount         UINT_MAX
   -dealloc             nothing
   @endverbatim */

/** @class NSArray
   @extends NSObject
   An ordered list of objects, each retained while in it; nil cannot be an
   element. Instances (16 bytes): isa, items, count, capacity. Class messages
   answer instances of the receiving class.
   @verbatim
   +array               an empty array, autoreleased
   +arrayWithObject:    an array of that object, autoreleased
   +arrayWithObjects:   the arguments up to the first nil, autoreleased
   -initWithObjects:count:
                        holds count objects of a C array; a nil among them
                        raises NSInvalidArgumentException
   -dealloc             releases each object, then frees the array
   -count               the number of objects
   -objectAtIndex:      the object at that index (from 0); an index from
                        count on raises NSRangeException
   -lastObject          the last object; nil when empty
   -containsObject:     YES when an element answers YES to isEqual:
   -objectEnumerator    an NSEnumerator over the array (which it keeps
                        alive), autoreleased
   -copyWithZone:       an NSArray retained (itself); an NSMutableArray
                        copied into a new NSArray of the same objects
   -description         "(a, b, ...)" of the objects' descriptions,
                        autoreleased
   @endverbatim */

/** @class NSMutableArray
   @extends NSArray
   An array that changes in place. A nil object raises
   NSInvalidArgumentException; an index beyond the elements raises
   NSRangeException.
   @verbatim
   -addObject:          appends the object
   -insertObject:atIndex:
                        inserts at the index, from 0 up to count
   -removeObjectAtIndex:
                        removes and releases the object at the index
   -removeLastObject    the same for the last; raises NSRangeException
                        when empty
   -removeAllObjects    removes and releases every object
   @endverbatim */

/** @class NSNumber
   @extends NSObject
   A number, a 64-bit integer or a double, that never changes. Instances
   (24 bytes): isa, whether it is a double, the integer, the double.
   @verbatim
   +numberWithLongLong: an integer number, autoreleased
   +numberWithInt:      the same
   +numberWithBool:     1 or 0, the same
   +numberWithDouble:   a double number, autoreleased
   -longLongValue       the value as a long long (a double truncated
                        towards zero)
   -intValue            the same as an int
   -doubleValue         the value as a double
   -boolValue           YES when it is not zero
   -objCType            "q" for an integer, "d" for a double
   -isEqual:            YES for a number of the same value (integers
                        exactly, otherwise as doubles)
   -hash                of the value's integer part
   -description         the value in decimal (a double with 17 digits),
                        autoreleased
   -stringValue         the same
   -copyWithZone:       itself, retained
   @endverbatim */

/** @class NSDictionary
   @extends NSObject
   Keys mapped to objects, both retained while in it, keys compared with
   isEqual:, entries in the order they were first set; a lookup walks the
   keys (small dictionaries). nil is neither a key nor an object.
   Instances (20 bytes): isa, keys, objects, count, capacity.
   @verbatim
   +dictionary          an empty dictionary, autoreleased
   -initWithObjects:forKeys:count:
                        holds count entries of two C arrays (a later key
                        equal to an earlier one replaces its object)
   -count               the number of entries
   -objectForKey:       the object of the key, or nil
   -allKeys             an NSArray of the keys, in order, autoreleased
   -allValues           the same of the objects
   -keyEnumerator       an NSEnumerator over the keys, autoreleased
   -description         "{key = object; ...}", autoreleased
   -dealloc             releases every key and object
   @endverbatim */

/** @class NSMutableDictionary
   @extends NSDictionary
   A dictionary that changes in place.
   @verbatim
   -setObject:forKey:   sets (or replaces) the key's object; a nil key or
                        object raises NSInvalidArgumentException
   -removeObjectForKey: removes the entry of the key, if any
   @endverbatim */

/** @class NSEnumerator
   @extends NSObject
   Walks an array from its first object. Instances: isa, the array
   (retained), the next index.
   @verbatim
   -nextObject          the next object, nil after the last; objects
                        appended meanwhile are met too
   -dealloc             releases the array
   -copyWithZone:       itself, retained: an enumerator is not copied
   @endverbatim */

/** @class NSAutoreleasePool
   @extends NSObject
   A stack of pools per thread: a pool made with alloc and init is the
   thread's innermost until released.
   @verbatim
   +addObject:          adds the object to the thread's innermost pool;
                        with none, says on stderr that the object leaks
   -init                makes the pool the thread's innermost
   -release             releases first the pools made after it on the
                        thread, then sends release to each object once per
                        time it was added (objects added meanwhile too),
                        and frees the pool
   -drain               the same as release
   -dealloc             the same as release
   -addObject:          adds the object to this pool
   -retain              raises NSInvalidArgumentException: pools are not
                        retained
   -autorelease         raises NSInvalidArgumentException
   @endverbatim */

/** @class NSBundle
   @extends NSObject
   A folder whose resources are in its folder Resources. Instances: isa, the
   path (an NSString).
   @verbatim
   +mainBundle          the folder of the running executable (Name.app
                        for an application), found from /proc/self/exe or
                        else from argv[0] and PATH; made once, never
                        freed; nil when the executable cannot be found
   +bundleWithPath:     initWithPath: on a new bundle, autoreleased
   -initWithPath:       the bundle of the folder at that path, trailing
                        slashes dropped; nil (the instance freed) when the
                        path names no folder
   -dealloc             releases the path
   -bundlePath          the folder's path
   -resourcePath        "path/Resources", autoreleased
   -pathForResource:ofType:
                        "path/Resources/name.type" (name alone for a nil
                        or empty type), autoreleased, when such a regular
                        file exists; else nil, and for a nil or empty name
   -copyWithZone:       itself, retained
   @endverbatim */

/** @class NSData
   @extends NSObject
   An immutable block of bytes. Instances (12 bytes): isa, bytes (owned; null
   when empty), length.
   @verbatim
   +dataWithBytes:length:
                        a copy of the bytes, autoreleased
   -initWithBytes:length:
                        copies the bytes (none for length 0); raises
                        NSInternalInconsistencyException without memory
   -dealloc             frees the bytes and the instance
   -bytes               the block; null when empty
   -length              its size in bytes
   -copyWithZone:       itself, retained
   -isEqual:            YES for an NSData of the same bytes
   @endverbatim */

/** @class NSFileHandle
   @extends NSObject
   A file open for reading. Instances (8 bytes): isa, the descriptor (-1 when
   there is none).
   @verbatim
   +fileHandleForReadingAtPath:
                        a handle on the file (close-on-exec),
                        autoreleased; nil when the file cannot be opened
                        for reading, is a folder, or the path is nil
   -init                a handle without a file
   -availableData       reads to the end of the file: the bytes as an
                        NSData, autoreleased; raises
                        NSFileHandleOperationException when closed or on a
                        read error
   -readDataToEndOfFile the same as availableData
   -closeFile           closes the file; again, nothing
   -dealloc             closes the file and frees the handle
   -fileDescriptor      the descriptor; -1 once closed
   -copyWithZone:       itself, retained
   @endverbatim */

/** @class NSException
   @extends NSObject
   What a raise carries. Instances (16 bytes): isa, name, reason, userInfo.
   @verbatim
   +exceptionWithName:reason:userInfo:
                        initWithName:reason:userInfo: on a new exception,
                        autoreleased
   +raise:format:       raises a new exception of that name with the
                        formatted reason (the format's syntax: NSString)
   -initWithName:reason:userInfo:
                        copies name and reason, retains userInfo
   -dealloc             releases the three
   -name                the name (an NSString)
   -reason              the reason (an NSString)
   -userInfo            the userInfo object
   -description         "name: reason", autoreleased
   -copyWithZone:       itself, retained: exceptions do not change
   -raise               _NSRaiseException: unwinds to the innermost
                        handler frame of the thread; with none, prints
                        "Uncaught exception name: reason" on stderr and
                        aborts
   @endverbatim */

/** @class NSAssertionHandler
   @extends NSObject
   Reports failed assertions by raising NSInternalInconsistencyException.
   Neither failure message returns.
   @verbatim
   +currentHandler      the thread's handler, made at first use
   -handleFailureInFunction:file:lineNumber:description:
                        raises with the reason "Assertion failed in
                        FUNCTION in FILE:LINE: " and the description, a
                        format, with the arguments that follow
   -handleFailureInMethod:object:file:lineNumber:description:
                        the same, naming "-[Class method]" of the object
                        and selector instead of a function
   @endverbatim */

#ifdef __cplusplus
#include <objc/objc-encoding.h>
/** Zones pass by pointer, opaque: "^{_NSZone=}". */
OBJC_TYPE_ENCODING(struct _NSZone, "{_NSZone=}");
#endif

#endif
