// Linked into the prebuilt Linux binaries only (TRACE_LABEL_PORTABLE), whose
// floor is glibc 2.28; the modules carry their own libstdc++.
//
// The host's glibc (2.36) gives dlopen, dladdr and the pthread calls the
// symbol versions of 2.34, when they moved into libc, and the static
// libstdc++ was built against it too. Each hidden definition here takes every
// call of its name inside the module, ours and libstdc++'s, and forwards it to
// the version every glibc has (2.2.5 on x64, 2.17 on arm64): on an older glibc
// that is found in libdl and libpthread, which Node itself links.
#include <cstddef>

#if defined(__x86_64__)
#define GLIBC_BASE "GLIBC_2.2.5"
#elif defined(__aarch64__)
#define GLIBC_BASE "GLIBC_2.17"
#else
#error "no glibc floor for this architecture"
#endif

#define HIDDEN extern "C" __attribute__((visibility("hidden")))
// Declares old_NAME as NAME@GLIBC_BASE.
#define OLD(ret, name, params)      \
  extern "C" ret old_##name params; \
  __asm__(".symver old_" #name "," #name "@" GLIBC_BASE)

OLD(void*, dlopen, (const char*, int));
OLD(int, dladdr, (const void*, void*));
OLD(void*, dlsym, (void*, const char*));
// pow got a faster version in 2.29; the old one gives the same results.
OLD(double, pow, (double, double));
OLD(int, pthread_create, (void*, const void*, void* (*)(void*), void*));
OLD(int, pthread_detach, (unsigned long));
OLD(int, pthread_join, (unsigned long, void**));
OLD(int, pthread_once, (int*, void (*)()));
OLD(int, pthread_key_create, (unsigned*, void (*)(void*)));
OLD(int, __pthread_key_create, (unsigned*, void (*)(void*)));
OLD(int, pthread_key_delete, (unsigned));
OLD(void*, pthread_getspecific, (unsigned));
OLD(int, pthread_setspecific, (unsigned, const void*));

HIDDEN void* dlopen(const char* file, int mode) {
  return old_dlopen(file, mode);
}
HIDDEN int dladdr(const void* address, void* info) {
  return old_dladdr(address, info);
}
HIDDEN void* dlsym(void* handle, const char* name) {
  return old_dlsym(handle, name);
}
HIDDEN double pow(double base, double exponent) {
  return old_pow(base, exponent);
}
HIDDEN int pthread_create(void* thread, const void* attr, void* (*start)(void*), void* arg) {
  return old_pthread_create(thread, attr, start, arg);
}
HIDDEN int pthread_detach(unsigned long thread) {
  return old_pthread_detach(thread);
}
HIDDEN int pthread_join(unsigned long thread, void** result) {
  return old_pthread_join(thread, result);
}
HIDDEN int pthread_once(int* once, void (*run)()) {
  return old_pthread_once(once, run);
}
HIDDEN int pthread_key_create(unsigned* key, void (*destroy)(void*)) {
  return old_pthread_key_create(key, destroy);
}
HIDDEN int __pthread_key_create(unsigned* key, void (*destroy)(void*)) {
  return old___pthread_key_create(key, destroy);
}
HIDDEN int pthread_key_delete(unsigned key) {
  return old_pthread_key_delete(key);
}
HIDDEN void* pthread_getspecific(unsigned key) {
  return old_pthread_getspecific(key);
}
HIDDEN int pthread_setspecific(unsigned key, const void* value) {
  return old_pthread_setspecific(key, value);
}

// libstdc++ reads __libc_single_threaded (2.32) to skip atomic reference
// counts; at 0 it says "threads may exist", so the counts stay atomic, which
// is always correct.
HIDDEN char __libc_single_threaded;
char __libc_single_threaded = 0;

// std::random_device in libstdc++ asks arc4random (2.36); getentropy is 2.25.
extern "C" int getentropy(void*, size_t);
HIDDEN unsigned arc4random() {
  unsigned value = 0;
  if (getentropy(&value, sizeof value) != 0) __builtin_trap();
  return value;
}
