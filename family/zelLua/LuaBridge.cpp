/* zelLua: the Lua language (the system's Lua 5.4), on the bridge core.

   Values: nil is nil; integers are Lua integers (64 bits: a `Q` beyond
   2^63-1 comes back as its decimal text); floats, booleans and strings
   as themselves; a table with the keys 1..n is a list (struct, array),
   another table a map; objects and classes are full userdata handles,
   one per live object, so that they work as table keys (`tostring`
   describes the object); pointers are "0x..." strings.

   The core's values are the absolute stack slots of the state that called
   in: a command's values go when it returns, a script method's once its
   result is converted. Lua errors unwind with longjmp, so every function
   that raises one does its work in a function that returns first. */
#include <zelBridge/zelBridge.h>
#include <zelLua/zelLua.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <lua5.4/lua.hpp>

#include <utility>
#include <cstdio>
#include <cstring>

using namespace objc_module_records;
using zelbridge::Handle;
using zelbridge::ScriptValue;

ZEL_EXPORT id ZELLuaException = NSSTR("ZELLuaException");
extern const char zelLuaIdiom[]; /* LuaIdiom.cpp */

namespace {

const char handleMetatable[] = "ObjCObject";
/* Where the message handler keeps the last error value. */
const char failedKey[] = "zelLua.failed";

ScriptValue slot(int index) {
  return reinterpret_cast<ScriptValue>(static_cast<intptr_t>(index));
}

int indexOf(ScriptValue value) {
  return static_cast<int>(reinterpret_cast<intptr_t>(value));
}

/* Each live object's one userdata by the registry's serial, held weakly:
   one nobody refers to is collected (__gc gives the object back). Lua
   takes a userdata out of weak values before its __gc runs, so one being
   finalized is never handed out again; a new object at a freed one's
   address has a new serial. */
int newHandleTable(lua_State *L) {
  lua_newtable(L);
  lua_createtable(L, 0, 1);
  lua_pushliteral(L, "v");
  lua_setfield(L, -2, "__mode");
  lua_setmetatable(L, -2);
  return luaL_ref(L, LUA_REGISTRYINDEX);
}

/* The states a Lua C function was entered with: the core's values are
   slots of the innermost. */
class LuaScript : public zelbridge::Script {
public:
  explicit LuaScript(lua_State *main)
      : main_(main), current_(main), handles_(newHandleTable(main)) {}

  lua_State *state() const { return current_; }
  lua_State *enter(lua_State *L) { return std::exchange(current_, L); }
  void leave(lua_State *previous) { current_ = previous; }

  bool isNil(ScriptValue value, bool) override {
    return lua_isnoneornil(current_, indexOf(value));
  }
  bool getInteger(ScriptValue value, long long &out) override {
    int isInteger = 0;
    if (lua_type(current_, indexOf(value)) != LUA_TNUMBER)
      return false;
    out = lua_tointegerx(current_, indexOf(value), &isInteger);
    return isInteger != 0;
  }
  bool getBoolean(ScriptValue value, bool &out) override {
    int type = lua_type(current_, indexOf(value));
    if (type == LUA_TNUMBER)
      out = lua_tonumber(current_, indexOf(value)) != 0;
    else if (type == LUA_TBOOLEAN)
      out = lua_toboolean(current_, indexOf(value));
    return type == LUA_TNUMBER || type == LUA_TBOOLEAN;
  }
  bool getDouble(ScriptValue value, double &out) override {
    if (lua_type(current_, indexOf(value)) != LUA_TNUMBER)
      return false;
    out = lua_tonumber(current_, indexOf(value));
    return true;
  }
  const char *getText(ScriptValue value, zelbridge::Arena &arena) override {
    size_t length = 0;
    return getBytes(value, arena, length);
  }
  const char *getBytes(ScriptValue value, zelbridge::Arena &arena,
                       size_t &length) override;
  bool getItems(ScriptValue value, std::vector<ScriptValue> &items) override;
  bool
  getEntries(ScriptValue value,
             std::vector<std::pair<ScriptValue, ScriptValue>> &out) override;
  bool structuredValues() override { return true; }
  bool getHandle(ScriptValue value, Handle &out) override {
    auto *handle = static_cast<Handle *>(
        luaL_testudata(current_, indexOf(value), handleMetatable));
    if (handle)
      out = *handle;
    return handle != nullptr;
  }

