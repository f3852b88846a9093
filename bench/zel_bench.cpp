// Benchmarks of zelObjCRuntime against a baseline measured in the same run.
// Absolute times mean little under an emulator, so the program ends with a
// table of ratios (ours / baseline), each with its target.
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <ffi.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include <objc/objc-load.h>
#include <zelObjCRuntime/zelObjCRuntime.h>

#include "support/allocation_counter.h"

using namespace objc_module_records;

// ---------------------------------------------------------------------
// A class with an empty method, for the message baseline.

static void Target_nothing(id, SEL) {}
static MethodList<1> Target_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("nothing", Target_nothing)}};
static struct objc_class Target_meta = {
    nullptr, nullptr,  "ZelBenchTarget",
    0,       CLS_META, sizeof(struct objc_class),
    nullptr, nullptr,  nullptr,
    nullptr};
static struct objc_class Target_class = {
    &Target_meta,     OBJC_SUPER_NAME("NSObject"),
    "ZelBenchTarget", 0,
    CLS_CLASS,        4,
    nullptr,          OBJC_MODULE_METHODS(Target_imethods),
    nullptr,          nullptr};
static Symtab<1> Target_symtab = {0, nullptr, 1, 0, {&Target_class}};
static struct objc_module Target_module = {
    OBJC_MODULE_VERSION, sizeof(struct objc_module), __FILE__,
    reinterpret_cast<struct objc_symtab *>(&Target_symtab)};
OBJC_REGISTER_MODULE(Target_module)
OBJC_LIBRARY_REGISTRATION()

