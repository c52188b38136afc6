/*
 * The one export macro of the library. The library is built with hidden
 * visibility, so only declarations marked CORVANE_EXPORT reach the dynamic
 * symbol table; every file-local helper stays private.
 */
#ifndef CORVANE_EXPORT_H
#define CORVANE_EXPORT_H

#if defined(_WIN32)
#  if defined(CORVANE_BUILDING)
#    define CORVANE_EXPORT __declspec(dllexport)
#  else
#    define CORVANE_EXPORT __declspec(dllimport)
#  endif
#elif defined(__GNUC__) || defined(__clang__)
#  define CORVANE_EXPORT __attribute__((visibility("default")))
#else
#  define CORVANE_EXPORT
#endif

#ifdef __cplusplus
#  define CORVANE_EXTERN_C_BEGIN extern "C" {
#  define CORVANE_EXTERN_C_END }
#else
#  define CORVANE_EXTERN_C_BEGIN
#  define CORVANE_EXTERN_C_END
#endif

#endif /* CORVANE_EXPORT_H */
