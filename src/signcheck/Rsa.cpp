#include "signcheck/Rsa.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "log/Log.h"
#include "signcheck/OpenSsl.h"

namespace talvern::rsa {

class RsaKey {
public:
    explicit RsaKey(signCheck::EvpPkeyPtr key) : m_key(std::move(key)) {}
    EVP_PKEY* get() const { return m_key.get(); }

private:
    signCheck::EvpPkeyPtr m_key;
};

void RsaKeyDeleter::operator()(RsaKey* key) const noexcept { delete key; }

RsaKeyPtr generateRSA(const std::string& key, bool isPublic) {
    signCheck::BioPtr bio(BIO_new_mem_buf(key.data(), static_cast<int>(key.size())));
    if (!bio) {
        return nullptr;
    }
    signCheck::EvpPkeyPtr pkey(isPublic ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr)
                                        : PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    signCheck::takeOpenSslErrors();
    if (!pkey || EVP_PKEY_get_base_id(pkey.get()) != EVP_PKEY_RSA) {
        return nullptr;
    }
    return RsaKeyPtr(new RsaKey(std::move(pkey)));
}

namespace {

// Signs or verifies with PKCS #1 v1.5 padding and SHA-256 (the digest is computed here).
signCheck::EvpMdCtxPtr digestContext(const RsaKey& key, bool forSigning) {
    signCheck::EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;
    if (!ctx) {
        return nullptr;
    }
    int ok = forSigning ? EVP_DigestSignInit(ctx.get(), &pctx, EVP_sha256(), nullptr, key.get())
                        : EVP_DigestVerifyInit(ctx.get(), &pctx, EVP_sha256(), nullptr, key.get());
    if (ok != 1 || EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) != 1) {
        return nullptr;
    }
    return ctx;
}

}  // namespace

bool rsa_sha256_verify(const std::string& data, const std::string& signature, const std::string& key) {
    if (data.empty() || signature.empty()) {
        return false;
    }
    RsaKeyPtr rsaKey = generateRSA(key, true);
    if (!rsaKey) {
        OKV_LOG_TAG_ERROR("Tag null", "rsa_sha256_verify verify failed; Reason: call generateRSA failed");
        return false;
    }
    signCheck::EvpMdCtxPtr ctx = digestContext(*rsaKey, false);
    bool verified =
        ctx && EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                                signature.size(), reinterpret_cast<const unsigned char*>(data.data()),
                                data.size()) == 1;
    signCheck::takeOpenSslErrors();
    return verified;
}

bool rsa_sha256_sign(const std::string& data, const std::string& privateKey, std::string& signature) {
    RsaKeyPtr rsaKey = generateRSA(privateKey, false);
    if (!rsaKey) {
        return false;
    }
    signCheck::EvpMdCtxPtr ctx = digestContext(*rsaKey, true);
    std::size_t length = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    if (!ctx || EVP_DigestSign(ctx.get(), nullptr, &length, in, data.size()) != 1) {
        signCheck::takeOpenSslErrors();
        return false;
    }
    std::string out(length, '\0');
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &length, in, data.size()) !=
        1) {
        signCheck::takeOpenSslErrors();
        return false;
    }
    out.resize(length);
    signature = std::move(out);
    return true;
}

}  // namespace talvern::rsa
