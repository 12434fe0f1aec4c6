// A minimal PE32 image whose only section holds a version resource, laid out at fixed offsets so that
// tests can damage single fields:
//   0x3C e_lfanew = 0x40; 0x46 NumberOfSections; 0x58 optional header; 0x138 section table;
//   0x200 resource section (RVA 0x1000): root dir, name dir at +0x18, language dir at +0x30,
//   data entry at +0x48, version block at +0x58 (length word), fixed information at +0x80.
#pragma once

#include <cstdint>
#include <string>

namespace mxtest {

inline void PutLe(std::string& b, size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

inline std::string VersionedPe(uint32_t fileMS, uint32_t fileLS, uint32_t productMS, uint32_t productLS) {
    const size_t rsrc = 0x200, block = 0x58, blockLen = 92;
    std::string b(rsrc + block + blockLen, '\0');
    b[0] = 'M', b[1] = 'Z';
    PutLe(b, 0x3C, 0x40, 4);
    b.replace(0x40, 4, std::string("PE\0\0", 4));
    PutLe(b, 0x44, 0x14C, 2);   // i386
    PutLe(b, 0x46, 1, 2);       // one section
    PutLe(b, 0x54, 0xE0, 2);    // optional header size
    PutLe(b, 0x56, 0x102, 2);
    PutLe(b, 0x58, 0x10B, 2);   // PE32
    PutLe(b, 0x58 + 92, 16, 4); // data directories
    PutLe(b, 0x58 + 96 + 16, 0x1000, 4);
    PutLe(b, 0x58 + 96 + 20, uint32_t(block + blockLen), 4);
    b.replace(0x138, 5, ".rsrc");
    const uint32_t section[] = {uint32_t(block + blockLen), 0x1000, uint32_t(block + blockLen), uint32_t(rsrc)};  // sizes and places
    for (size_t i = 0; i < 4; ++i) PutLe(b, 0x138 + 8 + 4 * i, section[i], 4);
    auto dir = [&b, rsrc](size_t at, uint32_t id, uint32_t target) {
        PutLe(b, rsrc + at + 14, 1, 2);  // one id entry
        PutLe(b, rsrc + at + 16, id, 4);
        PutLe(b, rsrc + at + 20, target, 4);
    };
    dir(0, 16, 0x80000018u);     // RT_VERSION
    dir(0x18, 1, 0x80000030u);   // name 1
    dir(0x30, 0x409, 0x48);      // language, a leaf
    PutLe(b, rsrc + 0x48, uint32_t(0x1000 + block), 4);
    PutLe(b, rsrc + 0x4C, uint32_t(blockLen), 4);
    const size_t v = rsrc + block;
    PutLe(b, v, uint32_t(blockLen), 2);
    PutLe(b, v + 2, 52, 2);
    const char key[] = "VS_VERSION_INFO";
    for (size_t i = 0; i < sizeof key - 1; ++i) b[v + 6 + 2 * i] = key[i];
    const uint32_t fixed[] = {0xFEEF04BDu, 0x10000, fileMS, fileLS, productMS, productLS};
    for (size_t i = 0; i < 6; ++i) PutLe(b, v + 40 + 4 * i, fixed[i], 4);
    return b;
}

}  // namespace mxtest
