/* Instance variables, protocols, C functions and symbol tables. */
#include "bridge.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zelbridge {

namespace {

/* ---- bitfields ---- */

/* Where a bitfield lies: its first bit inside the object, its width. */
struct BitPlace {
  int firstBit = 0;
  int width = 0;
};

int bitWidth(const char *body) { return std::atoi(body + 1); }

bool isBitfield(Ivar ivar) {
  return *objc_skip_type_qualifiers(ivar->ivar_type) == 'b';
}

/* The class in cls's chain whose own list holds the record. */
Class ownerOf(Class cls, Ivar ivar) {
  for (Class each = cls; each; each = each->super_class) {
    struct objc_ivar_list *list = each->ivars;
    if (list && ivar >= list->ivar_list &&
        ivar < list->ivar_list + list->ivar_count)
      return each;
  }
  return nullptr;
}

/* The bits before the variable in its bitfield run (its record gives only
   the byte the bits before it reach), counted in its own class's list: a
   run is a sequence of bitfield records of one class, as the class was
   laid out, so no run reaches across a class boundary, and a hidden class
   is read like any other. */
bool bitsBefore(Class owner, Ivar ivar, int &before) {
  struct objc_ivar_list *list = owner->ivars;
  long long runBits = 0;
  bool inRun = false;
  for (int i = 0; i < list->ivar_count; ++i) {
    Ivar each = &list->ivar_list[i];
    if (!isBitfield(each)) {
      inRun = false;
      continue;
    }
    if (!inRun)
      runBits = 0;
    inRun = true;
    if (each == ivar) {
      before = static_cast<int>(runBits % 8);
      return true;
    }
    runBits += bitWidth(objc_skip_type_qualifiers(each->ivar_type));
  }
  return false;
}

bool bitPlace(Class cls, Ivar ivar, BitPlace &place) {
  Class owner = ownerOf(cls, ivar);
  int before = 0;
  if (!owner || !bitsBefore(owner, ivar, before) || ivar->ivar_offset < 0)
    return false;
  place.firstBit = ivar->ivar_offset * 8 + before;
  place.width = bitWidth(objc_skip_type_qualifiers(ivar->ivar_type));
  return place.width > 0 && place.width <= 32;
}

unsigned long long readBits(const unsigned char *bytes, const BitPlace &place) {
  unsigned long long value = 0;
  for (int i = 0; i < place.width; ++i) {
    int bit = place.firstBit + i;
    if (bytes[bit / 8] & (1u << (bit % 8)))
      value |= 1ULL << i;
  }
  return value;
}

void writeBits(unsigned char *bytes, const BitPlace &place,
               unsigned long long value) {
  for (int i = 0; i < place.width; ++i) {
    int bit = place.firstBit + i;
    unsigned char mask = static_cast<unsigned char>(1u << (bit % 8));
    if (value & (1ULL << i))
      bytes[bit / 8] |= mask;
    else
      bytes[bit / 8] &= static_cast<unsigned char>(~mask);
  }
}

bool findIvar(id object, const char *name, Ivar &ivar, std::string &error) {
  if (!object) {
    error = "nil has no instance variable " + cut(name);
    return false;
  }
  ivar = ZelObjC_GetInstanceVariable(object->isa, name);
  if (!ivar) {
    error = describe(object) + " has no instance variable " + cut(name);
    return false;
  }
  return true;
}

/* The bytes an object of that class holds: a class object is a class
   record, whatever its metaclass says. */
long instanceRoom(Class cls) {
  if (cls->info & CLS_META)
    return static_cast<long>(sizeof(struct objc_class));
  return cls->instance_size;
}

bool fitsInstance(Class cls, long long offset, long long size) {
  return offset >= 0 && size >= 0 && offset + size <= instanceRoom(cls);
}

bool bitfieldOf(id object, Ivar ivar, const char *name, BitPlace &place,
                std::string &error) {
  if (!bitPlace(object->isa, ivar, place)) {
    error = "cannot place bitfield " + cut(name);
    return false;
  }
  if (!fitsInstance(object->isa, place.firstBit / 8,
                    (place.firstBit % 8 + place.width + 7) / 8)) {
    error = "bitfield " + cut(name) + " lies outside its object";
    return false;
  }
  return true;
}

/* A variable of a type the bridge converts, lying inside its object. */
bool valueIvar(id object, Ivar ivar, const char *name, std::string &error) {
  if (!checkType(ivar->ivar_type, TypeUse::convert, error))
    return false;
  if (!fitsInstance(object->isa, ivar->ivar_offset,
                    objc_sizeof_type(ivar->ivar_type))) {
    error = "instance variable " + cut(name) + " lies outside its object";
    return false;
  }
  return true;
}

/* ---- protocols ---- */

objc_method_description_list *
descriptionList(const std::vector<MethodDescription> &methods) {
  if (methods.empty())
    return nullptr;
  size_t bytes = sizeof(objc_method_description_list) +
                 (methods.size() - 1) * sizeof(objc_method_description);
  auto *list = static_cast<objc_method_description_list *>(calloc(1, bytes));
  if (!list)
    return nullptr;
  list->count = static_cast<int>(methods.size());
  for (size_t i = 0; i < methods.size(); ++i) {
    list->list[i].name = sel_registerName(methods[i].selector.c_str());
    list->list[i].types = strdup(methods[i].types.c_str());
  }
  return list;
}

void freeDescriptions(objc_method_description_list *list) {
  if (!list)
    return;
  for (int i = 0; i < list->count; ++i)
    free(list->list[i].types);
  free(list);
}

/* ---- symbol tables ---- */

std::vector<SymbolTable *> &symbolTables() {
  static auto *tables = new std::vector<SymbolTable *>;
  return *tables;
}

const char *const kindNames[] = {nullptr,    "MACRO",    "TYPEDEF",
                                 "VARIABLE", "FUNCTION", "INLINEFUNCTION",
                                 "IMPORTED"};

/* The signature of a function of that name in a loaded table. */
const char *declaredSignature(const char *name) {
  const char *colon = std::strchr(name, ':');
  const char *symbol = colon ? colon + 1 : name;
  for (SymbolTable *table : symbolTables()) {
    const char *type = nullptr;
    if (ZelObjC_LookupSymbol(table, symbol, &type) == ZEL_SYMBOL_FUNCTION)
      return type;
  }
  return nullptr;
}

} // namespace

