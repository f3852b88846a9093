/** @file
    Export and linkage markers shared by the platform libraries. */
#ifndef OBJC_OBJC_API_H
#define OBJC_OBJC_API_H

#if !defined(__i386__)
#error "the platform layer is written for 32-bit x86 (i386)"
#endif

#ifdef __cplusplus
/** A declaration with C linkage. */
#define OBJC_EXTERN_C extern "C"
/** Opens a block of declarations with C linkage. */
#define OBJC_BEGIN_DECLS extern "C" {
/** Closes the block opened by OBJC_BEGIN_DECLS. */
#define OBJC_END_DECLS }
/** Every exported function: no C++ exception leaves it. */
#define OBJC_NOEXCEPT noexcept
#else
#define OBJC_EXTERN_C extern
#define OBJC_BEGIN_DECLS
#define OBJC_END_DECLS
#define OBJC_NOEXCEPT
#endif

/** Put on both declaration and definition of everything a platform library
   exports; everything else stays hidden. */
#define OBJC_EXPORT __attribute__((visibility("default")))

#endif
