/* Classes made at run time: creation and destruction of class and
   metaclass records in the runtime's own format, and descriptions of
   instance layouts as struct type encodings. */
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "encoding.h"

namespace {

/* The zone of the runtime's class table: method-list arrays of classes
   made here come from it, as the runtime's own do. */
NSZone *objCZone = nullptr;

/* Descriptions already built, by class address; see ZelObjC_IVarStruct. */
NSMapTable *map = nullptr;

const int methodListSlots = 16; /* 15 lists and the end marker */

NSZone *classTableZone() {
  if (!objCZone)
    objCZone = NSZoneFromPointer(objc_getClasses());
  return objCZone;
}

/* {================ Instance-variable descriptions ================ */

/* One member of a description: its name, its type text and, for a
   bitfield, its width. Counting and reading both walk members with
   nextMember, so the two always agree on where each member ends. */
struct Member {
  const char *name;
  size_t nameLength;
  const char *type; /* qualifiers and a further quoted name included */
  const char *typeEnd;
  bool bitfield;
  long long width; /* bits, held in 64 bits so absurd widths show */
};

/* A bitfield's width from its digits. */
long long bitWidth(const char *&digits) {
  long long width = 0;
  for (; isdigit(static_cast<unsigned char>(*digits)); ++digits)
    if (width < (1LL << 40))
      width = width * 10 + (*digits - '0');
  return width;
}

/* True when the type from type to end (the description's NUL) is cut
   short: followed by the brace that closes a description of the class,
   it would take the brace in. Such a type is no member, so that the
   class's description reads back the same. One too large to measure
   stays, to be refused. `failed` is set when the copy could not be
   made. */
bool isCutShort(const char *type, const char *end, bool &failed) {
  zel::TypeWalk layout = zel::measureType(type);
  if (layout.overflow || layout.tooDeep)
    return false;
  size_t length = size_t(end - type);
  char *closed = static_cast<char *>(malloc(length + 2));
  if (!closed) {
    failed = true;
    return true;
  }
  memcpy(closed, type, length);
  closed[length] = '}';
  closed[length + 1] = '\0';
  bool cut = objc_skip_typespec(closed) != closed + length;
  free(closed);
  return cut;
}

/* Reads the member at p and moves p past it; false at the end of the
   list: the closing brace, the text's end, a name with no type after it,
   or a type cut short by the text's end. A bitfield is its `b` and digits
   alone; any other type ends where objc_skip_typespec says, and so takes
   exactly the text it measures. `failed` is set when memory ran out. */
bool nextMember(const char *&p, Member &member, bool &failed) {
  const char *name = p;
  size_t nameLength = 0;
  const char *type = p;
  if (*p == '"') {
    name = p + 1;
    const char *close = strchr(name, '"');
    nameLength = close ? size_t(close - name) : strlen(name);
    type = close ? close + 1 : name + nameLength;
  }
  const char *body = objc_skip_type_qualifiers(type);
  if (*body == '\0' || *body == '}')
    return false;
  member = {name, nameLength, type, nullptr, *body == 'b', 0};
  if (member.bitfield) {
    const char *digits = body + 1;
    member.width = bitWidth(digits);
    member.typeEnd = digits;
  } else {
    member.typeEnd = objc_skip_typespec(type);
    if (*member.typeEnd == '\0' && isCutShort(type, member.typeEnd, failed))
      return false;
  }
  p = member.typeEnd;
  return true;
}

/* Members after the `=`, up to the closing brace (or the text's end). */
int countMembers(const char *members, bool &failed) {
  int count = 0;
  Member member;
  for (const char *p = members; nextMember(p, member, failed);)
    ++count;
  return count;
}

/* Null when memory ran out. */
struct objc_ivar_list *newIvarList(int count) {
  size_t size = sizeof(int) + sizeof(struct objc_ivar) * size_t(count);
  auto *list = static_cast<struct objc_ivar_list *>(malloc(size));
  if (list)
    list->ivar_count = count;
  return list;
}

/* One block holds the name, a NUL, the type text and a NUL; false when
   memory ran out. */
bool setNameAndType(struct objc_ivar *ivar, const Member &member) {
  size_t typeLength = size_t(member.typeEnd - member.type);
  char *block = static_cast<char *>(malloc(member.nameLength + typeLength + 2));
  if (!block)
    return false;
  memcpy(block, member.name, member.nameLength);
  block[member.nameLength] = '\0';
  memcpy(block + member.nameLength + 1, member.type, typeLength);
  block[member.nameLength + 1 + typeLength] = '\0';
  ivar->ivar_name = block;
  ivar->ivar_type = block + member.nameLength + 1;
  return true;
}

/* The room a bitfield run of that many bits takes: whole bytes, rounded
   up to the run's alignment (1 byte to 1, 2 to 2, else 4), as the
   encoding module measures a run. Taken from the bits the layout placed,
   so every bitfield of the run lies inside it. */
long long runRoom(long long bits) {
  long long bytes = (bits + 7) / 8;
  long long alignment = bytes == 1 || bytes == 2 ? bytes : 4;
  return (bytes + alignment - 1) / alignment * alignment;
}

/* Lays out members one after the other without rounding offsets up;
   the bitfields of a run share the run's bytes. Sizes are kept in 64 bits:
   a member that cannot be measured (nested too deep, or a size past 32
   bits), or an end past 2^31 bytes, marks the layout too large to be an
   instance. */
struct Layout {
  long long size; /* current end of the instance */
  bool runOpen = false;
  long long bits = 0; /* bits of the open run placed so far */
  bool tooLarge = false;

