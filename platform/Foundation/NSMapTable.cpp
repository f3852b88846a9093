/* Map tables: open addressing with linear probing over a power-of-two
   bucket array. Removal leaves a tombstone; the array is rebuilt (larger
   only when the live pairs need it) once live pairs and tombstones fill
   three quarters, so an insert that does not trigger a rebuild allocates
   nothing. */
#include <stdint.h>
#include <stdlib.h>
#include "foundation.h"

namespace {

enum BucketState : unsigned char { EMPTY, FULL, REMOVED };

struct Bucket {
  const void *key;
  const void *value;
  unsigned hash; /* the callback's hash, kept for rebuilding */
  BucketState state;
};

} // namespace

struct _NSMapTable {
  NSMapTableKeyCallBacks keys;
  NSMapTableValueCallBacks values;
  Bucket *buckets;
  unsigned mask;    /* buckets - 1 */
  unsigned count;   /* FULL buckets */
  unsigned removed; /* REMOVED buckets */
};

namespace {

/* ---- default callbacks for null entries in a record ---- */

unsigned hashKey(NSMapTable *table, const void *key) {
  if (table->keys.hash)
    return table->keys.hash(table, key);
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(key) >> 2);
}

bool keysEqual(NSMapTable *table, const void *a, const void *b) {
  if (a == b)
    return true;
  return table->keys.isEqual && table->keys.isEqual(table, a, b);
}

void retainPair(NSMapTable *table, const void *key, const void *value) {
  if (table->keys.retain)
    table->keys.retain(table, key);
  if (table->values.retain)
    table->values.retain(table, value);
}

void releaseKey(NSMapTable *table, const void *key) {
  if (table->keys.release)
    table->keys.release(table, const_cast<void *>(key));
}

void releaseValue(NSMapTable *table, const void *value) {
  if (table->values.release)
    table->values.release(table, const_cast<void *>(value));
}

/* Spreads poor hashes (aligned addresses) over the bucket index. */
unsigned scramble(unsigned hash) { return (hash ^ (hash >> 15)) * 0x9E3779B1u; }

unsigned bucketCountFor(unsigned capacity) {
  unsigned count = 8;
  while (count - count / 4 <= capacity && count < 0x40000000u)
    count *= 2;
  return count;
}

/* The bucket holding an equal key, or null. */
Bucket *findBucket(NSMapTable *table, const void *key, unsigned hash) {
  unsigned index = scramble(hash) & table->mask;
  for (;;) {
    Bucket *bucket = &table->buckets[index];
    if (bucket->state == EMPTY)
      return nullptr;
    if (bucket->state == FULL && bucket->hash == hash &&
        keysEqual(table, bucket->key, key))
      return bucket;
    index = (index + 1) & table->mask;
  }
}

/* The first reusable bucket on the key's probe path. */
Bucket *freeBucket(Bucket *buckets, unsigned mask, unsigned hash) {
  unsigned index = scramble(hash) & mask;
  while (buckets[index].state == FULL)
    index = (index + 1) & mask;
  return &buckets[index];
}

bool rebuild(NSMapTable *table, unsigned bucketCount) {
  Bucket *fresh = static_cast<Bucket *>(calloc(bucketCount, sizeof(Bucket)));
  if (!fresh)
    return false;
  for (unsigned i = 0; i <= table->mask; i++) {
    Bucket *old = &table->buckets[i];
    if (old->state == FULL)
      *freeBucket(fresh, bucketCount - 1, old->hash) = *old;
  }
  free(table->buckets);
  table->buckets = fresh;
  table->mask = bucketCount - 1;
  table->removed = 0;
  return true;
}

/* Makes room for one more pair; false when memory ran out. */
bool reserveOne(NSMapTable *table) {
  unsigned buckets = table->mask + 1;
  if ((table->count + table->removed + 1) * 4 <= buckets * 3)
    return true;
  unsigned needed = bucketCountFor(table->count + 1);
  return rebuild(table, needed > buckets ? needed : buckets);
}

void replacePair(NSMapTable *table, Bucket *bucket, const void *key,
                 const void *value) {
  const void *oldKey = bucket->key;
  const void *oldValue = bucket->value;
  if (key != oldKey && table->keys.retain)
    table->keys.retain(table, key);
  if (value != oldValue && table->values.retain)
    table->values.retain(table, value);
  bucket->key = key;
  bucket->value = value;
  if (key != oldKey)
    releaseKey(table, oldKey);
  if (value != oldValue)
    releaseValue(table, oldValue);
}

} // namespace

OBJC_EXPORT NSMapTable *
NSCreateMapTable(NSMapTableKeyCallBacks keyCallBacks,
                 NSMapTableValueCallBacks valueCallBacks,
                 unsigned capacity) noexcept {
  NSMapTable *table = static_cast<NSMapTable *>(malloc(sizeof(NSMapTable)));
  if (!table)
    return nullptr;
  unsigned buckets = bucketCountFor(capacity);
  table->buckets = static_cast<Bucket *>(calloc(buckets, sizeof(Bucket)));
  if (!table->buckets) {
    free(table);
    return nullptr;
  }
  table->keys = keyCallBacks;
  table->values = valueCallBacks;
  table->mask = buckets - 1;
  table->count = 0;
  table->removed = 0;
  return table;
}

