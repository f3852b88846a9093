// NXProxy, the proxy root class in its own library.
#include <objc/objc-load.h>
#include <objc/objc-send.h>

#include <gtest/gtest.h>

// Refer to the library so that it is loaded and registers its class.
OBJC_IMPORT_CLASS(NXProxy);

namespace {

int disposed;
id (*savedDealloc)(id);
id countDealloc(id o) {
  ++disposed;
  return savedDealloc(o);
}

TEST(Proxy, RootClassWithFreeProxyAndDecodeUsing) {
  Class proxy = reinterpret_cast<Class>(objc_lookUpClass("NXProxy"));
  ASSERT_NE(proxy, nullptr);
  EXPECT_EQ(proxy->super_class, nullptr);
  EXPECT_NE(class_getInstanceMethod(proxy, sel_registerName("freeProxy")),
            nullptr);
  EXPECT_NE(class_getInstanceMethod(proxy, sel_registerName("decodeUsing:")),
            nullptr);

  id p = objc_send(proxy, "alloc");
  ASSERT_NE(p, nil);
  EXPECT_EQ(object_getClass(p), proxy);
  EXPECT_EQ(objc_send(p, "decodeUsing:", static_cast<id>(nil)), p);

  savedDealloc = _dealloc;
  _dealloc = countDealloc;
  EXPECT_EQ(objc_send(p, "freeProxy"), nil);
  _dealloc = savedDealloc;
  EXPECT_EQ(disposed, 1);
}

} // namespace