  void grow(long long room) {
    size += room;
    if (size > INT_MAX)
      tooLarge = true;
  }

  void closeRun() {
    if (!runOpen)
      return;
    grow(runRoom(bits));
    runOpen = false;
    bits = 0;
  }

  /* The room of a type measured from its own text, which ends where its
     skip ends: the room and the recorded type always agree. */
  long long roomOf(const Member &member) {
    zel::TypeWalk layout = zel::measureType(member.type);
    if (layout.tooDeep || layout.overflow || layout.size < 0)
      tooLarge = true;
    long long room = layout.size;
    if (room != 0 && layout.alignment > 0)
      room =
          (room + layout.alignment - 1) / layout.alignment * layout.alignment;
    return room;
  }

  int place(const Member &member) {
    if (member.bitfield)
      runOpen = true;
    else
      closeRun();
    long long offset = size + bits / 8;
    if (offset > INT_MAX)
      tooLarge = true;
    if (member.bitfield) {
      bits += member.width;
      if (bits > INT_MAX)
        tooLarge = true;
    } else {
      grow(roomOf(member));
    }
    return int(offset);
  }
};

void freeIvars(struct objc_ivar_list *list) {
  if (!list)
    return;
  for (int i = 0; i < list->ivar_count; ++i)
    free(const_cast<char *>(list->ivar_list[i].ivar_name));
  free(list);
}

/* Lays the members out into list (left null when the description has no
   member part) and grows size by their room. False, with nothing kept,
   when the layout is too large to be an instance or memory ran out. */
bool buildIvars(const char *description, long &size,
                struct objc_ivar_list *&list) {
  const char *p = description + strcspn(description, "=}");
  if (*p != '=')
    return true;
  const char *members = p + 1;
  bool failed = false;
  int count = countMembers(members, failed);
  if (failed || !(list = newIvarList(count)))
    return false;
  Layout layout{size};
  p = members;
  int filled = 0;
  Member member;
  while (filled < count && nextMember(p, member, failed)) {
    struct objc_ivar *ivar = &list->ivar_list[filled];
    if (!setNameAndType(ivar, member)) {
      failed = true;
      break;
    }
    ++filled;
    ivar->ivar_offset = layout.place(member);
  }
  list->ivar_count = filled;
  layout.closeRun();
  if (layout.tooLarge || failed) {
    freeIvars(list);
    list = nullptr;
    return false;
  }
  size = long(layout.size);
  return true;
}

/* }================================================================ */

/* {================ Class records ================ */

Class rootOf(Class cls) {
  while (cls->super_class)
    cls = cls->super_class;
  return cls;
}

Class rootObjectClass() {
  return objc_send<Class>(objc_getClass("NSObject"), "class");
}

/* Null when memory ran out. */
struct objc_method_list **newMethodLists() {
  auto **lists = static_cast<struct objc_method_list **>(NSZoneMalloc(
      classTableZone(), methodListSlots * sizeof(struct objc_method_list *)));
  if (!lists)
    return nullptr;
  for (int i = 0; i < methodListSlots - 1; ++i)
    lists[i] = nullptr;
  lists[methodListSlots - 1] = END_OF_METHODS_LIST;
  return lists;
}

/* A root class's metaclass inherits from the class itself and gets the
   class's own instance size. */
void fillMetaclass(Class meta, Class cls, Class superclass, long size) {
  if (superclass) {
    meta->isa = rootOf(superclass)->isa;
    meta->super_class = superclass->isa;
    meta->instance_size = superclass->isa->instance_size;
    meta->ivars = rootOf(superclass)->isa->ivars;
  } else {
    meta->isa = cls;
    meta->super_class = cls;
    meta->instance_size = size;
    meta->ivars = rootObjectClass()->isa->ivars;
  }
  meta->version = 0;
  meta->info = CLS_META | CLS_INITIALIZED;
  meta->cache = nullptr;
  meta->protocols = nullptr;
}

void fillClass(Class cls, Class meta, Class superclass, long size,
               struct objc_ivar_list *ivars) {
  cls->isa = meta;
  cls->super_class = superclass;
  cls->version = 0;
  cls->info = CLS_CLASS;
  cls->instance_size = size;
  cls->ivars = ivars;
  cls->cache = nullptr;
  cls->protocols = nullptr;
}

/* Both method-list arrays, or neither: false when memory ran out. */
bool addMethodLists(Class cls, Class meta) {
  cls->methodLists = newMethodLists();
  meta->methodLists = cls->methodLists ? newMethodLists() : nullptr;
  if (meta->methodLists)
    return true;
  if (cls->methodLists)
    NSZoneFree(classTableZone(), cls->methodLists);
  return false;
}

/* Class record, metaclass record and the name, in one malloc block. */
Class newClassBlock(const char *name) {
  size_t length = strlen(name);
  char *block =
      static_cast<char *>(malloc(2 * sizeof(objc_class) + length + 1));
  if (!block)
    return nullptr;
  char *copy = block + 2 * sizeof(objc_class);
  memcpy(copy, name, length + 1);
  auto *cls = reinterpret_cast<Class>(block);
  cls->name = copy;
  cls[1].name = copy;
  return cls;
}

int countMethodLists(Class cls) {
  if (!cls->methodLists)
    return 0;
  int count = 0;
  void *iterator = nullptr;
  while (class_nextMethodList(cls, &iterator))
    ++count;
  return count;
}

/* True when a class the runtime knows has cls as its superclass: freeing
   cls would leave that class pointing into freed memory. */
bool hasRegisteredSubclass(Class cls) {
  NXHashTable *classes = objc_getClasses();
  NXHashState state = NXInitHashState(classes);
  void *entry = nullptr;
  while (NXNextHashState(classes, &state, &entry))
    if (static_cast<Class>(entry)->super_class == cls)
      return true;
  return false;
}

void freeProtocolLists(struct objc_protocol_list *list) {
  while (list) {
    struct objc_protocol_list *next = list->next;
    free(list);
    list = next;
  }
}

/* The shared empty cache (mask and occupied 0) is never freed. */
void freeCache(struct objc_cache *cache) {
  if (cache && (cache->mask || cache->occupied))
    free(cache);
}

/* }================================================================ */

/* {================ Layout descriptions ================ */

/* A class object seen as an instance: the class record's fields. */
const char classRecordEncoding[] =
    "{objc_class=\"isa\"#\"super_class\"#\"name\"*\"version\"l\"info\"l"
    "\"instance_size\"l\"ivars\"^{objc_ivar_list=}"
    "\"methodLists\"^^{objc_method_list=}\"cache\"^{objc_cache=}"
    "\"protocols\"^{objc_protocol_list=}}";

const struct objc_ivar class_ivar_list[] = {
    {"isa", "#", 0},
    {"super_class", "#", 4},
    {"name", "*", 8},
    {"version", "l", 12},
    {"info", "l", 16},
    {"instance_size", "l", 20},
    {"ivars", "^{objc_ivar_list=}", 24},
    {"methodLists", "^^{objc_method_list=}", 28},
    {"cache", "^{objc_cache=}", 32},
    {"protocols", "^{objc_protocol_list=}", 36},
    {nullptr, nullptr, 0},
};

bool isMetaclass(Class cls) { return cls->info & CLS_META; }

/* Appends the quoted names and types of cls's variables, root first. */
void getIVarTypes(Class cls, id string) {
  if (cls->super_class)
    getIVarTypes(cls->super_class, string);
  struct objc_ivar_list *ivars = cls->ivars;
  if (!ivars)
    return;
  for (int i = 0; i < ivars->ivar_count; ++i) {
    const struct objc_ivar &ivar = ivars->ivar_list[i];
    if (ivar.ivar_name)
      objc_send(string, "appendFormat:", NSSTR("\"%s\"%s"), ivar.ivar_name,
                ivar.ivar_type);
  }
}

id describe(Class cls) {
  id string =
      objc_send(objc_getClass("NSMutableString"),
                "stringWithFormat:", NSSTR("%c%s="), int('{'), cls->name);
  getIVarTypes(cls, string);
  objc_send(string, "appendFormat:", NSSTR("%c"), int('}'));
  return string;
}

const char *cStringOf(id string) {
  return objc_send<const char *>(string, "cString");
}

/* A destroyed class's address may soon hold a new class, which must not
   inherit the old description. */
void forgetDescription(Class cls) {
  if (map)
    NSMapRemove(map, cls);
}

/* }================================================================ */

} // namespace