  ScriptValue newNil() override { return pushed((lua_pushnil(current_), 0)); }
  ScriptValue newInteger(long long value) override {
    return pushed((lua_pushinteger(current_, value), 0));
  }
  /* Beyond the signed range (a large Q) the decimal text itself. */
  ScriptValue newWideInteger(const char *decimal) override {
    long long value = 0;
    return zelbridge::signedDecimal(decimal, value) ? newInteger(value)
                                                    : newText(decimal);
  }
  ScriptValue newDouble(double value) override {
    return pushed((lua_pushnumber(current_, value), 0));
  }
  ScriptValue newText(const char *text) override {
    return pushed((lua_pushstring(current_, text), 0));
  }
  ScriptValue newBytes(const char *bytes, size_t length) override {
    return pushed((lua_pushlstring(current_, bytes, length), 0));
  }
  ScriptValue newBoolean(bool value) override {
    return pushed((lua_pushboolean(current_, value), 0));
  }
  ScriptValue newList(ScriptValue *items, int count) override {
    lua_createtable(current_, count, 0);
    for (int i = 0; i < count; ++i) {
      lua_pushvalue(current_, indexOf(items[i]));
      lua_rawseti(current_, -2, i + 1);
    }
    return pushed(0);
  }
  ScriptValue newRecord(const char *const *names, ScriptValue *values,
                        int count) override {
    lua_createtable(current_, 0, count);
    for (int i = 0; i < count; ++i) {
      lua_pushvalue(current_, indexOf(values[i]));
      lua_setfield(current_, -2, names[i]);
    }
    return pushed(0);
  }
  /* The object's userdata while it has one (see newHandleTable). */
  ScriptValue newHandle(const Handle &handle) override {
    lua_rawgeti(current_, LUA_REGISTRYINDEX, handles_);
    if (lua_rawgeti(current_, -1, handle.serial) == LUA_TUSERDATA) {
      zelbridge::receiveHandle(handle); /* kept by the pool it is in now */
    } else {
      *static_cast<Handle *>(lua_newuserdatauv(current_, sizeof(Handle), 0)) =
          handle;
      luaL_setmetatable(current_, handleMetatable);
      zelbridge::holdHandle(handle); /* until __gc */
      lua_copy(current_, -1, -2);    /* over the nil */
      lua_rawseti(current_, -3, handle.serial);
    }
    lua_remove(current_, -2);
    return pushed(0);
  }
  void discard(ScriptValue) override {}

  size_t mark() override { return static_cast<size_t>(lua_gettop(current_)); }
  void release(size_t mark) override {
    lua_settop(current_, static_cast<int>(mark));
  }
  void *keep(ScriptValue value) override {
    lua_pushvalue(current_, indexOf(value));
    return slot(luaL_ref(current_, LUA_REGISTRYINDEX) - LUA_REFNIL);
  }
  ScriptValue kept(void *hold) override {
    lua_rawgeti(current_, LUA_REGISTRYINDEX, indexOf(hold) + LUA_REFNIL);
    return pushed(0);
  }
  void unkeep(void *hold) override {
    luaL_unref(main_, LUA_REGISTRYINDEX, indexOf(hold) + LUA_REFNIL);
  }

