// PROJ loaded when first called. Linking PROJ loads it and the forty-odd
// libraries it needs (network, TIFF and SQLite among them) at the start of
// every run, which costs a run tens of milliseconds; most layers are in
// WGS 84 and never call it. The build includes this header first in the
// files that call PROJ (-include): it declares PROJ's functions as usual,
// then makes every name of the form proj_x(...) a call through a pointer
// looked up in the PROJ library the first time that call site runs. A
// function of proj.h that the list below lacks is called directly, which
// links PROJ as before: correct, only loaded at start again.
#pragma once

#include <proj.h>

namespace orvtessel {

// The address of PROJ's function `name`, loading the library on the first
// call. When the library or the function cannot be found, says so on
// standard error, as a missing library would at start, and throws
// std::runtime_error: the run ends with exit status 1.
void* lazyProjSymbol(const char* name);

}  // namespace orvtessel

#define ORVTESSEL_LAZY_PROJ(name)                                                          \
    ([]() {                                                                                \
        static const auto function =                                                       \
            reinterpret_cast<decltype(&::name)>(::orvtessel::lazyProjSymbol(#name));       \
        return function;                                                                   \
    }())

// One line per function of proj.h, written by the build.
#include "lazy_proj_names.h"
