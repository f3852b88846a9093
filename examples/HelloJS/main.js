// The main script of HelloJS.app. The launcher sets argc and argv: the
// program's own argument count and vector, program name first.
print("Hello from JavaScript");
print("argc = " + argc);
argv.forEach((argument, index) => print(`argv[${index}] = ${argument}`));
if (argv.slice(1).includes("--fail"))
  throw new Error("asked to fail with --fail");
console.log("Goodbye");
