// Builds a Windows installation with the six players used, for the demo: make_windows_tree ROOT SECOND
// (the installation's C: drive and a second drive, D:).
#include <cstdio>

#include "WindowsTree.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_windows_tree ROOT SECOND\n");
        return 2;
    }
    return mxtest::BuildWindowsTree(argv[1], argv[2]) ? 0 : 1;
}