/* ===================== Exported ===================== */

/* A class of that name with no methods, registered and announced; null
   when the name is taken, the description is not a struct, its members
   are too large to be an instance or memory ran out (nothing is then
   registered or kept). */
ZEL_EXPORT Class ZelObjC_NewClass(const char *name, Class superclass,
                                  const char *ivars) noexcept {
  if (objc_lookUpClass(name))
    return nullptr;
  if (ivars && *ivars != '{')
    return nullptr;
  long size = superclass ? superclass->instance_size : 0;
  struct objc_ivar_list *list = nullptr;
  if (ivars && !buildIvars(ivars, size, list))
    return nullptr;
  Class cls = newClassBlock(name);
  if (!cls) {
    freeIvars(list);
    return nullptr;
  }
  Class meta = cls + 1;
  fillMetaclass(meta, cls, superclass, size);
  fillClass(cls, meta, superclass, size, list);
  if (!addMethodLists(cls, meta)) {
    freeIvars(list);
    free(cls);
    return nullptr;
  }
  objc_addClass(cls);
  ZelObjC_RegisterId(reinterpret_cast<id>(cls));
  ZelObjC_RegisterId(reinterpret_cast<id>(meta));
  return cls;
}

/* Refuses (0) while the class or its metaclass still has a method list,
   or while a registered class is its subclass; otherwise takes it out of
   the runtime and frees what creation made. */
