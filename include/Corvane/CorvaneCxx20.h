/*
 * Included first by every C++ header of Corvane. Those headers use C++20
 * (std::span, concepts, designated initialisers), so under an older
 * standard the build stops here, with this message first, rather than with
 * errors deep inside them. The C headers (md5.h, nn.h, r_random.h, rsa.h,
 * CorvaneVersion.h) do not include it: they compile as C99 and as any C++.
 * Compiled as C, this file does nothing.
 */
#ifndef CORVANE_CXX20_H
#define CORVANE_CXX20_H

#if defined(__cplusplus)
/* MSVC reports its standard in _MSVC_LANG unless /Zc:__cplusplus is given. */
#if defined(_MSVC_LANG)
#define CORVANE_CXX_STANDARD _MSVC_LANG
#else
#define CORVANE_CXX_STANDARD __cplusplus
#endif
#if CORVANE_CXX_STANDARD < 202002L
#error \
    "Corvane's C++ headers need C++20: compile with -std=c++20, or link the CMake target Corvane::Corvane, which asks for it (the C headers md5.h, nn.h, r_random.h and rsa.h need no particular standard)"
#endif
#undef CORVANE_CXX_STANDARD
#endif

#endif /* CORVANE_CXX20_H */
