/* What the C hosts share: loading the module by file (dlopen, or LoadLibrary
 * on Windows) and the calling convention of a member function of the host's
 * compiler. On 32-bit Windows every slot, the module's and the callback's, is
 * __thiscall; a slot of another convention would take its object from the
 * wrong place or leave the stack unbalanced. */
#ifndef HX_C_HOST_PLATFORM_H
#define HX_C_HOST_PLATFORM_H

/* Vtable slots and looked-up symbols are converted between object and
 * function pointers, which POSIX and Windows allow and ISO C does not. */
#pragma GCC diagnostic ignored "-Wpedantic"

#include <stdio.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

/* GCC reserves the attribute for its own member functions and warns; these
 * are member functions of the host's compiler, written as plain functions. */
#if defined(_WIN32) && defined(__i386__)
#pragma GCC diagnostic ignored "-Wattributes"
#define MEMBER __attribute__((thiscall))
#else
#define MEMBER
#endif

#if defined(_WIN32)
typedef HMODULE Module;
static inline Module openModule(const char* path) { return LoadLibraryA(path); }
static inline void* symbol(Module module, const char* name) { return (void*)GetProcAddress(module, name); }
static inline void closeModule(Module module) { FreeLibrary(module); }
static inline void reportOpenFailure(const char* path) {
  fprintf(stderr, "LoadLibrary %s: error %lu\n", path, (unsigned long)GetLastError());
}
#else
typedef void* Module;
static inline Module openModule(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static inline void* symbol(Module module, const char* name) { return dlsym(module, name); }
static inline void closeModule(Module module) { dlclose(module); }
static inline void reportOpenFailure(const char* path) { fprintf(stderr, "dlopen %s: %s\n", path, dlerror()); }
#endif

#endif