  bool runBlock(ScriptValue block, ScriptValue &result,
                std::string &error) override {
    return callProtected(indexOf(block), nullptr, 0, result, error);
  }
  bool isFunction(ScriptValue value) override {
    return lua_type(current_, indexOf(value)) == LUA_TFUNCTION;
  }
  std::unique_ptr<zelbridge::MethodBody> newBody(ScriptValue *words,
                                                 const char *, int, bool,
                                                 std::string &error) override;
  ScriptValue newFunction(std::unique_ptr<zelbridge::Function> function,
                          const char *name, bool nameGiven,
                          std::string &error) override;
  const char *exceptionName() override { return "ZELLuaException"; }
  void *keepFailure() override {
    lua_getfield(current_, LUA_REGISTRYINDEX, failedKey);
    lua_pushnil(current_);
    lua_setfield(current_, LUA_REGISTRYINDEX, failedKey);
    return slot(luaL_ref(current_, LUA_REGISTRYINDEX) - LUA_REFNIL);
  }
  void dropFailure(void *hold) override { unkeep(hold); }

  /* Calls the function at `function` with the values, in protected mode:
     its first result, or the error's text with a traceback. */
  bool callProtected(int function, ScriptValue *args, int argc,
                     ScriptValue &result, std::string &error);

private:
  /* The value just pushed. The core makes many values in one call (a list
     of every method), so the stack is grown for the next ones. */
  ScriptValue pushed(int) {
    lua_checkstack(current_, 8);
    return slot(lua_gettop(current_));
  }

