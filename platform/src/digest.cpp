// MD5 through OpenSSL's EVP interface.
#include "platform/digest.h"

#include <openssl/evp.h>

CMD5Digest::CMD5Digest() : m_ctx(EVP_MD_CTX_new()) { EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(m_ctx), EVP_md5(), nullptr); }

CMD5Digest::~CMD5Digest() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(m_ctx)); }

void CMD5Digest::Update(const void* data, size_t size) { EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(m_ctx), data, size); }

void CMD5Digest::Final(BYTE digest[16]) {
    unsigned int n = 16;
    auto* ctx = static_cast<EVP_MD_CTX*>(m_ctx);
    EVP_DigestFinal_ex(ctx, digest, &n);
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
}
