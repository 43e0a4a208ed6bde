#include "signcheck/JsonSignChk.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>
#include <system_error>

#include "log/Log.h"
#include "signcheck/Base64.h"
#include "signcheck/EmbeddedKeys.h"
#include "signcheck/Rsa.h"

namespace talvern::JsonSignChk {
namespace {

constexpr const char* kTag = "Tag null";
constexpr const char* kSignMember = "sign";

// Numbers are read correctly rounded, by the C++ library rather than by RapidJSON: its quick reading can
// land on a neighbouring value whose shortest text reads back as another (a signed "3e23" would not verify),
// and RapidJSON 1.1's correctly rounded reading is wrong at the edges (it turns "0e63" into -6.4e265, and
// indexes its table of powers out of bounds for 90 digits with e-362 or a zero with 400 digits after the
// point). Numbers with more than 100 digits or an exponent beyond 200 are refused: a signed list (names,
// sizes, digests) has no business with them.
constexpr std::size_t kMostDigits = 100;
constexpr long kFarthestExponent = 200;

// Whether a JSON number's text (valid syntax) stays within those bounds.
bool isWithinReach(std::string_view number) {
    std::size_t digits = 0;
    std::size_t i = 0;
    for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
        digits += number[i] >= '0' && number[i] <= '9' ? 1 : 0;
    }
    long exponent = 0;
    for (++i; i < number.size(); ++i) {
        if (number[i] >= '0' && number[i] <= '9') {
            exponent = std::min(exponent * 10 + (number[i] - '0'), kFarthestExponent + 1);
        }
    }
    return digits <= kMostDigits && exponent <= kFarthestExponent;
}

// Builds the document from RapidJSON's reading with numbers handed over as text: integers that fit 64 bits
// stay integers, as RapidJSON keeps them, and every other number becomes the double nearest to its text.
class DocumentBuilder {
public:
    explicit DocumentBuilder(const std::string& text) : m_text(text) {}

    /// Called by Document::Populate with the document as the handler.
    bool operator()(rapidjson::Document& document) {
        Forwarder forwarder{document};
        rapidjson::Reader reader;
        rapidjson::MemoryStream stream(m_text.data(), m_text.size());
        m_result = reader.Parse<rapidjson::kParseNumbersAsStringsFlag>(stream, forwarder);
        return succeeded();
    }

    bool succeeded() const { return !m_result.IsError(); }
    std::string reason() const {
        return m_result.Code() == rapidjson::kParseErrorTermination
                   ? "a number is out of range"
                   : rapidjson::GetParseError_En(m_result.Code());
    }

private:
    struct Forwarder {
        rapidjson::Document& d;
        using Ch = char;
        bool Null() { return d.Null(); }
        bool Bool(bool b) { return d.Bool(b); }
        bool Int(int i) { return d.Int(i); }
        bool Uint(unsigned u) { return d.Uint(u); }
        bool Int64(std::int64_t i) { return d.Int64(i); }
        bool Uint64(std::uint64_t u) { return d.Uint64(u); }
        bool Double(double x) { return d.Double(x); }
        bool String(const Ch* s, rapidjson::SizeType n, bool copy) { return d.String(s, n, copy); }
        bool StartObject() { return d.StartObject(); }
        bool Key(const Ch* s, rapidjson::SizeType n, bool copy) { return d.Key(s, n, copy); }
        bool EndObject(rapidjson::SizeType members) { return d.EndObject(members); }
        bool StartArray() { return d.StartArray(); }
        bool EndArray(rapidjson::SizeType elements) { return d.EndArray(elements); }
        bool RawNumber(const Ch* s, rapidjson::SizeType n, bool) {
            const std::string_view number(s, n);
            if (!isWithinReach(number)) {
                return false;
            }
            // The reader has checked the syntax: only the range can fail here.
            const char* end = s + n;
            if (number.find_first_of(".eE") == std::string_view::npos) {
                if (number.front() == '-') {
                    if (std::int64_t i = 0; std::from_chars(s, end, i).ec == std::errc()) {
                        return d.Int64(i);
                    }
                } else if (std::uint64_t u = 0; std::from_chars(s, end, u).ec == std::errc()) {
                    return d.Uint64(u);
                }
            }
            double x = 0;
            return std::from_chars(s, end, x).ec == std::errc() && d.Double(x);
        }
    };

