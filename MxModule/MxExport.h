// Visibility of the module's exported classes.
#pragma once

#if defined(MXMODULE_BUILD)
#define MX_EXPORT __attribute__((visibility("default")))
#else
#define MX_EXPORT
#endif

// Internal classes that the tests drive directly: visible from the shared library, but their headers
// are not installed.
#if defined(MXMODULE_BUILD)
#define MX_TESTABLE __attribute__((visibility("default")))
#else
#define MX_TESTABLE
#endif
