#include "signcheck/JsonSignChk.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

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
        document.Parse<kParseFlags>(text.c_str(), text.size());
        if (document.HasParseError()) {
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
    document.Parse<kParseFlags>(text.c_str(), text.size());
    if (document.HasParseError() || !document.IsObject()) {
        reason = document.HasParseError() ? rapidjson::GetParseError_En(document.GetParseError())
                                          : "the document is not a JSON object";
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
