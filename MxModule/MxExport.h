// Visibility of the module's exported classes.
#pragma once

#if defined(MXMODULE_BUILD)
#define MX_EXPORT __attribute__((visibility("default")))
#else
#define MX_EXPORT
#endif