OBJC_EXPORT void NSFreeMapTable(NSMapTable *table) noexcept {
  if (!table)
    return;
  for (unsigned i = 0; i <= table->mask; i++) {
    Bucket *bucket = &table->buckets[i];
    if (bucket->state != FULL)
      continue;
    bucket->state = REMOVED; /* a callback may look at the table */
    releaseKey(table, bucket->key);
    releaseValue(table, bucket->value);
  }
  free(table->buckets);
  free(table);
}

OBJC_EXPORT void *NSMapGet(NSMapTable *table, const void *key) noexcept {
  if (!table)
    return nullptr;
  Bucket *bucket = findBucket(table, key, hashKey(table, key));
  return bucket ? const_cast<void *>(bucket->value) : nullptr;
}

/* The marker key cannot be stored: it is the caller's "no key" value. */
OBJC_EXPORT void NSMapInsert(NSMapTable *table, const void *key,
                             const void *value) noexcept {
  if (!table)
    return;
  if (key == table->keys.notAKeyMarker)
    fnd::raise(NSInvalidArgumentException,
               "NSMapInsert: the key is the table's no-key marker");
  unsigned hash = hashKey(table, key);
  Bucket *bucket = findBucket(table, key, hash);
  if (bucket) {
    replacePair(table, bucket, key, value);
    return;
  }
  if (!reserveOne(table))
    fnd::raise(NSInternalInconsistencyException, "NSMapInsert: out of memory");
  bucket = freeBucket(table->buckets, table->mask, hash);
  if (bucket->state == REMOVED)
    table->removed--;
  retainPair(table, key, value);
  *bucket = Bucket{key, value, hash, FULL};
  table->count++;
}

OBJC_EXPORT void NSMapRemove(NSMapTable *table, const void *key) noexcept {
  if (!table)
    return;
  Bucket *bucket = findBucket(table, key, hashKey(table, key));
  if (!bucket)
    return;
  const void *oldKey = bucket->key;
  const void *oldValue = bucket->value;
  unsigned next = static_cast<unsigned>(bucket - table->buckets + 1);
  if (table->buckets[next & table->mask].state == EMPTY) {
    bucket->state = EMPTY; /* ends no probe path: no tombstone needed */
  } else {
    bucket->state = REMOVED;
    table->removed++;
  }
  table->count--;
  /* The pair is out first: a release callback may change the table. */
  releaseKey(table, oldKey);
  releaseValue(table, oldValue);
}

OBJC_EXPORT unsigned NSCountMapTable(NSMapTable *table) noexcept {
  return table ? table->count : 0;
}

OBJC_EXPORT NSMapEnumerator NSEnumerateMapTable(NSMapTable *table) noexcept {
  return NSMapEnumerator{table, 0};
}

OBJC_EXPORT BOOL NSNextMapEnumeratorPair(NSMapEnumerator *enumerator,
                                         void **key, void **value) noexcept {
  NSMapTable *table = enumerator ? enumerator->table : nullptr;
  if (!table)
    return NO;
  while (enumerator->index <= table->mask) {
    Bucket *bucket = &table->buckets[enumerator->index++];
    if (bucket->state != FULL)
      continue;
    if (key)
      *key = const_cast<void *>(bucket->key);
    if (value)
      *value = const_cast<void *>(bucket->value);
    return YES;
  }
  return NO;
}

/* ======================= Standard callback records ======================= */

namespace {

unsigned objectHash(NSMapTable *, const void *key) {
  return objc_send<unsigned>(static_cast<id>(const_cast<void *>(key)), "hash");
}

BOOL objectEqual(NSMapTable *, const void *a, const void *b) {
  return objc_send<BOOL>(static_cast<id>(const_cast<void *>(a)),
                         "isEqual:", static_cast<id>(const_cast<void *>(b)));
}

void objectRetain(NSMapTable *, const void *obj) {
  fnd::retain(static_cast<id>(const_cast<void *>(obj)));
}

void objectRelease(NSMapTable *, void *obj) {
  fnd::release(static_cast<id>(obj));
}

id objectDescribe(NSMapTable *, const void *obj) {
  return objc_send(static_cast<id>(const_cast<void *>(obj)), "description");
}

id pointerDescribe(NSMapTable *, const void *ptr) {
  return fnd::stringWithFormat("%p", ptr);
}

} // namespace

extern "C" OBJC_EXPORT const NSMapTableKeyCallBacks NSObjectMapKeyCallBacks = {
    objectHash,    objectEqual,    objectRetain,
    objectRelease, objectDescribe, nullptr};

extern "C" OBJC_EXPORT const NSMapTableKeyCallBacks
    NSNonOwnedPointerMapKeyCallBacks = {nullptr, nullptr,         nullptr,
                                        nullptr, pointerDescribe, nullptr};

extern "C" OBJC_EXPORT const NSMapTableValueCallBacks
    NSObjectMapValueCallBacks = {objectRetain, objectRelease, objectDescribe};

extern "C" OBJC_EXPORT const NSMapTableValueCallBacks
    NSNonOwnedPointerMapValueCallBacks = {nullptr, nullptr, pointerDescribe};