    const std::string& m_text;
    rapidjson::ParseResult m_result;
};

// Parses `text` into `document`; false with the reason when it is not JSON or carries a number out of range.
bool parse(rapidjson::Document& document, const std::string& text, std::string& reason) {
    DocumentBuilder builder(text);
    document.Populate(builder);
    if (!builder.succeeded()) {
        reason = builder.reason();
        return false;
    }
    return true;
}

std::string compact(const rapidjson::Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// Removes every "sign" keeping the order of the other members (RemoveMember would move the last one): a
// document that names it twice is signed and checked without either, so signer and checker agree on it.
void eraseSign(rapidjson::Document& document) {
    while (document.EraseMember(kSignMember)) {
    }
}

}  // namespace

std::string programPublicKey() { return signCheck::embedded::featureListPublicKeyPem(); }

bool jsonSignCheck(const std::string& text) { return jsonSignCheck(text, programPublicKey()); }

bool jsonSignCheck(const std::string& text, const std::string& publicKey) {
    try {
        rapidjson::Document document;
        std::string reason;
        if (!parse(document, text, reason)) {
            OKV_LOG_TAG_ERROR(kTag, "{}; Reason: please check json:{} corret",
                              "jsonSignCheck parse json str failed", text);
            return false;
        }
        if (!document.IsObject() || !document.HasMember(kSignMember) || !document[kSignMember].IsString()) {
            OKV_LOG_TAG_ERROR(kTag, "{}; Reason: please check sign:{} corret",
                              "jsonSignCheck find sign failed", text);
            return false;
        }
        const std::string signText(document[kSignMember].GetString(),
                                   document[kSignMember].GetStringLength());
        std::string signature;
        if (!base64::decode(signText, signature) || signature.empty()) {
            OKV_LOG_TAG_ERROR(kTag, "jsonSignCheck decode base64 failed");
            return false;
        }
        eraseSign(document);
        const std::string verifyJsonStr = compact(document);
        const bool result = rsa::rsa_sha256_verify(verifyJsonStr, signature, publicKey);
        OKV_LOG_TAG_DEBUG(kTag, "jsonSignCheck rsa_sha256_verify verifyJsonStr:{}, sign:{} with result:{}",
                          verifyJsonStr, signText, result);
        return result;
    } catch (const std::exception& e) {
        OKV_LOG_TAG_ERROR(kTag, "{}; Reason: {}", "jsonSignCheck failed", e.what());
        return false;
    }
}

bool jsonSign(const std::string& text, const std::string& privateKey, bool pretty, std::string& signedText,
              std::string& reason) {
    rapidjson::Document document;
    if (!parse(document, text, reason)) {
        return false;
    }
    if (!document.IsObject()) {
        reason = "the document is not a JSON object";
        return false;
    }
    eraseSign(document);
    std::string signature;
    if (!rsa::rsa_sha256_sign(compact(document), privateKey, signature)) {
        reason = "the private key cannot be read as an RSA key";
        return false;
    }
    const std::string encoded = base64::encode(signature);
    document.AddMember(rapidjson::Value(kSignMember, document.GetAllocator()),
                       rapidjson::Value(encoded.c_str(), static_cast<rapidjson::SizeType>(encoded.size()),
                                        document.GetAllocator()),
                       document.GetAllocator());
    rapidjson::StringBuffer buffer;
    if (pretty) {
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        writer.SetIndent(' ', 2);
        document.Accept(writer);
    } else {
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        document.Accept(writer);
    }
    signedText.assign(buffer.GetString(), buffer.GetSize());
    return true;
}

}  // namespace talvern::JsonSignChk
