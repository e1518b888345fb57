// Preloaded into the program: no std::thread can be made, as on a system out of processes; the
// threads that Qt and glib start themselves still start.
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <pthread.h>

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
    Dl_info from{};
    using Create = int(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    return ::dladdr(reinterpret_cast<void*>(start), &from) &&
                   std::strstr(from.dli_fname, "libstdc++")
               ? EAGAIN
               : reinterpret_cast<Create*>(::dlsym(RTLD_NEXT, "pthread_create"))(thread, attributes,
                                                                                 start, argument);
}
