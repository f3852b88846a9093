/* The class table and the registration of classes and categories, from
   module records and at run time. */
#include "runtime.h"

#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct NXHashTable {
  std::vector<Class> classes; /* enumeration order */
  std::unordered_map<std::string_view, Class> byName;
};

namespace {

struct Registry {
  NXHashTable table;
  std::vector<Class> waitingClasses;       /* superclass not registered yet */
  std::vector<Category> waitingCategories; /* class not registered yet */
  std::string header;                      /* library being registered */
};

/* Made on first use, never destroyed (see selector.cpp). */
Registry &registry() {
  static Registry *r = new Registry;
  return *r;
}

std::recursive_mutex &runtimeLock() {
  static std::recursive_mutex *m = new std::recursive_mutex;
  return *m;
}

const char *superclassName(Class cls) {
  return reinterpret_cast<const char *>(cls->super_class);
}

void giveEmptyCache(Class cls) {
  if (!cls->cache)
    cls->cache = &_objc_empty_cache;
}

void insertClass(Class cls) {
  NXHashTable &t = registry().table;
  if (!cls->name || !t.byName.emplace(cls->name, cls).second)
    return; /* a class of that name is already registered: keep it */
  t.classes.push_back(cls);
}

void addProtocols(Class cls, struct objc_protocol_list *list) {
  if (!list)
    return;
  nextpdo::fixProtocols(list);
  list->next = cls->protocols;
  cls->protocols = list;
}

void attachCategory(Category cat, Class cls) {
  if (cat->instance_methods) {
    nextpdo::uniqueSelectors(cat->instance_methods);
    nextpdo::addMethodsUnlocked(cls, cat->instance_methods);
  }
  if (cat->class_methods) {
    nextpdo::uniqueSelectors(cat->class_methods);
    nextpdo::addMethodsUnlocked(cls->isa, cat->class_methods);
  }
  addProtocols(cls, cat->protocols);
}

void connectClass(Class cls);

/* A class just registered: classes and categories waiting for it go on. */
void releaseWaiting(Class cls) {
  Registry &r = registry();
  std::vector<Class> ready;
  for (auto it = r.waitingClasses.begin(); it != r.waitingClasses.end();) {
    if (strcmp(superclassName(*it), cls->name) == 0) {
      ready.push_back(*it);
      it = r.waitingClasses.erase(it);
    } else {
      ++it;
    }
  }
  std::vector<Category> cats;
  for (auto it = r.waitingCategories.begin();
       it != r.waitingCategories.end();) {
    if (strcmp((*it)->class_name, cls->name) == 0) {
      cats.push_back(*it);
      it = r.waitingCategories.erase(it);
    } else {
      ++it;
    }
  }
  for (Category cat : cats)
    attachCategory(cat, cls);
  for (Class sub : ready)
    connectClass(sub);
}

/* Links a module class to its superclass and metaclass chain and enters
   it in the table, or lets it wait for its superclass. */
void connectClass(Class cls) {
  const char *superName = superclassName(cls);
  Class super = superName ? nextpdo::classNamed(superName) : Nil;
  if (superName && !super) {
    registry().waitingClasses.push_back(cls);
    return;
  }
  Class meta = cls->isa;
  cls->super_class = super;
  meta->super_class = super ? super->isa : cls;
  meta->isa = super ? super->isa->isa : meta;
  insertClass(cls);
  releaseWaiting(cls);
}

/* A module's class record as written: method lists become arrays with
   unique selectors, caches and info bits are set. */
void prepareModuleClass(Class cls) {
  Class meta = cls->isa;
  auto *instanceList =
      reinterpret_cast<struct objc_method_list *>(cls->methodLists);
  auto *classList =
      reinterpret_cast<struct objc_method_list *>(meta->methodLists);
  nextpdo::uniqueSelectors(instanceList);
  nextpdo::uniqueSelectors(classList);
  cls->methodLists = nextpdo::newMethodListArray(instanceList);
  meta->methodLists = nextpdo::newMethodListArray(classList);
  cls->info |= CLS_CLASS;
  meta->info |= CLS_META;
  giveEmptyCache(cls);
  giveEmptyCache(meta);
  nextpdo::fixProtocols(cls->protocols);
}

void registerCategory(Category cat) {
  Class cls = cat->class_name ? nextpdo::classNamed(cat->class_name) : Nil;
  if (cls)
    attachCategory(cat, cls);
  else if (cat->class_name)
    registry().waitingCategories.push_back(cat);
}

void uniqueReferences(struct objc_symtab *symtab) {
  for (unsigned long i = 0; i < symtab->sel_ref_cnt; ++i)
    symtab->refs[i] =
        sel_registerName(reinterpret_cast<const char *>(symtab->refs[i]));
}

} // namespace

