#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>

namespace orvtessel {

void* lazyProjSymbol(const char* name) {
    // Loaded once; never closed, like a library linked at start.
    static void* const library = dlopen(ORVTESSEL_PROJ_SONAME, RTLD_NOW | RTLD_LOCAL);
    void* function = library != nullptr ? dlsym(library, name) : nullptr;
    if (function == nullptr) {
        std::fprintf(stderr, "orvtessel: cannot load %s from %s: %s\n", name,
                     ORVTESSEL_PROJ_SONAME, dlerror());
        std::abort();
    }
    return function;
}

}  // namespace orvtessel