/* ---- instance variables ---- */

bool getIvar(Script &script, id object, const char *name, ScriptValue &out,
             std::string &error) {
  Ivar ivar = nullptr;
  if (!findIvar(object, name, ivar, error))
    return false;
  auto *bytes = reinterpret_cast<unsigned char *>(object);
  if (!isBitfield(ivar)) {
    if (!valueIvar(object, ivar, name, error))
      return false;
    out = fromC(script, ivar->ivar_type, bytes + ivar->ivar_offset, error);
    return out != nullptr;
  }
  BitPlace place;
  if (!bitfieldOf(object, ivar, name, place, error))
    return false;
  out = script.newInteger(static_cast<long long>(readBits(bytes, place)));
  return true;
}

bool setIvar(Script &script, id object, const char *name, ScriptValue value,
             std::string &error) {
  Ivar ivar = nullptr;
  if (!findIvar(object, name, ivar, error))
    return false;
  auto *bytes = reinterpret_cast<unsigned char *>(object);
  if (!isBitfield(ivar)) {
    Arena arena;
    const char *type = ivar->ivar_type;
    if (!valueIvar(object, ivar, name, error))
      return false;
    if (holdsCString(type)) {
      error =
          "cannot store a C string in " + cut(name) + ": nothing would own it";
      return false;
    }
    std::vector<char> converted(static_cast<size_t>(storageSize(type)));
    if (!toC(script, value, type, converted.data(), false, arena, error))
      return false;
    if (*objc_skip_type_qualifiers(type) == '@' && isScriptInstance(object)) {
      id stored = nil; /* held by the instance */
      std::memcpy(&stored, converted.data(), sizeof stored);
      storeObjectIvar(object, ivar->ivar_offset, stored);
      return true;
    }
    std::memcpy(bytes + ivar->ivar_offset, converted.data(),
                static_cast<size_t>(objc_sizeof_type(type)));
    return true;
  }
  BitPlace place;
  if (!bitfieldOf(object, ivar, name, place, error))
    return false;
  long long number = 0;
  if (!script.getInteger(value, number) || number < 0 ||
      number >= (1LL << place.width)) {
    Arena arena;
    error = "value " + quote(script.getText(value, arena)) +
            " does not fit bitfield " + cut(name) + " of " +
            std::to_string(place.width) + " bits";
    return false;
  }
  writeBits(bytes, place, static_cast<unsigned long long>(number));
  return true;
}

