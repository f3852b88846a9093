// The main script of HelloJS.app. The launcher sets argc and argv: the
// program's own argument count and vector, program name first.
print("Hello from JavaScript");
print("argc = " + argc);
argv.forEach((argument, index) => print(`argv[${index}] = ${argument}`));

// Objective-C from the script: a string, a class with a method written
// here that Objective-C calls back (performSelector:withObject:), and a C
// function.
const greeting = objc.string("Hello, Objective-C");
print(`"${objc.send(greeting, "cString")}" has ${objc.send(greeting, "length")} characters`);
const Greeter = objc.defineClass("Greeter", objc.class("NSObject"),
                                 '{Greeter="count"i}');
objc.method(Greeter, "greet:", "@12@0:4@8", function (self, _cmd, name) {
  objc.ivar(self, "count", objc.ivar(self, "count") + 1);
  return objc.string(`greeting #${objc.ivar(self, "count")}: hello, ` +
                     objc.send(name, "cString"));
});
const greeter = objc.send(objc.send(Greeter, "alloc"), "init");
objc.send(greeter, "greet:", "first");
const answer = objc.send(greeter, "performSelector:withObject:", "greet:",
                         objc.string("world"));
print(objc.send(answer, "cString"));
const atan2 = objc.cfunction("atan2", "d16d0d8");
print(`pi = ${(4 * atan2(1, 1)).toFixed(6)}`);

if (argv.slice(1).includes("--fail"))
  throw new Error("asked to fail with --fail");
console.log("Goodbye");
