# zel FILE, -e, standard input, the console, exit statuses and errors, in
# Tcl, JavaScript and Lua.
set(PROGRAM ${ZEL})
include(${CMAKE_CURRENT_LIST_DIR}/zel_run.cmake)

file(WRITE ${WORK}/hello.tcl
  "puts \"$argv0|$argc|[lindex $argv 1]|[objc::send [objc::string hello] length]\"\n"
  "puts [expr {[info nameofexecutable] ne {}}]\n")
file(WRITE ${WORK}/hello.js
  "print(scriptPath + '|' + scriptArgs.length + '|' + scriptArgs[1] + '|' +\n"
  "      objc.send(objc.string('hello'), 'length'));\n")
file(WRITE ${WORK}/hello.lua
  "print(arg[0] .. '|' .. #arg .. '|' .. arg[2] .. '|' ..\n"
  "      objc.send(objc.string('hello'), 'length'))\n")
file(WRITE ${WORK}/script.txt "puts {tcl by -l}\n")
file(WRITE ${WORK}/fails.tcl "proc f {} {error {went wrong}}\nf\n")
file(WRITE ${WORK}/fails.js "function f() { throw new Error('went wrong'); }\nf();\n")
file(WRITE ${WORK}/fails.lua "local function f() error('went wrong') end\nf()\n")
file(WRITE ${WORK}/exits.tcl "exit 7\n")
file(WRITE ${WORK}/exits.js "print('before'); exit(5); print('after');\n")
file(WRITE ${WORK}/quits.js "quit(6);\n")
file(WRITE ${WORK}/exits.lua "os.exit(4)\n")

zel_case(tcl_file 0 "^hello\\.tcl\\|2\\|two words\\|5\n1\n$" "^$"
  ARGS hello.tcl one "two words")
zel_case(js_file 0 "^hello\\.js\\|2\\|two words\\|5\n$" "^$"
  ARGS hello.js one "two words")
zel_case(lua_file 0 "^hello\\.lua\\|2\\|two words\\|5\n$" "^$"
  ARGS hello.lua one "two words")
zel_case(language_by_option 0 "^tcl by -l\n$" "^$" ARGS -l tcl script.txt)
zel_case(evaluate_tcl 0 "^a b\n$" "^$" ARGS -e "puts $argv" a b)
zel_case(evaluate_js 0 "^3\n$" "^$" ARGS -l js -e "print(scriptArgs.length)" x y z)
zel_case(evaluate_lua 0 "^q\n$" "^$" ARGS -l lua -e "print(arg[1])" q)
zel_case(standard_input 0 "^from input\n$" "^$" INPUT "puts {from input}\n")
zel_case(tcl_error 1 "^$" "^went wrong\n    while executing\n\"error \\{went wrong\\}\""
  ARGS fails.tcl)
zel_case(js_error 1 "^$" "fails\\.js:1: Error: went wrong\nf@[^\n]*fails\\.js:1:"
  ARGS fails.js)
zel_case(lua_error 1 "^$" "fails\\.lua:1: went wrong\nstack traceback:" ARGS fails.lua)
zel_case(tcl_exit 7 "^$" "^$" ARGS exits.tcl)
zel_case(js_exit 5 "^before\n$" "^$" ARGS exits.js)
zel_case(js_quit 6 "^$" "^$" ARGS quits.js)
zel_case(lua_exit 4 "^$" "^$" ARGS exits.lua)
zel_case(bad_option 2 "^$" "^usage: zel " ARGS -x)
zel_case(bad_language 2 "^$" "^usage: zel " ARGS -l cobol)
zel_case(missing_file 2 "^$" "cannot open nothing\\.tcl" ARGS nothing.tcl)
zel_case(unknown_extension 2 "^$" "cannot tell the language of script\\.txt"
  ARGS script.txt)

# (No semicolon in an input text: CMake would split the argument there.)
# The console reads piped input the same way with -i: entries go on over
# lines while cut short, results are printed, errors do not end it.
zel_case(console_tcl 0 "^2\n5\nafter\n$" "^oops\n"
  INPUT "expr {1 + 1}\nproc f {} {\nreturn 5\n}\nf\nerror oops\nputs after\n"
  ARGS -i)
zel_case(console_js 0 "^2\nafter\n$" "Error: bad"
  INPUT "let a = [1,\n2]\na.length\nthrow new Error('bad')\n'after'\n"
  ARGS -l js -i)
zel_case(console_lua 0 "^3\n2\nafter\n$" "x\nstack traceback"
  INPUT "1 + 2\nt = {1,\n2}\n#t\nerror('x')\nprint('after')\n"
  ARGS -l lua -i)
zel_case(file_then_console 0 "^hello\\.tcl\\|0\\|\\|5\n1\nhello\\.tcl\n$" "^$"
  INPUT "set argv0\n" ARGS -i hello.tcl)

# -c LINE prints what the console's Tab offers for the line's last word:
# class names, and selectors as each language spells them, classes the
# script just made included.
zel_case(complete_tcl 0 "^stringWithCString:\n$" "^$"
  ARGS -c "objc::send \[objc::class NSStr\] stringWithC")
zel_case(complete_class_tcl 0 "^NSString\n$" "^$"
  ARGS -c "objc::send \[objc::class NSStr")
zel_case(complete_js 0 "^initWithObjects_count_\ninitWithObjects_forKeys_count_\n$" "^$"
  ARGS -l js -c "objc.classes.NSArray.alloc().initWithO")
zel_case(complete_lua 0 "^array\narrayWithObject_\narrayWithObjects_\n$" "^$"
  ARGS -l lua -c "x = NSMutableArray:arr")
zel_case(complete_after_script_lua 0 "^LuaTabbed\n$" "^$"
  ARGS -l lua -e "objc.defineClass('LuaTabbed', 'NSObject')" -c "t = LuaTab")