  lua_State *main_;
  lua_State *current_;
  int handles_; /* newHandleTable's */
};

const char *LuaScript::getBytes(ScriptValue value, zelbridge::Arena &arena,
                                size_t &length) {
  lua_State *L = current_;
  int index = indexOf(value);
  Handle handle;
  std::string text;
  if (lua_type(L, index) == LUA_TSTRING || lua_type(L, index) == LUA_TNUMBER) {
    lua_pushvalue(L, index); /* tolstring would turn a number slot to text */
    const char *chars = lua_tolstring(L, -1, &length);
    text.assign(chars, length);
    lua_pop(L, 1);
  } else if (getHandle(value, handle)) {
    text = zelbridge::formatHandle(handle);
  } else if (lua_type(L, index) == LUA_TBOOLEAN) {
    text = lua_toboolean(L, index) ? "true" : "false";
  } else if (lua_isnoneornil(L, index)) {
    text = "nil";
  } else {
    char pointer[64];
    std::snprintf(pointer, sizeof pointer, "%s: %p", luaL_typename(L, index),
                  lua_topointer(L, index));
    text = pointer;
  }
  length = text.size();
  return arena.keep(text.data(), text.size());
}

/* A table whose keys are exactly 1..n (an empty table included). */
bool LuaScript::getItems(ScriptValue value, std::vector<ScriptValue> &items) {
  lua_State *L = current_;
  int table = indexOf(value);
  if (lua_type(L, table) != LUA_TTABLE)
    return false;
  lua_Integer length = static_cast<lua_Integer>(lua_rawlen(L, table));
  lua_Integer keys = 0;
  for (lua_pushnil(L); lua_next(L, table); lua_pop(L, 1))
    ++keys;
  if (keys != length)
    return false;
  items.clear();
  for (lua_Integer i = 1; i <= length; ++i) {
    lua_checkstack(L, 8);
    lua_rawgeti(L, table, i);
    items.push_back(slot(lua_gettop(L)));
  }
  return true;
}

bool LuaScript::getEntries(
    ScriptValue value, std::vector<std::pair<ScriptValue, ScriptValue>> &out) {
  lua_State *L = current_;
  int table = indexOf(value);
  std::vector<ScriptValue> items;
  if (lua_type(L, table) != LUA_TTABLE || getItems(value, items))
    return false;
  for (lua_pushnil(L); lua_next(L, table);) {
    int top = lua_gettop(L);
    out.emplace_back(slot(top - 1), slot(top));
    lua_checkstack(L, 8);
    lua_pushvalue(L, top - 1); /* the key lua_next goes on from */
  }
  return true;
}

/* The message handler of protected calls: the error and a traceback; the
   error value itself is kept for keepFailure. */
int traceback(lua_State *L) {
  lua_pushvalue(L, 1);
  lua_setfield(L, LUA_REGISTRYINDEX, failedKey);
  const char *message = luaL_tolstring(L, 1, nullptr);
  luaL_traceback(L, L, message, 1);
  return 1;
}

bool LuaScript::callProtected(int function, ScriptValue *args, int argc,
                              ScriptValue &result, std::string &error) {
  lua_State *L = current_;
  lua_pushcfunction(L, traceback);
  int handler = lua_gettop(L);
  lua_pushvalue(L, function);
  for (int i = 0; i < argc; ++i)
    lua_pushvalue(L, indexOf(args[i]));
  if (lua_pcall(L, argc, 1, handler) != LUA_OK) {
    error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "error without text";
    return false;
  }
  result = slot(lua_gettop(L));
  return true;
}

/* ---- method bodies ---- */

std::unique_ptr<zelbridge::MethodBody>
LuaScript::newBody(ScriptValue *words, const char *, int, bool, std::string &) {
  lua_pushvalue(current_, indexOf(words[0]));
  int function = luaL_ref(current_, LUA_REGISTRYINDEX);
  return zelbridge::functionBody(
      *this, [this, function](auto *args, int argc, auto &result, auto &error) {
        lua_rawgeti(current_, LUA_REGISTRYINDEX, function);
        return callProtected(lua_gettop(current_), args, argc, result, error);
      });
}

/* ---- calls from Lua ---- */

LuaScript &scriptOf(lua_State *L) {
  return *static_cast<LuaScript *>(lua_touserdata(L, lua_upvalueindex(1)));
}

/* __tostring of an error table: "NAME: REASON". */
int errorText(lua_State *L) {
  lua_getfield(L, 1, "message");
  return 1;
}

/* The error of a failed call, pushed on the state the script entered with:
   the very value a Lua method called through Objective-C raised, else the
   message, or for an Objective-C exception a table {name, reason, message,
   exception} whose tostring is the message. */
void pushFailure(lua_State *L, LuaScript &script, const std::string &message) {
  zelbridge::Failure failure = zelbridge::takeFailure(script);
  if (failure.original) {
    script.kept(failure.original);
    script.unkeep(failure.original);
    return;
  }
  if (!failure.exception) {
    lua_pushlstring(L, message.data(), message.size());
    return;
  }
  zelbridge::failureRecord(script, failure, message);
  if (luaL_newmetatable(L, "ObjCError")) {
    lua_pushcfunction(L, errorText);
    lua_setfield(L, -2, "__tostring");
  }
  lua_setmetatable(L, -2);
}

/* Runs work with the core's values as slots of L: the number of results,
   or -1 with the error message pushed (to be raised once work's frame is
   gone). */
template <typename Work> int entered(lua_State *L, Work work) {
  LuaScript &script = scriptOf(L);
  lua_State *previous = script.enter(L);
  std::vector<ScriptValue> args;
  for (int i = 1; i <= lua_gettop(L); ++i)
    args.push_back(slot(i));
  ScriptValue result = nullptr;
  std::string error;
  bool ok = work(script, args, result, error);
  if (!ok)
    pushFailure(L, script, error); /* its values are slots of L too */
  script.leave(previous);
  if (!ok)
    return -1;
  lua_pushvalue(L, indexOf(result));
  return 1;
}

int raiseOr(lua_State *L, int results) {
  return results < 0 ? lua_error(L) : results;
}

/* A function of Lua calling a command or a C function (kept for ever:
   scripts may keep the function anywhere). */
int call(lua_State *L) {
  auto &callable = *static_cast<zelbridge::Callable *>(
      lua_touserdata(L, lua_upvalueindex(2)));
  return raiseOr(L, entered(L, [&](LuaScript &script, auto &args,
                                   ScriptValue &result, std::string &error) {
                   return callable.call(script, args.data(),
                                        static_cast<int>(args.size()), result,
                                        error);
                 }));
}

void pushCall(lua_State *L, LuaScript *script,
              std::unique_ptr<zelbridge::Callable> callable,
              lua_CFunction function = call) {
  lua_pushlightuserdata(L, script);
  lua_pushlightuserdata(L, callable.release());
  lua_pushcclosure(L, function, 2);
}

ScriptValue
LuaScript::newFunction(std::unique_ptr<zelbridge::Function> function,
                       const char *name, bool nameGiven, std::string &) {
  pushCall(current_, this, zelbridge::callable(std::move(function), name));
  if (nameGiven) {
    lua_pushvalue(current_, -1);
    lua_setglobal(current_, name);
  }
  return pushed(0);
}

/* __call of a group: the group itself is not an argument. */
int callGroup(lua_State *L) {
  lua_remove(L, 1);
  return call(L);
}

/* Fills the table on top of the stack with the commands. */
void bind(lua_State *L, LuaScript *script, const std::string &path,
          const zelbridge::Command *commands) {
  for (const zelbridge::Command *command = commands; command->name; ++command) {
    std::string name = path + "." + command->name;
    if (command->subcommands) {
      lua_newtable(L);
      bind(L, script, name, command->subcommands);
      if (command->run) { /* a group called as it stands */
        lua_createtable(L, 0, 1);
        pushCall(L, script, zelbridge::callable(*command, name), callGroup);
        lua_setfield(L, -2, "__call");
        lua_setmetatable(L, -2);
      }
    } else {
      pushCall(L, script, zelbridge::callable(*command, name));
    }
    lua_setfield(L, -2, command->name);
  }
}

/* ---- handles' metamethods ---- */

int handleToString(lua_State *L) {
  Handle handle =
      *static_cast<Handle *>(luaL_checkudata(L, 1, handleMetatable));
  LuaScript &script = scriptOf(L);
  lua_State *previous = script.enter(L);
  std::string text = zelbridge::descriptionOf(script, handle);
  script.leave(previous);
  lua_pushlstring(L, text.data(), text.size());
  return 1;
}

int handleCollected(lua_State *L) {
  zelbridge::dropHandle(*static_cast<Handle *>(lua_touserdata(L, 1)));
  return 0;
}

/* No __eq: an object has one userdata, so == is rawequal (a userdata
   being finalized, reachable only from finalizers, is no longer its). */
const luaL_Reg handleMethods[] = {{"__tostring", handleToString},
                                  {"__gc", handleCollected},
                                  {nullptr, nullptr}};

void makeHandleMetatable(lua_State *L, LuaScript *script) {
  luaL_newmetatable(L, handleMetatable);
  lua_pushlightuserdata(L, script);
  luaL_setfuncs(L, handleMethods, 1);
  lua_pop(L, 1);
}

/* h['$NAME'] (see zelbridge::specialMember). */
int specialMember(lua_State *L) {
  return raiseOr(L, entered(L, [](LuaScript &script, auto &args,
                                  ScriptValue &result, std::string &error) {
                   zelbridge::Arena arena;
                   return zelbridge::specialMember(
                       script, args[0], script.getText(args[1], arena), result,
                       error);
                 }));
}

int selectorOfMember(lua_State *L) {
  lua_pushstring(L,
                 zelbridge::selectorOfMember(luaL_checkstring(L, 1)).c_str());
  return 1;
}

/* Runs the idiom with the objc table, the handles' metatable and the
   helpers; a failure leaves the bridge's commands working. */
void installIdiom(lua_State *L, LuaScript *script) {
  if (luaL_loadbuffer(L, zelLuaIdiom, std::strlen(zelLuaIdiom), "=(objc)") !=
      LUA_OK) {
    lua_pop(L, 1);
    return;
  }
  lua_getglobal(L, "objc");
  luaL_getmetatable(L, handleMetatable);
  lua_pushlightuserdata(L, script);
  lua_pushcclosure(L, specialMember, 1);
  lua_pushcfunction(L, selectorOfMember);
  if (lua_pcall(L, 4, 0, 0) != LUA_OK)
    lua_pop(L, 1);
}

/* ---- interpreters ---- */

class LuaInterpreter : public zelbridge::Interpreter {
public:
  LuaInterpreter() : L_(luaL_newstate()), script_(new LuaScript(L_)) {
    luaL_openlibs(L_);
    makeHandleMetatable(L_, script_);
    lua_newtable(L_);
    bind(L_, script_, "objc", zelbridge::commands());
    lua_setglobal(L_, "objc");
    installIdiom(L_, script_);
  }
  /* The state stays: method bodies may still run in it. */
  ~LuaInterpreter() override { zelbridge::freeCallbacks(*script_); }

