#include "signcheck/ByteSourceBio.h"

#include <algorithm>

#include "signcheck/SignErrors.h"

namespace talvern::signCheck {
namespace {

int readEx(BIO* bio, char* out, size_t length, size_t* readBytes) {
    auto* cursor = static_cast<ByteSourceCursor*>(BIO_get_data(bio));
    *readBytes = 0;
    if (cursor == nullptr || cursor->error || cursor->position >= cursor->end) {
        return 0;
    }
    std::size_t want = std::min<std::uint64_t>({length, cursor->end - cursor->position, kReadBlockBytes});
    long long n = cursor->source->readAt(cursor->position, out, want, cursor->error);
    if (n <= 0) {
        if (n == 0) {
            cursor->error = sign_errc::trailer_malformed;  // the file shrank while being read
        }
        return 0;
    }
    cursor->position += static_cast<std::uint64_t>(n);
    *readBytes = static_cast<std::size_t>(n);
    return 1;
}

long ctrl(BIO* bio, int command, long, void*) {
    auto* cursor = static_cast<ByteSourceCursor*>(BIO_get_data(bio));
    switch (command) {
        case BIO_CTRL_EOF:
            return cursor == nullptr || cursor->position >= cursor->end ? 1 : 0;
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_PENDING:
        case BIO_CTRL_WPENDING:
            return 0;
        default:
            return 0;
    }
}

int create(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

// One method table for the process, made on first use and kept (OpenSSL keeps a pointer to it in
// every BIO made from it).
const BIO_METHOD* byteSourceMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "okavel byte source");
        if (m != nullptr) {
            BIO_meth_set_read_ex(m, readEx);
            BIO_meth_set_ctrl(m, ctrl);
            BIO_meth_set_create(m, create);
        }
        return m;
    }();
    return method;
}

}  // namespace

BioPtr makeByteSourceBio(ByteSourceCursor& cursor) {
    const BIO_METHOD* method = byteSourceMethod();
    if (method == nullptr) {
        return nullptr;
    }
    BioPtr bio(BIO_new(method));
    if (bio) {
        BIO_set_data(bio.get(), &cursor);
    }
    return bio;
}

}  // namespace talvern::signCheck
