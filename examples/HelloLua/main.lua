-- The main script of HelloLua.app. The launcher sets argc and argv: the
-- program's own argument count and vector, program name first. The script
-- reaches Objective-C and C through the table objc.
print("Hello from " .. _VERSION)
print("argc = " .. argc)
for index, argument in ipairs(argv) do
  print(("argv[%d] = %s"):format(index - 1, argument))
end

-- Strings are objects: make one and send it messages.
local greeting = objc.string("Hello, Objective-C")
print(("string: %s (%d characters)"):format(objc.send(greeting, "cString"),
                                             objc.send(greeting, "length")))
local NSString = objc.class("NSString")
local copy = objc.send(objc.send(NSString, "alloc"), "initWithCString:",
                       "from Lua")
print("equal: " .. objc.send(greeting, "isEqual:", copy))
objc.send(copy, "release")

-- A class of our own, with instance variables (a struct encoding) and
-- methods written in Lua.
local Counter = objc.defineClass("Counter", objc.class("NSObject"),
                                 '{Counter="count"i"step"s"flags"b4}')
objc.method(Counter, "init", "@8@0:4", function(self, _cmd)
  self = objc.super(self, "init")
  objc.ivar(self, "step", 1)
  return self
end)
objc.method(Counter, "increment", "i8@0:4", function(self, _cmd)
  return objc.ivar(self, "count",
                   objc.ivar(self, "count") + objc.ivar(self, "step"))
end)
objc.method(Counter, "setStep:", "v12@0:4s8", function(self, _cmd, step)
  objc.ivar(self, "step", step)
end)
objc.method(Counter, "describe", "@8@0:4", function(self, _cmd)
  return objc.string("Counter at " .. objc.ivar(self, "count"))
end)
local counter = objc.send(objc.send(Counter, "alloc"), "init")
objc.send(counter, "increment")
objc.send(counter, "setStep:", 10)
-- Called from Objective-C: NSObject's performSelector: runs the Lua method.
objc.send(counter, "performSelector:", "increment")
print("counter: " .. objc.send(objc.send(counter, "describe"), "cString"))

-- Redefined: the new method runs and reaches the one it displaced.
objc.method(Counter, "increment", "i8@0:4", function(self, _cmd)
  local count = objc.former(self, "increment")
  print(("  (increment redefined: the former method counted to %d)"):format(count))
  return count
end)
objc.send(counter, "increment")
print("counter: " .. objc.ivar(counter, "count"))

-- A protocol made at run time, which the class implements.
objc.protocol.create("Describing", {}, {describe = "@8@0:4"})
print("implements Describing: " ..
      tostring(objc.protocol.implements(Counter, "Describing")))

-- C functions, found by name.
local strlen = objc.cfunction("strlen", "I4*0")
local atan2 = objc.cfunction("atan2", "d16d0d8")
print("strlen: " .. strlen("HelloLua.app"))
print(("atan2(1, 1) * 4 = %.6f"):format(atan2(1, 1) * 4))

-- An event dispatched by the application object: its Lua handler fails,
-- and the application presents the error instead of ending.
local Button = objc.defineClass("Button", objc.class("NSObject"))
objc.method(Button, "click:", "v12@0:4@8", function(self, _cmd, event)
  error("the button's handler failed")
end)
local app = objc.send(objc.class("NSApplication"), "sharedApplication")
local button = objc.send(objc.send(Button, "alloc"), "init")
local event = objc.send(objc.class("NSEvent"), "eventWithTarget:action:object:",
                        button, "click:", nil)
objc.send(app, "sendEvent:", event)
print("the event was handled")

for index = 2, #argv do
  if argv[index] == "--fail" then error("asked to fail with --fail") end
end
print("Goodbye")