namespace {

// ---------------------------------------------------------------------
// Dynamic call

__attribute__((noinline)) int sum4(int a, int b, int c, int d) {
  benchmark::ClobberMemory();
  return a + b + c + d;
}

__attribute__((noinline)) double mixed(int a, double b, char c, long long d) {
  benchmark::ClobberMemory();
  return a + b + c + static_cast<double>(d);
}

template <typename F> void *code(F *function) {
  return reinterpret_cast<void *>(function);
}

struct Sum4Call {
  int a = 1, b = 2, c = 3, d = 4;
  int result = 0;
  ApplyVal args[4] = {{APPLY_INT, 4, &a},
                      {APPLY_INT, 4, &b},
                      {APPLY_INT, 4, &c},
                      {APPLY_INT, 4, &d}};
  ApplyVal out = {APPLY_INT, 4, &result};
  void *ffiArgs[4] = {&a, &b, &c, &d};
};

struct MixedCall {
  int a = 1;
  double b = 2.5;
  char c = 'c';
  long long d = 1LL << 40;
  double result = 0;
  ApplyVal args[4] = {{APPLY_INT, 4, &a},
                      {APPLY_DOUBLE, 8, &b},
                      {APPLY_CHAR, 1, &c},
                      {APPLY_LONGLONG, 8, &d}};
  ApplyVal out = {APPLY_DOUBLE, 8, &result};
  void *ffiArgs[4] = {&a, &b, &c, &d};
};

void BM_Sum4Direct(benchmark::State &state) {
  int (*volatile function)(int, int, int, int) = sum4;
  Sum4Call call;
  for (auto _ : state) {
    call.result = function(call.a, call.b, call.c, call.d);
    benchmark::DoNotOptimize(call.result);
  }
}

void BM_Sum4Apply(benchmark::State &state) {
  Sum4Call call;
  void *volatile function = code(sum4);
  for (auto _ : state) {
    apply(function, &call.out, 4, call.args);
    benchmark::DoNotOptimize(call.result);
  }
  if (call.result != 10)
    state.SkipWithError("apply gave a wrong sum");
}

void BM_Sum4Ffi(benchmark::State &state) {
  Sum4Call call;
  ffi_type *types[4] = {&ffi_type_sint, &ffi_type_sint, &ffi_type_sint,
                        &ffi_type_sint};
  ffi_cif cif;
  ffi_prep_cif(&cif, FFI_DEFAULT_ABI, 4, &ffi_type_sint, types);
  ffi_arg result = 0;
  for (auto _ : state) {
    ffi_call(&cif, FFI_FN(sum4), &result, call.ffiArgs);
    benchmark::DoNotOptimize(result);
  }
}

void BM_MixedDirect(benchmark::State &state) {
  double (*volatile function)(int, double, char, long long) = mixed;
  MixedCall call;
  for (auto _ : state) {
    call.result = function(call.a, call.b, call.c, call.d);
    benchmark::DoNotOptimize(call.result);
  }
}

void BM_MixedApply(benchmark::State &state) {
  MixedCall call;
  void *volatile function = code(mixed);
  for (auto _ : state) {
    apply(function, &call.out, 4, call.args);
    benchmark::DoNotOptimize(call.result);
  }
  if (call.result != mixed(call.a, call.b, call.c, call.d))
    state.SkipWithError("apply gave a wrong result");
}

void BM_MixedFfi(benchmark::State &state) {
  MixedCall call;
  ffi_type *types[4] = {&ffi_type_sint, &ffi_type_double, &ffi_type_schar,
                        &ffi_type_sint64};
  ffi_cif cif;
  ffi_prep_cif(&cif, FFI_DEFAULT_ABI, 4, &ffi_type_double, types);
  double result = 0;
  for (auto _ : state) {
    ffi_call(&cif, FFI_FN(mixed), &result, call.ffiArgs);
    benchmark::DoNotOptimize(result);
  }
}

// ---------------------------------------------------------------------
// Method lookup

void BM_LookupMethodHit(benchmark::State &state) {
  Class cls = reinterpret_cast<Class>(objc_getClass("ZelBenchTarget"));
  SEL sel = sel_registerName("nothing");
  ZelObjC_LookupMethod(cls, sel); // fills the cache
  for (auto _ : state)
    benchmark::DoNotOptimize(ZelObjC_LookupMethod(cls, sel));
}

void BM_MessageEmpty(benchmark::State &state) {
  id object = objc_send_class("ZelBenchTarget", "new");
  SEL sel = sel_registerName("nothing");
  objc_send<void>(object, sel);
  for (auto _ : state) {
    objc_send<void>(object, sel);
    benchmark::ClobberMemory();
  }
  objc_send<void>(object, "release");
}

// ---------------------------------------------------------------------
// 64-bit integer text

const char decimalText[] = "12345678901234567890";
const char hexText[] = "0123456789abcdef";

template <unsigned long long (*Read)(const char *, char **, int)>
void readText(benchmark::State &state, const char *text, int base) {
  const char *volatile input = text;
  for (auto _ : state) {
    char *end;
    benchmark::DoNotOptimize(Read(input, &end, base));
    benchmark::DoNotOptimize(end);
  }
}

unsigned long long libcStrtoull(const char *text, char **end, int base) {
  return std::strtoull(text, end, base);
}

void BM_StrtoullDecimal(benchmark::State &state) {
  readText<zelObjC_strtoull>(state, decimalText, 10);
}
void BM_LibcStrtoullDecimal(benchmark::State &state) {
  readText<libcStrtoull>(state, decimalText, 10);
}
void BM_StrtoullHex(benchmark::State &state) {
  readText<zelObjC_strtoull>(state, hexText, 16);
}
void BM_LibcStrtoullHex(benchmark::State &state) {
  readText<libcStrtoull>(state, hexText, 16);
}

const long long signedValue = -1234567890123456789LL;
const unsigned long long unsignedValue = 12345678901234567890ULL;

void BM_Lltostr(benchmark::State &state) {
  char buf[21];
  volatile long long value = signedValue;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zelObjC_lltostr(value, buf));
    benchmark::ClobberMemory();
  }
}
void BM_SnprintfLld(benchmark::State &state) {
  char buf[21];
  volatile long long value = signedValue;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%lld", value));
    benchmark::ClobberMemory();
  }
}
void BM_Ulltostr(benchmark::State &state) {
  char buf[21];
  volatile unsigned long long value = unsignedValue;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zelObjC_ulltostr(value, buf));
    benchmark::ClobberMemory();
  }
}
void BM_SnprintfLlu(benchmark::State &state) {
  char buf[21];
  volatile unsigned long long value = unsignedValue;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%llu", value));
    benchmark::ClobberMemory();
  }
}

// ---------------------------------------------------------------------
// Symbol table files

constexpr int tableSize = 100000;
constexpr int smallTableSize = 1000;

// Names and type texts of the lengths real declarations have.
std::string symbolFile(int definitions) {
  static const char *const typeTexts[] = {
      "i",      "^{_NSZone=}", "v12@0:4@8",   "{_NSRange=II}",
      "(?=ic)", "r*",          "^(NSFoo=id)", "[16^v]"};
  char path[64];
  std::snprintf(path, sizeof path, "/tmp/zel_bench_%d_%d.sym",
                static_cast<int>(getpid()), definitions);
  SymbolTable *table = ZelObjC_NewSymbolTable();
  for (int i = 0; i < definitions; ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "NSBenchDeclaration%dName", i);
    ZelObjC_DefineSymbol(table, name, static_cast<char>(1 + i % 6),
                         typeTexts[i % 8]);
  }
  ZelObjC_SaveSymbolTable(table, path);
  ZelObjC_DestroySymbolTable(table);
  return path;
}

