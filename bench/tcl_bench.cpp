// Benchmarks of the bridges against baselines measured in the same run:
// a send from Tcl against a message from C and against a Tcl command that
// only parses its arguments, the same send from JavaScript and Lua against
// a native function of that language reading the same two arguments
// (Object.is, rawequal), a JavaScript send through the idiom (h.nothing())
// against objc.send, and a Tcl method called from C against a C method. The program ends with the table of ratios.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include <objc/objc-load.h>
#include <zelObjCRuntime/zelObjCRuntime.h>
#include <zelTcl/zelTcl.h>

#include <tcl.h>

using namespace objc_module_records;

OBJC_IMPORT_CLASS(NSFramework_zelTcl);
OBJC_IMPORT_CLASS(NSFramework_zelLua);

namespace {

void nothing(id, SEL) { benchmark::ClobberMemory(); }

MethodList<1> Target_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("nothing", nothing)}};
OBJC_CLASS_RECORDS(Target_class, "TclBenchTarget", "NSObject", sizeof(id),
                   nullptr, &Target_imethods, nullptr);
OBJC_MODULE_RECORD(Target_module, 1, 0, &Target_class);

} // namespace

OBJC_REGISTER_MODULE(Target_module)
OBJC_LIBRARY_REGISTRATION()

namespace {

Tcl_Interp *interp() {
  static Tcl_Interp *main = [] {
    Tcl_FindExecutable(nullptr);
    Tcl_Interp *made = Tcl_CreateInterp();
    Zeltcl_Init(made);
    return made;
  }();
  return main;
}

Tcl_Obj *evaluate(const char *script) {
  if (Tcl_EvalEx(interp(), script, -1, TCL_EVAL_GLOBAL) != TCL_OK) {
    std::fprintf(stderr, "%s\n", Tcl_GetStringResult(interp()));
    std::exit(1);
  }
  return Tcl_GetObjResult(interp());
}

id target() {
  static id object =
      objc_send(objc_send_class("TclBenchTarget", "alloc"), "init");
  return object;
}

id tclTarget() {
  static id object = [] {
    evaluate("objc::defineClass TclBenchScripted NSObject\n"
             "objc::method TclBenchScripted nothing v8@0:4 {} {}\n"
             "set ::scripted [objc::send [objc::send TclBenchScripted alloc]"
             " init]");
    return reinterpret_cast<id>(
        std::strtoul(Tcl_GetString(evaluate("set ::scripted")), nullptr, 16));
  }();
  return object;
}

/* The baseline command: takes a receiver and a selector as objc::send
   does, reads both, and answers nothing. */
int parseOnly(ClientData, Tcl_Interp *in, int objc, Tcl_Obj *const objv[]) {
  if (objc != 3)
    return TCL_ERROR;
  char *end = nullptr;
  unsigned long receiver = std::strtoul(Tcl_GetString(objv[1]), &end, 16);
  const char *selector = Tcl_GetString(objv[2]);
  benchmark::DoNotOptimize(receiver);
  benchmark::DoNotOptimize(selector);
  Tcl_ResetResult(in);
  return TCL_OK;
}

/* Runs the command words over and over, as a script's loop would. */
void evalWords(benchmark::State &state, Tcl_Obj *words[], int count = 3) {
  for (int i = 0; i < count; ++i)
    Tcl_IncrRefCount(words[i]);
  for (auto _ : state)
    if (Tcl_EvalObjv(interp(), count, words, 0) != TCL_OK)
      state.SkipWithError(Tcl_GetStringResult(interp()));
  for (int i = 0; i < count; ++i)
    Tcl_DecrRefCount(words[i]);
}

Tcl_Obj *handleOf(const char *variable) {
  return Tcl_DuplicateObj(
      Tcl_GetVar2Ex(interp(), variable, nullptr, TCL_GLOBAL_ONLY));
}

void BM_TclSend(benchmark::State &state) {
  evaluate("set ::target [objc::send TclBenchTarget alloc]");
  Tcl_Obj *words[3] = {Tcl_NewStringObj("objc::send", -1), handleOf("::target"),
                       Tcl_NewStringObj("nothing", -1)};
  evalWords(state, words);
}

void BM_TclParseOnly(benchmark::State &state) {
  Tcl_CreateObjCommand(interp(), "parseOnly", parseOnly, nullptr, nullptr);
  evaluate("set ::target [objc::send TclBenchTarget alloc]");
  Tcl_Obj *words[3] = {Tcl_NewStringObj("parseOnly", -1), handleOf("::target"),
                       Tcl_NewStringObj("nothing", -1)};
  evalWords(state, words);
}

void BM_TclSendObjectResult(benchmark::State &state) {
  evaluate("set ::target [objc::send TclBenchTarget alloc]");
  Tcl_Obj *words[3] = {Tcl_NewStringObj("objc::send", -1), handleOf("::target"),
                       Tcl_NewStringObj("self", -1)};
  evalWords(state, words);
}

/* The handle as the command word ($h nothing): the unknown handler makes
   the handle's command on the first run, every later one finds it. */
void BM_TclHandleCommand(benchmark::State &state) {
  evaluate("set ::target [objc::send TclBenchTarget alloc]");
  Tcl_Obj *words[2] = {handleOf("::target"), Tcl_NewStringObj("nothing", -1)};
  evalWords(state, words, 2);
}

/* A Tcl callback called through its C function pointer. */
void BM_CallbackTcl(benchmark::State &state) {
  auto callback = reinterpret_cast<void (*)()>(std::strtoul(
      Tcl_GetString(evaluate("objc::callback new v0 {} {}")), nullptr, 16));
  for (auto _ : state)
    callback();
}

void BM_MessageC(benchmark::State &state) {
  id object = target();
  SEL sel = sel_registerName("nothing");
  for (auto _ : state)
    objc_send<void>(object, sel);
}

void BM_MessageTclMethod(benchmark::State &state) {
  id object = tclTarget();
  SEL sel = sel_registerName("nothing");
  for (auto _ : state)
    objc_send<void>(object, sel);
}

// ---------------------------------------------------------------------
// Allocation while the registry hears of every object allocated (what
// objc::instances turns on at its first use) and while it does not.

void allocateAndFree(benchmark::State &state) {
  static id cls = objc_lookUpClass("TclBenchTarget");
  static SEL alloc = sel_registerName("alloc");
  static SEL init = sel_registerName("init");
  static SEL release = sel_registerName("release");
  for (auto _ : state)
    objc_send<void>(objc_send(objc_send(cls, alloc), init), release);
}

/* The switch is process-wide: each run sets it as it needs it. */
void watchAllocations(bool on) {
  static bool asked = (evaluate("objc::instances TclBenchTarget"), true);
  benchmark::DoNotOptimize(asked);
  zelObjC_SetRegistersIdsOnAlloc(on ? YES : NO);
}

void BM_AllocWatched(benchmark::State &state) {
  watchAllocations(true);
  allocateAndFree(state);
  watchAllocations(false);
}

void BM_AllocUnwatched(benchmark::State &state) {
  watchAllocations(false);
  allocateAndFree(state);
}

// ---------------------------------------------------------------------
// JavaScript and Lua: loops of 1000 calls inside the language, defined
// once and run through the interpreter object.

id languageInterp(const char *className, const char *setup) {
  id interp = objc_send_class(className, "mainInterp");
  objc_send(interp, "evaluate:",
            objc_send_class("NSString", "stringWithCString:", setup));
  return interp;
}

void evalLoop(benchmark::State &state, id interp, const char *call) {
  id text = objc_send_class("NSString", "stringWithCString:", call);
  objc_send(text, "retain");
  for (auto _ : state) {
    id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    objc_send(interp, "evaluate:", text);
    objc_send<void>(pool, "release");
  }
  objc_send<void>(text, "release");
}

id jsInterp() {
  static id interp = languageInterp(
      "ZELJSInterp",
      "var target = objc.send(objc.class('TclBenchTarget'), 'alloc');\n"
      "function sendLoop() { for (let i = 0; i < 1000; ++i)\n"
      "  objc.send(target, 'nothing'); }\n"
      "function proxiedLoop() { for (let i = 0; i < 1000; ++i)\n"
      "  target.nothing(); }\n"
      "function nativeLoop() { for (let i = 0; i < 1000; ++i)\n"
      "  Object.is(target, 'nothing'); }");
  return interp;
}

id luaInterp() {
  static id interp = languageInterp(
      "ZELLuaInterp",
      "target = objc.send(objc.class('TclBenchTarget'), 'alloc')\n"
      "function sendLoop() for i = 1, 1000 do\n"
      "  objc.send(target, 'nothing') end end\n"
      "function objectLoop() for i = 1, 1000 do\n"
      "  objc.send(target, 'self') end end\n"
      "function nativeLoop() for i = 1, 1000 do\n"
      "  rawequal(target, 'nothing') end end");
  return interp;
}

void BM_JsSend(benchmark::State &state) {
  evalLoop(state, jsInterp(), "sendLoop()");
}
void BM_JsProxiedSend(benchmark::State &state) {
  evalLoop(state, jsInterp(), "proxiedLoop()");
}
void BM_JsNative(benchmark::State &state) {
  evalLoop(state, jsInterp(), "nativeLoop()");
}
void BM_LuaSend(benchmark::State &state) {
  evalLoop(state, luaInterp(), "sendLoop()");
}
void BM_LuaSendObject(benchmark::State &state) {
  evalLoop(state, luaInterp(), "objectLoop()");
}
void BM_LuaNative(benchmark::State &state) {
  evalLoop(state, luaInterp(), "nativeLoop()");
}

// ---------------------------------------------------------------------
// The table of ratios

struct Row {
  const char *what;
  const char *ours;
  const char *baseline;
  double target; // 0: report only
};

const Row rows[] = {
    {"objc::send of a no-argument method / objc_msgSend from C", "tcl_send",
     "msgsend_c", 0.0},
    {"objc::send of a no-argument method / Tcl command parsing the same "
     "arguments",
     "tcl_send", "tcl_parse_only", 1.9},
    {"objc::send answering an object / Tcl command parsing the same "
     "arguments",
     "tcl_send_object", "tcl_parse_only", 2.2},
    {"a handle as a command ($h nothing) / objc::send $h nothing",
     "tcl_handle_command", "tcl_send", 1.2},
    {"objc.send of a no-argument method / JavaScript native function "
     "reading the same arguments (Object.is)",
     "js_send", "js_native", 0.0},
    {"h.nothing() through the idiom's proxy / objc.send(h, 'nothing'), "
     "JavaScript",
     "js_proxied_send", "js_send", 1.5},
    {"objc.send of a no-argument method / Lua native function reading the "
     "same arguments (rawequal)",
     "lua_send", "lua_native", 0.0},
    {"objc.send answering the receiver's userdata / objc.send of a "
     "no-argument method, Lua",
     "lua_send_object", "lua_send", 0.0},
    {"Tcl callback called from C / Tcl-defined method called from C",
     "callback_tcl", "msgsend_tcl_method", 1.0},
    {"Tcl-defined method called from C / C method", "msgsend_tcl_method",
     "msgsend_c", 0.0},
    {"alloc, init, release from C with every allocation registered / "
     "unregistered",
     "alloc_watched", "alloc_unwatched", 0.0},
};

class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.error_occurred)
        failed_ = true;
      if (run.run_type != Run::RT_Iteration && run.aggregate_name != "mean")
        continue;
      nanoseconds_[run.run_name.function_name] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  bool failed() const { return failed_; }

  void printTable() const {
    std::printf("\n| what | ratio | target | met |\n|---|---|---|---|\n");
    for (const Row &row : rows) {
      auto ours = nanoseconds_.find(row.ours);
      auto baseline = nanoseconds_.find(row.baseline);
      if (ours == nanoseconds_.end() || baseline == nanoseconds_.end())
        continue;
      double ratio = ours->second / baseline->second;
      if (row.target == 0)
        std::printf("| %s | %.2f | report only | - |\n", row.what, ratio);
      else
        std::printf("| %s | %.2f | <= %.1f | %s |\n", row.what, ratio,
                    row.target, ratio <= row.target ? "yes" : "no");
    }
  }

