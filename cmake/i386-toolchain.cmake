# Everything is built for 32-bit x86 Linux. -m32 is part of the compiler
# command itself, so that a project's own CMAKE_<LANG>_FLAGS (say
# -DCMAKE_CXX_FLAGS=-Wshadow) cannot drop it, and the compiler checks,
# CMAKE_SIZEOF_VOID_P (4) and find_package's version checks see i386 code.
# Installed as lib/cmake/zel/i386-toolchain.cmake for consumers of the
# package that want the same.
set(CMAKE_C_COMPILER gcc -m32 CACHE STRING "C compiler and its i386 switch")
set(CMAKE_CXX_COMPILER g++ -m32 CACHE STRING
  "C++ compiler and its i386 switch")
set(CMAKE_ASM_COMPILER ${CMAKE_C_COMPILER} CACHE STRING
  "Assembler (the C compiler) and its i386 switch")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
