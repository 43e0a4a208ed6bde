#include "http/tls/DhParameters.h"

namespace talvern::tls {

const char* builtinDhParameters() {
    // The ffdhe2048 group of RFC 7919: a published safe prime, so there is nothing to trust in our own
    // generation of it.
    return "-----BEGIN DH PARAMETERS-----\n"
           "MIIBCAKCAQEA//////////+t+FRYortKmq/cViAnPTzx2LnFg84tNpWp4TZBFGQz\n"
           "+8yTnc4kmz75fS/jY2MMddj2gbICrsRhetPfHtXV/WVhJDP1H18GbtCFY2VVPe0a\n"
           "87VXE15/V8k1mE8McODmi3fipona8+/och3xWKE2rec1MKzKT0g6eXq8CrGCsyT7\n"
           "YdEIqUuyyOP7uWrat2DX9GgdT0Kj3jlN9K5W7edjcrsZCwenyO4KbXCeAvzhzffi\n"
           "7MA0BM0oNC9hkXL+nOmFg/+OTxIy7vKBg8P+OxtMb61zO7X8vC7CIAXFjvGDfRaD\n"
           "ssbzSibBsu/6iGtCOGEoXJf//////////wIBAg==\n"
           "-----END DH PARAMETERS-----\n";
}

}  // namespace talvern::tls