/* ---- protocols ---- */

Protocol *findProtocol(const char *name) {
  return ZelObjC_LookupProtocol(name);
}

std::vector<std::string> protocolNames() {
  std::vector<std::string> names;
  NSMapEnumerator each = ZelObjC_EnumerateProtocols();
  void *key = nullptr;
  void *value = nullptr;
  while (NSNextMapEnumeratorPair(&each, &key, &value)) {
    const char *text = objc_send<const char *>(static_cast<id>(key), "cString");
    names.emplace_back(text ? text : "");
  }
  std::sort(names.begin(), names.end());
  return names;
}

Protocol *createProtocol(const char *name,
                         const std::vector<std::string> &incorporated,
                         const std::vector<MethodDescription> &instance,
                         const std::vector<MethodDescription> &classSide,
                         std::string &error) {
  if (ZelObjC_LookupProtocol(name)) {
    error = "a protocol named " + cut(name) + " exists already";
    return nullptr;
  }
  std::vector<id> included;
  for (const std::string &each : incorporated) {
    Protocol *protocol = ZelObjC_LookupProtocol(each.c_str());
    if (!protocol) {
      error = "no protocol named " + cut(each);
      return nullptr;
    }
    included.push_back(reinterpret_cast<id>(protocol));
  }
  objc_protocol_list *list = nullptr;
  if (!included.empty()) {
    size_t bytes =
        sizeof(objc_protocol_list) + (included.size() - 1) * sizeof(id);
    list = static_cast<objc_protocol_list *>(calloc(1, bytes));
    if (!list) {
      error = "out of memory";
      return nullptr;
    }
    list->count = static_cast<int>(included.size());
    std::copy(included.begin(), included.end(), list->list);
  }
  objc_method_description_list *instanceList = descriptionList(instance);
  objc_method_description_list *classList = descriptionList(classSide);
  Protocol *protocol = ZelObjC_NewProtocol(name, list, instanceList, classList);
  if (!protocol) {
    free(list);
    freeDescriptions(instanceList);
    freeDescriptions(classList);
    error = "cannot make protocol " + cut(name);
  }
  return protocol;
}

/* ---- C functions and symbols ---- */

std::unique_ptr<Function> cfunction(const char *name, const char *types,
                                    std::string &error) {
  void *address = ZelObjC_LookupExternalSymbol(name);
  if (!address) {
    error = "unknown C symbol " + cut(name);
    return nullptr;
  }
  if (!types && !(types = declaredSignature(name))) {
    error = "no signature given for " + cut(name) +
            " and no loaded symbol table declares it as a function";
    return nullptr;
  }
  auto function = std::make_unique<Function>();
  function->address = address;
  function->signature = prepare(types, error);
  if (!function->signature)
    return nullptr;
  return function;
}

SymbolTable *loadSymbols(const char *path, std::string &error) {
  SymbolTable *table = ZelObjC_LoadSymbolTable(path);
  if (!table) {
    error = "cannot load symbol table " + cut(path);
    return nullptr;
  }
  auto &tables = symbolTables();
  if (std::find(tables.begin(), tables.end(), table) != tables.end())
    ZelObjC_DestroySymbolTable(table); /* one hold per table is enough */
  else
    tables.push_back(table);
  return table;
}

const std::vector<SymbolTable *> &loadedSymbolTables() {
  return symbolTables();
}

const char *symbolKindName(int kind) {
  return kind >= 1 && kind <= 6 ? kindNames[kind] : nullptr;
}

int symbolKind(const char *name) {
  for (int kind = 1; kind <= 6; ++kind)
    if (std::strcmp(kindNames[kind], name) == 0)
      return kind;
  return 0;
}

} // namespace zelbridge
