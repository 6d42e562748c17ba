#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Built twice, for AVX2 and for the x86-64 baseline; the program takes the one its processor runs.
// A function built so stays internal to its file: clang names the clones' dispatcher apart from
// the function, so callers elsewhere would need the attribute too.
#define WIDE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define WIDE_VECTOR_CLONES
#endif
