// The emulated machine of a fuzz target: drive C: in a fresh temporary folder.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "platform/testhooks.h"

// Makes the machine and returns the host folder behind C:\ .
inline std::string MakeFuzzMachine() {
    char tmpl[] = "/tmp/mxfuzz-XXXXXX";
    std::string root = mkdtemp(tmpl);
    mkdir((root + "/c").c_str(), 0777);
    setenv("MX_HOME", root.c_str(), 1);
    setenv("MX_DRIVES", ("C:=" + root + "/c").c_str(), 1);
    setenv("MX_REGISTRY", (root + "/registry.db").c_str(), 1);
    MxPlatformReload();
    return root + "/c";
}