private:
  std::map<std::string, double> nanoseconds_;
  bool failed_ = false;
};

} // namespace

int main(int argc, char **argv) {
  id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  benchmark::RegisterBenchmark("tcl_send", BM_TclSend);
  benchmark::RegisterBenchmark("tcl_parse_only", BM_TclParseOnly);
  benchmark::RegisterBenchmark("tcl_send_object", BM_TclSendObjectResult);
  benchmark::RegisterBenchmark("tcl_handle_command", BM_TclHandleCommand);
  benchmark::RegisterBenchmark("alloc_watched", BM_AllocWatched);
  benchmark::RegisterBenchmark("alloc_unwatched", BM_AllocUnwatched);
  benchmark::RegisterBenchmark("msgsend_c", BM_MessageC);
  benchmark::RegisterBenchmark("msgsend_tcl_method", BM_MessageTclMethod);
  benchmark::RegisterBenchmark("callback_tcl", BM_CallbackTcl);
  benchmark::RegisterBenchmark("js_send", BM_JsSend);
  benchmark::RegisterBenchmark("js_proxied_send", BM_JsProxiedSend);
  benchmark::RegisterBenchmark("js_native", BM_JsNative);
  benchmark::RegisterBenchmark("lua_send", BM_LuaSend);
  benchmark::RegisterBenchmark("lua_send_object", BM_LuaSendObject);
  benchmark::RegisterBenchmark("lua_native", BM_LuaNative);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printTable();
  benchmark::Shutdown();
  objc_send<void>(pool, "release");
  return reporter.failed() ? 1 : 0;
}
