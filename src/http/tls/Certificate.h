#pragma once

// A server certificate from one of the sources, and its validity check.
//
//     Certificate certificate(0);            // the built-in self-signed certificate
//     certificate.init({});
//     if (!certificate.isExpired(false)) {
//         server = std::make_shared<HttpServer>(..., certificate.bytes(), 0);
//     }

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "http/tls/CertificateSource.h"

namespace talvern {

class Certificate {
public:
    /// With withMargin, a certificate must stay valid this much longer (15 days).
    static constexpr std::time_t kExpiryMarginSeconds = 1296000;

    /// The two dates of a certificate.
    enum class Bound { NotBefore, NotAfter };
    /// A signed difference in whole days and remaining seconds (both of the same sign).
    struct TimeDiff {
        int days = 0;
        int seconds = 0;
    };

    /// Creates the source of `kind` (CertificateKind); an unknown kind is logged and gives no text.
    explicit Certificate(int kind);

    /// Lets the source fill the text (`argument`: the downloaded text for kind 3). True when filled.
    bool init(const std::string& argument = {});
    /// The PEM text; empty until init succeeds.
    const std::string& text() const;
    /// The text as bytes, as the HTTP servers take it.
    std::vector<unsigned char> bytes() const;
    int kind() const { return m_kind; }
    const std::shared_ptr<CertificateSource>& source() const { return m_source; }

    /// True when the text is empty or unreadable, when the certificate is not valid since at least a day,
    /// or when less than a day of validity is left (at now + 15 days with withMargin).
    bool isExpired(bool withMargin) const;
    /// isExpired at a given time instead of now.
    bool isExpiredAt(std::time_t now, bool withMargin) const;
    /// The difference from `fromTime` to the first certificate's `toTime` bound. False (logged) when
    /// the text holds no readable certificate.
    bool calculateTimeDiff(std::time_t fromTime, Bound toTime, TimeDiff& result) const;

private:
    int m_kind;
    std::shared_ptr<CertificateSource> m_source;
};

}  // namespace talvern