ZEL_EXPORT int ZelObjC_DestroyClass(Class cls) noexcept {
  Class meta = cls->isa;
  if (countMethodLists(cls) + countMethodLists(meta) > 0)
    return 0;
  if (hasRegisteredSubclass(cls))
    return 0;
  ZelObjC_UnregisterId(reinterpret_cast<id>(cls));
  ZelObjC_UnregisterId(reinterpret_cast<id>(meta));
  _objc_removeClass(cls);
  forgetDescription(cls);
  freeIvars(cls->ivars);
  NSZone *zone = classTableZone();
  if (cls->methodLists)
    NSZoneFree(zone, cls->methodLists);
  if (meta->methodLists)
    NSZoneFree(zone, meta->methodLists);
  freeProtocolLists(cls->protocols);
  freeCache(cls->cache);
  freeCache(meta->cache);
  free(cls);
  return 1;
}

/* The instance layout as {Name="var"type...}, superclasses first; a
   metaclass gives the class record's own layout. Built once per class. */
ZEL_EXPORT const char *ZelObjC_IVarStruct(Class cls) noexcept {
  if (isMetaclass(cls))
    return classRecordEncoding;
  if (cls->name[0] == '!' && cls->super_class)
    cls = cls->super_class;
  if (map) {
    id cached = static_cast<id>(NSMapGet(map, cls));
    if (cached)
      return cStringOf(cached);
  }
  if (!map)
    map = NSCreateMapTable(NSNonOwnedPointerMapKeyCallBacks,
                           NSObjectMapValueCallBacks, 16);
  id description = describe(cls);
  NSMapInsert(map, cls, description);
  return cStringOf(description);
}

ZEL_EXPORT Ivar ZelObjC_GetInstanceVariable(Class cls,
                                            const char *name) noexcept {
  if (!isMetaclass(cls))
    return class_getInstanceVariable(cls, name);
  for (const struct objc_ivar *ivar = class_ivar_list; ivar->ivar_name; ++ivar)
    if (strcmp(ivar->ivar_name, name) == 0)
      return const_cast<Ivar>(ivar);
  return nullptr;
}