  zelbridge::Script &script() override { return *script_; }

  bool sourceFile(const char *path, ScriptValue &result,
                  std::string &error) override {
    return run(luaL_loadfile(L_, path), result, error);
  }
  /* An expression answers its value, as in Lua's own console. */
  bool evaluate(const char *text, ScriptValue &result,
                std::string &error) override {
    std::string expression = std::string("return ") + text;
    if (luaL_loadbuffer(L_, expression.data(), expression.size(),
                        "=(evaluate)") == LUA_OK)
      return run(LUA_OK, result, error);
    lua_pop(L_, 1);
    return run(luaL_loadbuffer(L_, text, std::strlen(text), "=(evaluate)"),
               result, error);
  }
  /* Cut short when the compiler's complaint is about the end of input. */
  bool isComplete(const char *text) override {
    if (luaL_loadbuffer(L_, text, std::strlen(text), "=(console)") == LUA_OK) {
      lua_pop(L_, 1);
      return true;
    }
    size_t length = 0;
    const char *message = lua_tolstring(L_, -1, &length);
    bool cutShort =
        length >= 5 && std::strcmp(message + length - 5, "<eof>") == 0;
    lua_pop(L_, 1);
    return !cutShort;
  }
  bool setVariable(const char *name, ScriptValue value, bool,
                   std::string &) override {
    lua_pushvalue(script_->state(), indexOf(value));
    lua_setglobal(script_->state(), name);
    return true;
  }

private:
  bool run(int loaded, ScriptValue &result, std::string &error) {
    bool ok = loaded == LUA_OK &&
              script_->callProtected(lua_gettop(L_), nullptr, 0, result, error);
    if (loaded != LUA_OK)
      error = lua_tostring(L_, -1);
    std::fflush(stdout); /* before the report of an error */
    return ok;
  }

  lua_State *L_;
  LuaScript *script_; /* kept for ever, as the state */
};

/* After the modules are registered (priorities 101 to 103). */
__attribute__((constructor(110))) void registerLua() {
  zelbridge::registerLanguage("Lua", "ZELLua", "lua",
                              [](std::string &) -> zelbridge::Interpreter * {
                                return new LuaInterpreter;
                              });
}

/* The framework marker; zelLua imports zelJavaScript's in turn, so that
   the languages are listed Tcl, JavaScript, Lua. */
OBJC_CLASS_RECORDS(Framework_class, "NSFramework_zelLua", "NSObject",
                   sizeof(id), nullptr, nullptr, nullptr);

OBJC_MODULE_RECORD(Framework_module, 1, 0, &Framework_class);

} // namespace

OBJC_IMPORT_CLASS(NSFramework_zelJavaScript);
OBJC_CLASS_SYMBOL(ZELLuaInterp);
OBJC_CLASS_SYMBOL(NSFramework_zelLua);
OBJC_REGISTER_MODULE(Framework_module)
OBJC_LIBRARY_REGISTRATION()
