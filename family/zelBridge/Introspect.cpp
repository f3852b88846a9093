/* What a script can ask of the runtime (classes, methods, instance
   variables, protocols, live instances) and the collections that cross
   between a language and Foundation (NSArray, NSDictionary, NSNumber). */
#include "bridge.h"

#include <Foundation/Foundation.h>
#include <objc/hashtable.h>

#include <fnmatch.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_set>

namespace zelbridge {

std::vector<const objc_method *> methodsOf(Class cls, bool classSide,
                                           bool own) {
  std::unordered_set<SEL> seen;
  std::vector<const objc_method *> found;
  for (Class each = classSide ? cls->isa : cls; each;
       each = own ? nullptr : each->super_class) {
    void *iterator = nullptr;
    while (objc_method_list *list = class_nextMethodList(each, &iterator))
      for (int i = 0; i < list->method_count; ++i) {
        const objc_method &method = list->method_list[i];
        if (method.method_name && seen.insert(method.method_name).second)
          found.push_back(&method);
      }
    if (classSide && each == each->isa) /* the root metaclass */
      break;
  }
  return found;
}

namespace {

/* Flags of a command: Tcl words (-class, -own) or a map of options
   ({classSide: true, own: true}). */
struct Flags {
  bool classSide = false;
  bool own = false;
};

bool flagsOf(Script &script, ScriptValue *args, int argc, Flags &flags,
             std::string &error) {
  for (int i = 0; i < argc; ++i) {
    std::vector<std::pair<ScriptValue, ScriptValue>> options;
    if (script.getEntries(args[i], options)) {
      for (auto &[key, value] : options) {
        bool on = false;
        script.getBoolean(value, on);
        std::string name = textOf(script, key);
        if (name == "classSide")
          flags.classSide = on;
        else if (name == "own")
          flags.own = on;
        else {
          error = "unknown option " + quote(name);
          return false;
        }
      }
      continue;
    }
    std::string word = textOf(script, args[i]);
    if (word == "-class")
      flags.classSide = true;
    else if (word == "-own")
      flags.own = true;
    else {
      error = "expected -class or -own but got " + quote(word);
      return false;
    }
  }
  return true;
}

/* ---- classes ---- */

/* ?PATTERN?: names of every class, sorted; a glob pattern filters. */
bool classNames(Script &script, ScriptValue *args, int argc,
                ScriptValue &result, std::string &) {
  std::string pattern =
      argc > 0 && !script.isNil(args[0], false) ? textOf(script, args[0]) : "*";
  std::vector<std::string> names;
  NXHashTable *table = objc_getClasses();
  NXHashState state = NXInitHashState(table);
  void *each = nullptr;
  while (NXNextHashState(table, &state, &each)) {
    const char *name = static_cast<Class>(each)->name;
    if (fnmatch(pattern.c_str(), name, 0) == 0)
      names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<ScriptValue> items;
  for (const std::string &name : names)
    items.push_back(script.newText(name.c_str()));
  result = listOf(script, items);
  return true;
}

/* CLASS ?-class? ?-own?: {SELECTOR TYPES} of each method, the nearest
   definition of a selector only. */
bool methodsCommand(Script &script, ScriptValue *args, int argc,
                    ScriptValue &result, std::string &error) {
  Class cls = nullptr;
  Flags flags;
  if (!classFrom(script, args[0], cls, error) ||
      !flagsOf(script, args + 1, argc - 1, flags, error))
    return false;
  std::vector<ScriptValue> items;
  for (const objc_method *method : methodsOf(cls, flags.classSide, flags.own)) {
    ScriptValue pair[2] = {
        script.newText(sel_getName(method->method_name)),
        script.newText(method->method_types ? method->method_types : "")};
    items.push_back(script.newList(pair, 2));
  }
  result = listOf(script, items);
  return true;
}

/* CLASS: {NAME TYPE OFFSET} of each instance variable, superclasses'
   first. */
bool ivarsCommand(Script &script, ScriptValue *args, int, ScriptValue &result,
                  std::string &error) {
  Class cls = nullptr;
  if (!classFrom(script, args[0], cls, error))
    return false;
  std::vector<Class> chain;
  for (Class each = cls; each; each = each->super_class)
    chain.push_back(each);
  static const char *const fields[] = {"name", "type", "offset"};
  std::vector<ScriptValue> items;
  for (auto each = chain.rbegin(); each != chain.rend(); ++each) {
    objc_ivar_list *ivars = (*each)->ivars;
    for (int i = 0; ivars && i < ivars->ivar_count; ++i) {
      const objc_ivar &ivar = ivars->ivar_list[i];
      ScriptValue values[3] = {
          script.newText(ivar.ivar_name ? ivar.ivar_name : ""),
          script.newText(ivar.ivar_type ? ivar.ivar_type : ""),
          script.newInteger(ivar.ivar_offset)};
      items.push_back(script.newRecord(fields, values, 3));
    }
  }
  result = listOf(script, items);
  return true;
}

void protocolNamesOf(objc_protocol_list *list, std::set<std::string> &names) {
  for (; list; list = list->next)
    for (int i = 0; i < list->count; ++i) {
      auto *protocol = reinterpret_cast<Protocol *>(list->list[i]);
      if (protocol && names.insert(protocol->protocol_name).second)
        protocolNamesOf(protocol->protocol_list, names);
    }
}

/* CLASS: the names of the protocols it conforms to (its superclasses'
   and incorporated ones included), sorted. */
bool protocolsCommand(Script &script, ScriptValue *args, int,
                      ScriptValue &result, std::string &error) {
  Class cls = nullptr;
  if (!classFrom(script, args[0], cls, error))
    return false;
  std::set<std::string> names;
  for (Class each = cls; each; each = each->super_class)
    protocolNamesOf(each->protocols, names);
  std::vector<ScriptValue> items;
  for (const std::string &name : names)
    items.push_back(script.newText(name.c_str()));
  result = listOf(script, items);
  return true;
}

/* CLASS: handles of its live instances and its subclasses'. */
bool instancesCommand(Script &script, ScriptValue *args, int,
                      ScriptValue &result, std::string &error) {
  Class cls = nullptr;
  if (!classFrom(script, args[0], cls, error))
    return false;
  std::vector<ScriptValue> items;
  for (id object : liveInstances(cls))
    items.push_back(script.newHandle(handleFor(object)));
  result = listOf(script, items);
  return true;
}

/* ---- collections ---- */

id numberOf(Script &script, ScriptValue value) {
  long long integer = 0;
  double real = 0;
  if (script.getInteger(value, integer))
    return objc_send_class("NSNumber", "numberWithLongLong:", integer);
  if (script.getDouble(value, real))
    return objc_send_class("NSNumber", "numberWithDouble:", real);
  return nil;
}

bool nsnumberCommand(Script &script, ScriptValue *args, int,
                     ScriptValue &result, std::string &error) {
  id number = numberOf(script, args[0]);
  if (!number) {
    error = "expected a number but got " + quote(textOf(script, args[0]));
    return false;
  }
  result = script.newHandle(handleFor(number));
  return true;
}

/* An object standing for a value: a handle's object; a number for a
   number (in a language that has numbers of their own); a list or a map
   as an NSArray or NSDictionary of such objects; any other text an
   NSString. */
bool objectFor(Script &script, ScriptValue value, bool structured, id &object,
               int depth, std::string &error);

id arrayOf(Script &script, std::vector<ScriptValue> &items, bool structured,
           int depth, std::string &error) {
  std::vector<id> objects;
  for (ScriptValue item : items) {
    id object = nil;
    if (!objectFor(script, item, structured, object, depth + 1, error))
      return nil;
    if (!object) {
      error = "an array holds no nil";
      return nil;
    }
    objects.push_back(object);
  }
  id array = objc_send(objc_getClass("NSArray"), "alloc");
  array = objc_send(
      array, "initWithObjects:count:", const_cast<const id *>(objects.data()),
      static_cast<unsigned>(objects.size()));
  return autoreleaseObject(array);
}

id dictionaryOf(Script &script,
                std::vector<std::pair<ScriptValue, ScriptValue>> &entries,
                bool structured, int depth, std::string &error) {
  id dictionary = objc_send_class("NSMutableDictionary", "dictionary");
  for (auto &[key, value] : entries) {
    id keyObject = nil, valueObject = nil;
    if (!objectFor(script, key, structured, keyObject, depth + 1, error) ||
        !objectFor(script, value, structured, valueObject, depth + 1, error))
      return nil;
    if (!keyObject || !valueObject) {
      error = "a dictionary holds no nil";
      return nil;
    }
    objc_send<void>(dictionary, "setObject:forKey:", valueObject, keyObject);
  }
  return dictionary;
}

bool objectFor(Script &script, ScriptValue value, bool structured, id &object,
               int depth, std::string &error) {
  if (depth > maxTypeNesting) {
    error = "collections nested deeper than " + std::to_string(maxTypeNesting);
    return false;
  }
  Handle handle;
  std::vector<ScriptValue> items;
  std::vector<std::pair<ScriptValue, ScriptValue>> entries;
  object = nil;
  if (script.getHandle(value, handle))
    return resolve(handle, object, error);
  if (script.isNil(value, false))
    return true;
  if (structured && (object = numberOf(script, value)))
    return true;
  if (structured && script.getItems(value, items))
    return (object = arrayOf(script, items, true, depth, error)) != nil;
  if (structured && script.getEntries(value, entries))
    return (object = dictionaryOf(script, entries, true, depth, error)) != nil;
  object = objc_send_class("NSString",
                           "stringWithCString:", textOf(script, value).c_str());
  return true;
}

bool nsarrayCommand(Script &script, ScriptValue *args, int, ScriptValue &result,
                    std::string &error) {
  std::vector<ScriptValue> items;
  if (!script.getItems(args[0], items)) {
    error = "expected a list but got " + quote(textOf(script, args[0]));
    return false;
  }
  id array = arrayOf(script, items, script.structuredValues(), 0, error);
  if (!array)
    return false;
  result = script.newHandle(handleFor(array));
  return true;
}

/* DICT: a Tcl dict (KEY VALUE ...), or a map of the language. */
bool nsdictionaryCommand(Script &script, ScriptValue *args, int,
                         ScriptValue &result, std::string &error) {
  std::vector<std::pair<ScriptValue, ScriptValue>> entries;
  std::vector<ScriptValue> items;
  if (!script.getEntries(args[0], entries)) {
    if (!script.getItems(args[0], items) || items.size() % 2) {
      error = "expected a dictionary but got " + quote(textOf(script, args[0]));
      return false;
    }
    for (size_t i = 0; i < items.size(); i += 2)
      entries.emplace_back(items[i], items[i + 1]);
  }
  id dictionary =
      dictionaryOf(script, entries, script.structuredValues(), 0, error);
  if (!dictionary)
    return false;
  result = script.newHandle(handleFor(dictionary));
  return true;
}

bool collectionArgument(Script &script, ScriptValue value, const char *kind,
                        id &object, std::string &error) {
  if (!objectFrom(script, value, false, object, error))
    return false;
  if (isInstanceOf(object, reinterpret_cast<Class>(objc_lookUpClass(kind))))
    return true;
  error = std::string("expected an ") + kind + " but got " +
          quote(textOf(script, value));
  return false;
}

/* ARRAY: a list of its objects. */
bool itemsCommand(Script &script, ScriptValue *args, int, ScriptValue &result,
                  std::string &error) {
  id array = nil;
  if (!collectionArgument(script, args[0], "NSArray", array, error))
    return false;
  unsigned count = objc_send<unsigned>(array, "count");
  std::vector<ScriptValue> items;
  for (unsigned i = 0; i < count; ++i)
    items.push_back(
        script.newHandle(handleFor(objc_send(array, "objectAtIndex:", i))));
  result = listOf(script, items);
  return true;
}

/* DICTIONARY: its keys and objects (a Tcl dict; pairs elsewhere). */
bool entriesCommand(Script &script, ScriptValue *args, int, ScriptValue &result,
                    std::string &error) {
  id dictionary = nil;
  if (!collectionArgument(script, args[0], "NSDictionary", dictionary, error))
    return false;
  id keys = objc_send(dictionary, "allKeys");
  unsigned count = objc_send<unsigned>(keys, "count");
  std::vector<ScriptValue> keyValues, objectValues;
  for (unsigned i = 0; i < count; ++i) {
    id key = objc_send(keys, "objectAtIndex:", i);
    keyValues.push_back(script.newHandle(handleFor(key)));
    objectValues.push_back(script.newHandle(
        handleFor(objc_send(dictionary, "objectForKey:", key))));
  }
  result = script.newMap(keyValues.data(), objectValues.data(),
                         static_cast<int>(count));
  return true;
}

} // namespace

ScriptValue Script::newMap(ScriptValue *keys, ScriptValue *values, int count) {
  std::vector<ScriptValue> pairs;
  for (int i = 0; i < count; ++i) {
    ScriptValue pair[2] = {keys[i], values[i]};
    pairs.push_back(newList(pair, 2));
  }
  return newList(pairs.data(), count);
}

bool structuredObject(Script &script, ScriptValue value, id &object,
                      std::string &error) {
  return objectFor(script, value, true, object, 0, error);
}

const Command introspectionCommands[] = {
    {"classNames", "?PATTERN?", 0, 1, classNames, nullptr,
     "the names of every class (glob PATTERN), sorted"},
    {"methods", "CLASS ?-class? ?-own?", 1, 3, methodsCommand, nullptr,
     "{selector types} of its methods, inherited ones once"},
    {"ivars", "CLASS", 1, 1, ivarsCommand, nullptr,
     "{name type offset} of its instance variables"},
    {"protocols", "CLASS", 1, 1, protocolsCommand, nullptr,
     "the names of the protocols it conforms to"},
    {"instances", "CLASS", 1, 1, instancesCommand, nullptr,
     "its live instances and its subclasses'"},
    {"choose", "CLASS", 1, 1, instancesCommand, nullptr,
     "the same as instances"},
    {"nsarray", "LIST", 1, 1, nsarrayCommand, nullptr,
     "an NSArray of the items (handles stay, other values become objects)"},
    {"nsdictionary", "DICT", 1, 1, nsdictionaryCommand, nullptr,
     "an NSDictionary of the entries"},
    {"nsnumber", "VALUE", 1, 1, nsnumberCommand, nullptr,
     "an NSNumber: integers 64-bit, other numbers doubles"},
    {"items", "ARRAY", 1, 1, itemsCommand, nullptr,
     "the objects of an NSArray"},
    {"entries", "DICTIONARY", 1, 1, entriesCommand, nullptr,
     "the keys and objects of an NSDictionary"},
    {nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr}};

} // namespace zelbridge
