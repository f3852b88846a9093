/* What a console completes a word with: the names of the classes and the
   selectors of their methods, both sides. The list is made when first
   asked for and made again once classes were added or this bridge attached
   methods, so that a console's Tab after a script defined a class finds
   it. */
#include "bridge.h"

#include <objc/hashtable.h>

#include <algorithm>
#include <climits>
#include <set>

namespace zelbridge {

namespace {

struct Names {
  unsigned classes = UINT_MAX;     /* how many there were when made */
  unsigned epoch = UINT_MAX;       /* methodListsEpoch then */
  std::vector<std::string> sorted; /* without duplicates */
};

std::vector<std::string> everyName() {
  std::set<std::string> names;
  NXHashTable *table = objc_getClasses();
  NXHashState state = NXInitHashState(table);
  void *each = nullptr;
  while (NXNextHashState(table, &state, &each)) {
    Class cls = static_cast<Class>(each);
    names.insert(cls->name);
    for (bool classSide : {false, true})
      for (const objc_method *method : methodsOf(cls, classSide, true))
        names.insert(sel_getName(method->method_name));
  }
  return {names.begin(), names.end()};
}

const std::vector<std::string> &currentNames() {
  static auto *names = new Names;
  unsigned classes = NXCountHashTable(objc_getClasses());
  if (classes != names->classes || methodListsEpoch != names->epoch) {
    names->sorted = everyName();
    names->classes = classes;
    names->epoch = methodListsEpoch;
  }
  return names->sorted;
}

} // namespace

std::vector<std::string> completions(const char *prefix) {
  const std::vector<std::string> &names = currentNames();
  std::string start = prefix;
  std::vector<std::string> found;
  for (auto at = std::lower_bound(names.begin(), names.end(), start);
       at != names.end() && at->compare(0, start.size(), start) == 0; ++at)
    found.push_back(*at);
  return found;
}

} // namespace zelbridge