const std::string &bigFile() {
  static const std::string path = symbolFile(tableSize);
  return path;
}

const std::string &smallFile() {
  static const std::string path = symbolFile(smallTableSize);
  return path;
}

// One load and its destroy, inside a pool: answers the definitions seen.
int loadOnce(const char *path) {
  id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  SymbolTable *table = ZelObjC_LoadSymbolTable(path);
  int kind = 0;
  if (table) {
    const char *type;
    kind = ZelObjC_LookupSymbol(table, "NSBenchDeclaration7Name", &type);
    ZelObjC_DestroySymbolTable(table);
  }
  objc_send<void>(pool, "release");
  return kind;
}

unsigned long allocationsPerLoad(const char *path) {
  startCountingAllocations();
  loadOnce(path);
  return stopCountingAllocations();
}

void BM_LoadSymbolTable(benchmark::State &state) {
  const std::string &path = bigFile();
  for (auto _ : state)
    benchmark::DoNotOptimize(loadOnce(path.c_str()));
  if (loadOnce(path.c_str()) == 0)
    state.SkipWithError("the table did not load");
  const unsigned long big = allocationsPerLoad(path.c_str());
  const unsigned long small = allocationsPerLoad(smallFile().c_str());
  state.counters["mallocs"] = static_cast<double>(big);
  state.counters["mallocs_1k"] = static_cast<double>(small);
}

// Reading the file and copying each name and definition into a map.
std::unordered_map<std::string, std::string> copyFile(const char *path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                          std::istreambuf_iterator<char>());
  std::unordered_map<std::string, std::string> map;
  if (bytes.empty() || bytes.back() != '\0')
    return map;
  const char *last = bytes.data() + bytes.size() - 1;
  for (const char *cursor = bytes.data(); cursor < last;) {
    const char *name = cursor + 1;
    const char *definition = name + std::strlen(name) + 1;
    map[name] = definition;
    cursor = definition + std::strlen(definition);
  }
  return map;
}

void BM_CopySymbolFile(benchmark::State &state) {
  const std::string &path = bigFile();
  for (auto _ : state)
    benchmark::DoNotOptimize(copyFile(path.c_str()).size());
  const unsigned long size = copyFile(path.c_str()).size();
  if (size != tableSize)
    state.SkipWithError("the copy lost definitions");
  startCountingAllocations();
  copyFile(path.c_str());
  state.counters["mallocs"] = static_cast<double>(stopCountingAllocations());
}

// ---------------------------------------------------------------------
// External symbols

void BM_LookupExternalSymbol(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(ZelObjC_LookupExternalSymbol("qsort"));
  if (ZelObjC_LookupExternalSymbol("qsort") != dlsym(RTLD_DEFAULT, "qsort"))
    state.SkipWithError("a different qsort");
}

void BM_Dlsym(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(dlsym(RTLD_DEFAULT, "qsort"));
}

// ---------------------------------------------------------------------
// Method signatures: 12 arguments, offsets included.

const char signature[] =
    "{_NSRange=II}64@0:4i8d12c20q24f32^v36*40{_NSPoint=ff}44@52:56^i60";

void BM_SkipArgspecWalk(benchmark::State &state) {
  const char *volatile text = signature;
  for (auto _ : state) {
    int count = 0;
    for (const char *p = text; *p; p = objc_skip_argspec(p))
      ++count;
    benchmark::DoNotOptimize(count);
  }
}

void BM_Strlen(benchmark::State &state) {
  const char *volatile text = signature;
  for (auto _ : state)
    benchmark::DoNotOptimize(std::strlen(text));
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
    {"apply int f(int,int,int,int) / direct call", "apply_sum4", "direct_sum4",
     6.0},
    {"apply double f(int,double,char,long long) / direct call", "apply_mixed",
     "direct_mixed", 2.5},
    {"apply int f(int,int,int,int) / ffi_call", "apply_sum4", "ffi_sum4", 0.4},
    {"apply double f(int,double,char,long long) / ffi_call", "apply_mixed",
     "ffi_mixed", 0.8},
    {"ZelObjC_LookupMethod (cache hit) / objc_msgSend to empty method",
     "lookup_method_hit", "msgsend_empty", 1.0},
    {"zelObjC_strtoull 20 decimal digits / strtoull", "strtoull_decimal",
     "libc_strtoull_decimal", 0.8},
    {"zelObjC_strtoull 16 hex digits / strtoull", "strtoull_hex",
     "libc_strtoull_hex", 1.0},
    {"zelObjC_lltostr / snprintf %lld", "lltostr", "snprintf_lld", 0.5},
    {"zelObjC_ulltostr / snprintf %llu", "ulltostr", "snprintf_llu", 0.5},
    {"ZelObjC_LoadSymbolTable 100,000 definitions / copy into "
     "unordered_map",
     "load_symbol_table", "copy_symbol_file", 0.7},
    {"ZelObjC_LookupExternalSymbol(\"qsort\") / dlsym(RTLD_DEFAULT)",
     "lookup_external_symbol", "dlsym", 2.0},
    {"objc_skip_argspec walk, 12 arguments / strlen", "skip_argspec_walk",
     "strlen", 0.0},
};

