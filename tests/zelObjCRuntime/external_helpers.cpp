// Small libraries for the external lookup test, one per macro:
// ZEL_HELPER_A and ZEL_HELPER_B both export zelsym_shared (A is loaded
// first); A only imports zelsym_b_only; ZEL_HELPER_LATE is loaded by the
// test itself, after a first search.
#define ZEL_VISIBLE extern "C" __attribute__((visibility("default")))

#if defined(ZEL_HELPER_A)
ZEL_VISIBLE int zelsym_b_only(void);
ZEL_VISIBLE int zelsym_shared(void);
ZEL_VISIBLE int zelsym_order(void);
ZEL_VISIBLE int zelsym_a_calls_b(void);
ZEL_VISIBLE int zelsym_shared(void) { return 'a'; }
ZEL_VISIBLE int zelsym_order(void) { return 'a'; }
ZEL_VISIBLE int zelsym_a_calls_b(void) { return zelsym_b_only(); }
// A name with a colon in it, reachable only through "module:symbol"; written
// in assembly, where such a name can be quoted.
__asm__(".pushsection .data\n"
        ".globl \"zelsym:colon\"\n"
        ".type \"zelsym:colon\", @object\n"
        ".size \"zelsym:colon\", 4\n"
        ".balign 4\n"
        "\"zelsym:colon\": .long 58\n"
        ".popsection\n");
#elif defined(ZEL_HELPER_B)
ZEL_VISIBLE int zelsym_shared(void);
ZEL_VISIBLE int zelsym_b_only(void);
ZEL_VISIBLE int zelsym_shared(void) { return 'b'; }
ZEL_VISIBLE int zelsym_b_only(void) { return 'B'; }
#elif defined(ZEL_HELPER_LATE)
ZEL_VISIBLE int zelsym_late_marker(void);
ZEL_VISIBLE int zelsym_late_marker(void) { return 'L'; }
#else
#error "name the helper to build"
#endif
