/* Objects in Lua's idiom, made in Lua on the core's rules: a field of a
   handle is a function sending the selector the name spells
   (s:appendString_(t)), $-names tell about the object; objc.classes.NAME
   is the class. (tostring(h), the description, is the metatable's.) */
extern const char zelLuaIdiom[] = R"lua(
local objc, meta, special, selectorOf = ...
local function ivars(h) return setmetatable({}, {
  __index = function(_, name) return objc.ivar(h, name) end,
  __newindex = function(_, name, value) objc.ivar(h, name, value) end}) end
meta.__index = function(h, name)
  if type(name) ~= 'string' then return nil end
  if name == '$ivars' then return ivars(h) end
  if name:sub(1, 1) == '$' then return special(h, name) end
  local selector = selectorOf(name)
  return function(receiver, ...) return objc.send(receiver, selector, ...) end
end
objc.classes = setmetatable({}, {__index = function(_, name)
  return objc.class(name) end})
)lua";