// Keeps what the console shows, and each benchmark's processor time
// (steadier than wall time on a shared machine) and counters: the median of
// its repetitions where it was repeated, since a neighbour's burst on a
// shared machine drags a mean but hardly a median.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.error_occurred)
        failed_ = true;
      const bool median =
          run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (!median && run.run_type != Run::RT_Iteration)
        continue;
      // A benchmark's median comes after its repetitions, and stays.
      Result &result = results_[run.run_name.function_name];
      result.nanoseconds = run.GetAdjustedCPUTime();
      for (const auto &counter : run.counters)
        result.counters[counter.first] = counter.second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  bool failed() const { return failed_; }

  void printTable() const {
    std::printf("\n| what | ratio | target | met |\n|---|---|---|---|\n");
    for (const Row &row : rows)
      printRow(row);
    printAllocations();
  }

private:
  struct Result {
    double nanoseconds = 0;
    std::map<std::string, double> counters;
  };

  void printRow(const Row &row) const {
    auto ours = results_.find(row.ours);
    auto baseline = results_.find(row.baseline);
    if (ours == results_.end() || baseline == results_.end())
      return;
    const double ratio =
        ours->second.nanoseconds / baseline->second.nanoseconds;
    if (row.target == 0)
      std::printf("| %s | %.2f | report only | - |\n", row.what, ratio);
    else
      std::printf("| %s | %.2f | <= %.1f | %s |\n", row.what, ratio, row.target,
                  ratio <= row.target ? "yes" : "no");
  }

  void printAllocations() const {
    auto load = results_.find("load_symbol_table");
    auto copy = results_.find("copy_symbol_file");
    if (load == results_.end() || copy == results_.end())
      return;
    auto count = [](const Result &result, const char *name) {
      auto found = result.counters.find(name);
      return found == result.counters.end() ? 0.0 : found->second;
    };
    std::printf("\nAllocations per load: %.0f for %d definitions, %.0f "
                "for %d (copy into unordered_map: %.0f)\n",
                count(load->second, "mallocs"), tableSize,
                count(load->second, "mallocs_1k"), smallTableSize,
                count(copy->second, "mallocs"));
  }

  std::map<std::string, Result> results_;
  bool failed_ = false;
};

void registerAll() {
  using Function = void (*)(benchmark::State &);
  const std::pair<const char *, Function> all[] = {
      {"direct_sum4", BM_Sum4Direct},
      {"apply_sum4", BM_Sum4Apply},
      {"ffi_sum4", BM_Sum4Ffi},
      {"direct_mixed", BM_MixedDirect},
      {"apply_mixed", BM_MixedApply},
      {"ffi_mixed", BM_MixedFfi},
      {"lookup_method_hit", BM_LookupMethodHit},
      {"msgsend_empty", BM_MessageEmpty},
      {"strtoull_decimal", BM_StrtoullDecimal},
      {"libc_strtoull_decimal", BM_LibcStrtoullDecimal},
      {"strtoull_hex", BM_StrtoullHex},
      {"libc_strtoull_hex", BM_LibcStrtoullHex},
      {"lltostr", BM_Lltostr},
      {"snprintf_lld", BM_SnprintfLld},
      {"ulltostr", BM_Ulltostr},
      {"snprintf_llu", BM_SnprintfLlu},
      {"load_symbol_table", BM_LoadSymbolTable},
      {"copy_symbol_file", BM_CopySymbolFile},
      {"lookup_external_symbol", BM_LookupExternalSymbol},
      {"dlsym", BM_Dlsym},
      {"skip_argspec_walk", BM_SkipArgspecWalk},
      {"strlen", BM_Strlen},
  };
  for (const auto &entry : all)
    benchmark::RegisterBenchmark(entry.first, entry.second);
}

} // namespace

int main(int argc, char **argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printTable();
  std::remove(bigFile().c_str());
  std::remove(smallFile().c_str());
  benchmark::Shutdown();
  return reporter.failed() ? 1 : 0;
}
