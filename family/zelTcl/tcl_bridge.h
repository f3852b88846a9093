/* What the modules of zelTcl share: Tcl values as the bridge core sees
   them, and the objc commands of an interpreter. */
#ifndef ZELTCL_TCL_BRIDGE_H
#define ZELTCL_TCL_BRIDGE_H

#include <zelBridge/zelBridge.h>

#include <tcl.h>

#include <string>

namespace zeltcl {

inline Tcl_Obj *obj(zelbridge::ScriptValue value) {
  return static_cast<Tcl_Obj *>(value);
}

/* The handle a Tcl value holds (parsed from its text when it does not keep
   one yet); false when it holds none. */
bool readHandle(Tcl_Obj *object, zelbridge::Handle &out);

/* The empty text every new Tcl value starts with and none frees. */
char *sharedEmptyText();

/* The values of one Tcl interpreter. Method bodies and C function
   commands refer to it; it outlives its interpreter, whose deletion it
   notes (bodies then refuse to run). */
class TclScript : public zelbridge::Script {
public:
  explicit TclScript(Tcl_Interp *interp)
      : interp_(interp), emptyText_(sharedEmptyText()) {}

  Tcl_Interp *interp() const { return interp_; }
  /* Whether the value is the one empty value newNil answers. */
  bool isSharedNil(zelbridge::ScriptValue value) const { return value == nil_; }
  void forgetInterp();
  /* Makes the value the interpreter's result (a command's last step). */
  void setResult(Tcl_Interp *interp, zelbridge::ScriptValue value);

  bool isNil(zelbridge::ScriptValue value, bool forText) override;
  bool getInteger(zelbridge::ScriptValue value, long long &out) override;
  bool getBoolean(zelbridge::ScriptValue value, bool &out) override;
  bool getDouble(zelbridge::ScriptValue value, double &out) override;
  const char *getText(zelbridge::ScriptValue value,
                      zelbridge::Arena &arena) override;
  const char *getBytes(zelbridge::ScriptValue value, zelbridge::Arena &arena,
                       size_t &length) override;
  bool getItems(zelbridge::ScriptValue value,
                std::vector<zelbridge::ScriptValue> &items) override;
  bool getHandle(zelbridge::ScriptValue value, zelbridge::Handle &out) override;
  SEL getSelector(zelbridge::ScriptValue value) override;

  zelbridge::ScriptValue newNil() override;
  zelbridge::ScriptValue newInteger(long long value) override;
  zelbridge::ScriptValue newWideInteger(const char *decimal) override;
  zelbridge::ScriptValue newDouble(double value) override;
  zelbridge::ScriptValue newText(const char *text) override;
  zelbridge::ScriptValue newBytes(const char *bytes, size_t length) override;
  zelbridge::ScriptValue newBoolean(bool value) override;
  zelbridge::ScriptValue newList(zelbridge::ScriptValue *items,
                                 int count) override;
  zelbridge::ScriptValue newHandle(const zelbridge::Handle &handle) override;
  zelbridge::ScriptValue newMap(zelbridge::ScriptValue *keys,
                                zelbridge::ScriptValue *values,
                                int count) override;
  zelbridge::ScriptValue newPointer(void *pointer) override;
  void discard(zelbridge::ScriptValue value) override;
  void *keep(zelbridge::ScriptValue value) override;
  void unkeep(void *hold) override;

  int bodyWords() override { return 2; }
  const char *bodyParameters() override { return "ARGNAMES BODY"; }
  std::unique_ptr<zelbridge::MethodBody> newBody(zelbridge::ScriptValue *words,
                                                 const char *types,
                                                 int argumentCount, bool method,
                                                 std::string &error) override;
  zelbridge::ScriptValue
  newFunction(std::unique_ptr<zelbridge::Function> function, const char *name,
              bool nameGiven, std::string &error) override;
  const char *exceptionName() override { return "ZELTclException"; }
  /* Keeps the error a method body just failed with, for keepFailure. */
  void noteFailure(int status);
  void *keepFailure() override;
  bool runBlock(zelbridge::ScriptValue block, zelbridge::ScriptValue &result,
                std::string &error) override;
  void dropFailure(void *hold) override;

private:
  Tcl_Interp *interp_;
  Tcl_Obj *failed_ = nullptr;
  Tcl_Obj *nil_ = nullptr;   /* the one empty value every nil is */
  Tcl_Obj *spare_ = nullptr; /* an empty value only this holds, for a handle */
  char *emptyText_;
};

/* Makes the commands of namespace objc in the interpreter. */
TclScript *installObjcCommands(Tcl_Interp *interp);

/* The interpreter's error information (errorInfo, else its result); the
   result is reset. */
std::string errorReport(Tcl_Interp *interp);

} // namespace zeltcl

#endif
