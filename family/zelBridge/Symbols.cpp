/* The symbols commands: tables of C declarations loaded from files, and
   their definitions. */
#include "bridge.h"

namespace zelbridge {

namespace {

/* A symbol table this bridge loaded, given as its pointer. */
bool tableFrom(Script &script, ScriptValue value, SymbolTable *&table,
               std::string &error) {
  void *pointer = nullptr;
  std::string text = textOf(script, value);
  if (parsePointer(text.c_str(), pointer))
    for (SymbolTable *each : loadedSymbolTables())
      if (each == pointer) {
        table = each;
        return true;
      }
  error = "no symbol table " + cut(text);
  return false;
}

ScriptValue definition(Script &script, int kind, const char *name,
                       const char *type) {
  static const char *const fields[] = {"kind", "name", "type"};
  ScriptValue values[] = {script.newText(symbolKindName(kind)),
                          script.newText(name),
                          script.newText(type ? type : "")};
  return script.newRecord(fields, values, 3);
}

bool symbolsLoad(Script &script, ScriptValue *args, int, ScriptValue &result,
                 std::string &error) {
  SymbolTable *table = loadSymbols(textOf(script, args[0]).c_str(), error);
  if (!table)
    return false;
  result = script.newPointer(table);
  return true;
}

/* The given table, or every loaded one. */
bool tablesFrom(Script &script, ScriptValue *args, int argc, int at,
                std::vector<SymbolTable *> &tables, std::string &error) {
  tables = loadedSymbolTables();
  if (argc <= at || script.isNil(args[at], false))
    return true;
  tables.assign(1, nullptr);
  return tableFrom(script, args[at], tables[0], error);
}

/* NAME ?TABLE?: the definition in the first table that has one, or nil. */
bool symbolsLookup(Script &script, ScriptValue *args, int argc,
                   ScriptValue &result, std::string &error) {
  std::vector<SymbolTable *> tables;
  if (!tablesFrom(script, args, argc, 1, tables, error))
    return false;
  std::string name = textOf(script, args[0]);
  for (SymbolTable *table : tables) {
    const char *type = nullptr;
    if (int kind = ZelObjC_LookupSymbol(table, name.c_str(), &type)) {
      result = definition(script, kind, name.c_str(), type);
      return true;
    }
  }
  result = script.newNil();
  return true;
}

struct Listing {
  Script *script;
  std::vector<ScriptValue> items;
};

void listDefinition(int kind, const char *name, const char *type,
                    void *context) {
  auto *listing = static_cast<Listing *>(context);
  listing->items.push_back(definition(*listing->script, kind, name, type));
}

/* ?TABLE?: every definition of the table, or of every loaded table. */
bool symbolsEnumerate(Script &script, ScriptValue *args, int argc,
                      ScriptValue &result, std::string &error) {
  std::vector<SymbolTable *> tables;
  if (!tablesFrom(script, args, argc, 0, tables, error))
    return false;
  Listing listing{&script, {}};
  for (SymbolTable *table : tables)
    ZelObjC_EnumerateSymbols(table, listDefinition, &listing);
  result = listOf(script, listing.items);
  return true;
}

bool symbolsTables(Script &script, ScriptValue *, int, ScriptValue &result,
                   std::string &) {
  std::vector<ScriptValue> tables;
  for (SymbolTable *table : loadedSymbolTables())
    tables.push_back(script.newPointer(table));
  result = listOf(script, tables);
  return true;
}

} // namespace

const Command symbolCommands[] = {
    {"load", "PATH", 1, 1, symbolsLoad, nullptr,
     "the symbol table of the file, kept among the loaded tables"},
    {"lookup", "NAME ?TABLE?", 1, 2, symbolsLookup, nullptr,
     "the definition {kind name type} of NAME, or nil"},
    {"enumerate", "?TABLE?", 0, 1, symbolsEnumerate, nullptr,
     "every definition of the table (or of every loaded table)"},
    {"list", "?TABLE?", 0, 1, symbolsEnumerate, nullptr,
     "the same as enumerate"},
    {"tables", "", 0, 0, symbolsTables, nullptr,
     "the loaded tables, in loading order"},
    {nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr}};

} // namespace zelbridge
