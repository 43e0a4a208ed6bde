#include "signcheck/JsonSignChk.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <string_view>

#include "log/Log.h"
#include "signcheck/Base64.h"
#include "signcheck/EmbeddedKeys.h"
#include "signcheck/Rsa.h"

namespace talvern::JsonSignChk {
namespace {

constexpr const char* kTag = "Tag null";
constexpr const char* kSignMember = "sign";
// Numbers are read correctly rounded: the quick reading can land on a neighbouring value whose shortest text
// reads back as another, so a signed "3e23" would not verify.
constexpr unsigned kParseFlags = rapidjson::kParseFullPrecisionFlag;

// RapidJSON 1.1's correctly rounded reading indexes its table of powers of ten out of bounds when a number's
// digits and exponent put its last digit far from the point (90 digits and e-362, or 400 zeros after the
// point): numbers with more than 100 digits or an exponent beyond 200 are refused before that reading runs.
// Then every digit stays within 320 places of the point, inside the table. A signed list (names, sizes,
// digests) has no business with such numbers.
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

// Walks the document's numbers as text and refuses those out of range (and malformed documents).
struct NumberRangeCheck : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, NumberRangeCheck> {
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        return isWithinReach(std::string_view(text, length));
    }
};

// Parses `text` into `document`; false with the reason when it is not JSON or carries a number out of range.
bool parse(rapidjson::Document& document, const std::string& text, std::string& reason) {
    NumberRangeCheck check;
    rapidjson::Reader reader;
    rapidjson::MemoryStream stream(text.data(), text.size());
    const rapidjson::ParseResult checked = reader.Parse<rapidjson::kParseNumbersAsStringsFlag>(stream, check);
    if (checked.IsError()) {
        reason = checked.Code() == rapidjson::kParseErrorTermination
                     ? "a number is out of range"
                     : rapidjson::GetParseError_En(checked.Code());
        return false;
    }
    document.Parse<kParseFlags>(text.c_str(), text.size());
    if (document.HasParseError()) {
        reason = rapidjson::GetParseError_En(document.GetParseError());
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
