#include "signcheck/TrustAnchors.h"

#include <openssl/pem.h>

#include "log/Log.h"
#include "platform/Paths.h"
#include "signcheck/EmbeddedKeys.h"

namespace talvern::signCheck {
namespace {

int addCertificatesFrom(X509_STORE* store, BIO* bio) {
    STACK_OF(X509_INFO)* infos = PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
    if (infos == nullptr) {
        return 0;
    }
    int added = 0;
    for (int i = 0; i < sk_X509_INFO_num(infos); ++i) {
        X509_INFO* info = sk_X509_INFO_value(infos, i);
        if (info->x509 != nullptr && X509_STORE_add_cert(store, info->x509) == 1) {
            ++added;
        }
    }
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
    takeOpenSslErrors();  // a duplicate anchor is not an error worth keeping
    return added;
}

}  // namespace

int addPemCertificates(X509_STORE* store, const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return bio ? addCertificatesFrom(store, bio.get()) : 0;
}

X509StorePtr loadTrustAnchors(std::string& problem) {
    X509StorePtr store(X509_STORE_new());
    if (!store) {
        problem = "cannot create a certificate store: " + takeOpenSslErrors();
        return nullptr;
    }
    int count = addPemCertificates(store.get(), embedded::trustAnchorBundlePem());

    const std::string extra = platform::environment(kTrustAnchorsVariable);
    if (!extra.empty()) {
        BioPtr file(BIO_new_file(extra.c_str(), "r"));
        int added = file ? addCertificatesFrom(store.get(), file.get()) : 0;
        if (added == 0) {
            OKV_LOG_TAG_WARN("Tag null", "{}; Reason: {}", "load trust anchors failed",
                             "no certificate could be read from " + std::string(kTrustAnchorsVariable) + "=" +
                                 extra + " " + takeOpenSslErrors());
        }
        count += added;
    }
    if (count == 0) {
        problem = "neither the compiled-in bundle nor $" + std::string(kTrustAnchorsVariable) +
                  " holds a certificate";
        return nullptr;
    }
    return store;
}

}  // namespace talvern::signCheck
