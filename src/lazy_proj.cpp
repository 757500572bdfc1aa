#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <dlfcn.h>

namespace orvtessel {

void* lazyProjSymbol(const char* name) {
    // Loaded once; never closed, like a library linked at start.
    static void* const library = dlopen(ORVTESSEL_PROJ_SONAME, RTLD_NOW | RTLD_LOCAL);
    void* function = library != nullptr ? dlsym(library, name) : nullptr;
    if (function == nullptr) {
        std::fprintf(stderr, "orvtessel: cannot load %s from %s: %s\n", name,
                     ORVTESSEL_PROJ_SONAME, dlerror());
        // Unwinding removes a temporary output file on the way out.
        throw std::runtime_error("PROJ cannot be loaded");
    }
    return function;
}

}  // namespace orvtessel
