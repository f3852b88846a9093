// A new object made where a freed one was, for tests of what a bridge does
// when an address comes back.
#ifndef TESTS_SUPPORT_REUSED_ADDRESS_H
#define TESTS_SUPPORT_REUSED_ADDRESS_H

#include <objc/objc-load.h>

#include <vector>

// Releases the last reference to old, then makes NSObjects until one
// lands at its address (or 64 did not). What it made it releases when it
// goes; `fresh` is that object, or nil.
class ReusedAddress {
public:
  explicit ReusedAddress(id old) {
    // Objects are calloc'ed, which passes over malloc's per-thread cache
    // of freed blocks: filled first, it lets the freed object's block go
    // where calloc looks.
    std::vector<id> fillers;
    for (int i = 0; i < 16; ++i)
      fillers.push_back(newObject());
    for (id filler : fillers)
      objc_send<void>(filler, "release");
    objc_send<void>(old, "release"); // the last reference: freed right here
    while (made_.size() < 64 && (made_.empty() || made_.back() != old))
      made_.push_back(newObject());
    fresh = made_.back() == old ? old : nil;
  }
  ~ReusedAddress() {
    for (id object : made_)
      objc_send<void>(object, "release");
  }
  ReusedAddress(const ReusedAddress &) = delete;
  ReusedAddress &operator=(const ReusedAddress &) = delete;

  id fresh = nil;

private:
  static id newObject() {
    return objc_send(objc_send_class("NSObject", "alloc"), "init");
  }
  std::vector<id> made_;
};

#endif
