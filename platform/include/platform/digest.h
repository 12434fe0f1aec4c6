// MD5 (RFC 1321).
#pragma once

#include <cstddef>

#include "platform/windef.h"

class CMD5Digest {
public:
    CMD5Digest();
    ~CMD5Digest();
    CMD5Digest(const CMD5Digest&) = delete;
    CMD5Digest& operator=(const CMD5Digest&) = delete;
    void Update(const void* data, size_t size);
    // The 16 digest bytes; the object starts over afterwards.
    void Final(BYTE digest[16]);

private:
    void* m_ctx;
};