namespace nextpdo {

void lock() noexcept { runtimeLock().lock(); }
void unlock() noexcept { runtimeLock().unlock(); }

Class classNamed(const char *name) noexcept {
  if (!name)
    return Nil;
  lock();
  NXHashTable &t = registry().table;
  auto found = t.byName.find(name);
  Class cls = found != t.byName.end() ? found->second : Nil;
  unlock();
  return cls;
}

Class classOfMeta(Class meta) noexcept {
  Class cls = classNamed(meta->name);
  if (cls && cls->isa == meta)
    return cls;
  lock();
  cls = Nil;
  for (Class each : registry().table.classes)
    if (each->isa == meta)
      cls = each;
  unlock();
  return cls;
}

bool isMeta(Class cls) noexcept { return (cls->info & CLS_META) != 0; }

} // namespace nextpdo

extern "C" {

OBJC_EXPORT NXHashState NXInitHashState(NXHashTable *) noexcept {
  return NXHashState{0, 0};
}

OBJC_EXPORT int NXNextHashState(NXHashTable *table, NXHashState *state,
                                void **data) noexcept {
  nextpdo::lock();
  bool more =
      state->i >= 0 && static_cast<size_t>(state->i) < table->classes.size();
  if (more)
    *data = table->classes[static_cast<size_t>(state->i++)];
  nextpdo::unlock();
  return more ? 1 : 0;
}

OBJC_EXPORT unsigned NXCountHashTable(NXHashTable *table) noexcept {
  nextpdo::lock();
  unsigned count = static_cast<unsigned>(table->classes.size());
  nextpdo::unlock();
  return count;
}

OBJC_EXPORT NXHashTable *objc_getClasses(void) noexcept {
  return &registry().table;
}

OBJC_EXPORT id objc_getClass(const char *name) noexcept {
  return reinterpret_cast<id>(nextpdo::classNamed(name));
}

OBJC_EXPORT id objc_lookUpClass(const char *name) noexcept {
  return reinterpret_cast<id>(nextpdo::classNamed(name));
}

OBJC_EXPORT id objc_getMetaClass(const char *name) noexcept {
  Class cls = nextpdo::classNamed(name);
  return cls ? reinterpret_cast<id>(cls->isa) : nil;
}

OBJC_EXPORT void objc_addClass(Class cls) noexcept {
  if (!cls)
    return;
  nextpdo::lock();
  giveEmptyCache(cls);
  if (cls->isa)
    giveEmptyCache(cls->isa);
  insertClass(cls);
  releaseWaiting(cls);
  nextpdo::unlock();
}

OBJC_EXPORT void _objc_removeClass(Class cls) noexcept {
  if (!cls)
    return;
  nextpdo::lock();
  NXHashTable &t = registry().table;
  auto named = cls->name ? t.byName.find(cls->name) : t.byName.end();
  if (named != t.byName.end() && named->second == cls)
    t.byName.erase(named);
  for (auto it = t.classes.begin(); it != t.classes.end(); ++it) {
    if (*it == cls) {
      t.classes.erase(it);
      break;
    }
  }
  nextpdo::unlock();
}

OBJC_EXPORT void objc_register_header(const char *path) noexcept {
  nextpdo::lock();
  registry().header = path ? path : "";
  nextpdo::unlock();
}

OBJC_EXPORT void __objc_execClass(struct objc_module *module) noexcept {
  if (!module || !module->symtab)
    return;
  nextpdo::lock();
  struct objc_symtab *symtab = module->symtab;
  if (symtab->refs)
    uniqueReferences(symtab);
  unsigned classes = symtab->cls_def_cnt;
  unsigned categories = symtab->cat_def_cnt;
  for (unsigned i = 0; i < classes; ++i)
    prepareModuleClass(static_cast<Class>(symtab->defs[i]));
  for (unsigned i = 0; i < classes; ++i)
    connectClass(static_cast<Class>(symtab->defs[i]));
  for (unsigned i = 0; i < categories; ++i)
    registerCategory(static_cast<Category>(symtab->defs[classes + i]));
  nextpdo::unlock();
}

OBJC_EXPORT void objc_finish_header(void) noexcept {
  nextpdo::lock();
  registry().header.clear();
  nextpdo::unlock();
}

} // extern "C"
