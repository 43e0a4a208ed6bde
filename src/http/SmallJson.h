#pragma once

// A JSON document for request-sized texts whose memory lives in the caller's frame: parsing a page's
// body on every request costs no heap allocation unless the body is unusually large (then the
// allocators fall back to the heap on their own).

#include <rapidjson/allocators.h>
#include <rapidjson/document.h>

#include <cstddef>

namespace talvern::http {

class SmallJson {
public:
    using Allocator = rapidjson::MemoryPoolAllocator<>;
    using Document = rapidjson::GenericDocument<rapidjson::UTF8<>, Allocator, Allocator>;

    SmallJson() = default;
    SmallJson(const SmallJson&) = delete;
    SmallJson& operator=(const SmallJson&) = delete;

    Document& document() { return m_document; }

private:
    static constexpr std::size_t kValueBytes = 4096;
    static constexpr std::size_t kParseBytes = 1024;
    alignas(std::max_align_t) char m_valueBuffer[kValueBytes];
    alignas(std::max_align_t) char m_parseBuffer[kParseBytes];
    Allocator m_valueAllocator{m_valueBuffer, kValueBytes};
    Allocator m_parseAllocator{m_parseBuffer, kParseBytes};
    Document m_document{&m_valueAllocator, kParseBytes, &m_parseAllocator};
};

}  // namespace talvern::http
