#include "signcheck/OpenSsl.h"

#include <openssl/err.h>

namespace talvern::signCheck {

std::string takeOpenSslErrors() {
    std::string text;
    unsigned long code = 0;
    while ((code = ERR_get_error()) != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        if (!text.empty()) {
            text += "; ";
        }
        text += buffer;
    }
    return text;
}

std::optional<std::time_t> asn1TimeToTime(const ASN1_TIME* time) {
    struct tm parts {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) {
        return std::nullopt;
    }
    return timegm(&parts);
}

}  // namespace talvern::signCheck
