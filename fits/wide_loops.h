#pragma once
// GCC makes an AVX2 copy of a function marked QOR_WITH_AVX2_COPY and picks it when the program
// starts: wide instructions make the pixel loops several times faster. Clang (the sanitizer and
// fuzzing builds) cannot yet do that for templates, and gets the plain loops.

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define QOR_WITH_AVX2_COPY [[gnu::target_clones("avx2", "default")]]
#else
#define QOR_WITH_AVX2_COPY
#endif
