// okavel-sign: signs plug-ins and executables with the maker's appended signature, checks them exactly
// as the agent does, shows who signed them, and writes the signed plug-in feature list.

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "SignArguments.h"
#include "signcheck/CmsSignature.h"
#include "signcheck/FileDigest.h"
#include "signcheck/FileSigner.h"
#include "signcheck/JsonSignChk.h"
#include "signcheck/SignCheck.h"
#include "support/TextCase.h"

namespace {

namespace sc = talvern::signCheck;

constexpr const char* kUsage =
    "usage:\n"
    "  okavel-sign sign --cert CERT.pem --key KEY.pem [--chain CHAIN.pem] FILE...\n"
    "      append a signature to each FILE (replacing one it already carries)\n"
    "  okavel-sign verify FILE...\n"
    "      exit 0 when the agent accepts every FILE; trust anchors: the built-in bundle and\n"
    "      the PEM file named by $OKAVEL_TRUST_ANCHORS\n"
    "  okavel-sign show FILE\n"
    "      print the signer and the certificates a signature carries\n"
    "  okavel-sign strip FILE...\n"
    "      remove the signature\n"
    "  okavel-sign feature-list --key RSA_PRIVATE.pem --out plugins_feature.json FILE...\n"
    "      write the signed plug-in feature list of the FILEs\n";

std::string utc(std::time_t time) {
    char text[32];
    struct tm parts {};
    gmtime_r(&time, &parts);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

int sign(const talvern::tools::SignArguments& args) {
    sc::SignOptions options;
    auto option = [&](const char* name) {
        auto it = args.options.find(name);
        return it == args.options.end() ? std::string() : it->second;
    };
    options.certificatePath = option("--cert");
    options.keyPath = option("--key");
    options.chainPath = option("--chain");
    if (options.certificatePath.empty() || options.keyPath.empty()) {
        std::cerr << "okavel-sign sign: --cert and --key are required\n";
        return 2;
    }
    int status = 0;
    for (const auto& file : args.files) {
        std::error_code ec;
        std::string detail;
        if (sc::signFile(file, options, ec, detail)) {
            std::cout << file << ": signed\n";
        } else {
            std::cerr << file << ": not signed: " << ec.message()
                      << (detail.empty() ? "" : " (" + detail + ")") << "\n";
            status = 1;
        }
    }
    return status;
}

int verify(const talvern::tools::SignArguments& args) {
    int status = 0;
    for (const auto& file : args.files) {
        // The agent's own check; its log lines on standard error say why a file is refused.
        if (!file.empty() && sc::windows::hasTalvernSignA(file)) {
            std::cout << file << ": accepted\n";
        } else {
            std::cerr << file << ": refused\n";
            status = 1;
        }
    }
    return status;
}

void printCertificate(const sc::CertContextPtr& certificate, const char* indent) {
    sc::CertificateInfo info;
    sc::describeCertificate(certificate, info);
    std::cout << indent << "subject:      " << info.subject << "\n"
              << indent << "issuer:       " << info.issuer << "\n"
              << indent << "serial:       " << info.serialHex << "\n"
              << indent << "valid from:   " << utc(info.notBefore) << "\n"
              << indent << "valid until:  " << utc(info.notAfter) << "\n"
              << indent << "code signing: " << (info.codeSigningUsage ? "yes" : "no") << "\n";
}

int show(const talvern::tools::SignArguments& args) {
    if (args.files.size() != 1) {
        std::cerr << "okavel-sign show: exactly one FILE\n";
        return 2;
    }
    const std::string& file = args.files.front();
    std::error_code ec;
    auto source = sc::FileByteSource::open(file, ec);
    std::string detail;
    sc::TrailerLocation location;
    auto signature = source ? sc::CmsSignature::read(*source, location, ec, detail) : nullptr;
    if (!signature) {
        std::cerr << file << ": " << ec.message() << (detail.empty() ? "" : " (" + detail + ")") << "\n";
        return 1;
    }
    std::cout << "file:         " << file << "\n"
              << "content:      " << location.contentLength << " bytes, signature "
              << location.signatureLength << " bytes\n";
    long long signedAt = signature->signingTime();
    std::cout << "signing time: "
              << (signedAt < 0 ? std::string("none") : utc(static_cast<std::time_t>(signedAt))) << "\n";
    auto signer = signature->firstSignerCertificate(ec);
    if (signer) {
        std::cout << "signer:\n";
        printCertificate(signer, "  ");
    } else {
        std::cout << "signer:       " << ec.message() << "\n";
    }
    auto carried = signature->certificates();
    std::cout << "certificates carried: " << carried.size() << "\n";
    for (const auto& certificate : carried) {
        auto name = sc::windows::getCertName(certificate, sc::windows::kCertNameSimpleDisplay);
        std::cout << "  - " << (name ? name.get() : "(no name)") << "\n";
    }
    return 0;
}

int strip(const talvern::tools::SignArguments& args) {
    int status = 0;
    for (const auto& file : args.files) {
        std::error_code ec;
        std::string detail;
        if (sc::stripSignature(file, ec, detail)) {
            std::cout << file << ": unsigned\n";
        } else {
            std::cerr << file << ": " << ec.message() << (detail.empty() ? "" : " (" + detail + ")") << "\n";
            status = 1;
        }
    }
    return status;
}

int featureList(const talvern::tools::SignArguments& args) {
    auto key = args.options.find("--key");
    auto out = args.options.find("--out");
    if (key == args.options.end() || out == args.options.end()) {
        std::cerr << "okavel-sign feature-list: --key and --out are required\n";
        return 2;
    }
    std::ifstream keyFile(key->second, std::ios::binary);
    std::stringstream keyText;
    keyText << keyFile.rdbuf();
    if (!keyFile) {
        std::cerr << "okavel-sign feature-list: cannot read " << key->second << "\n";
        return 1;
    }

    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("plugins");
    writer.StartArray();
    for (const auto& file : args.files) {
        std::string md5;
        std::uint64_t size = 0;
        std::error_code ec;
        if (!sc::fileMd5Hex(file, md5, size, ec)) {
            std::cerr << file << ": " << ec.message() << "\n";
            return 1;
        }
        writer.StartObject();
        writer.Key("name");
        writer.String(talvern::utilities::lowerCase(std::filesystem::path(file).filename().string()));
        writer.Key("md5");
        writer.String(md5);
        writer.Key("fileSize");
        writer.Int64(static_cast<std::int64_t>(size));
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();

    std::string signedText;
    std::string reason;
    if (!talvern::JsonSignChk::jsonSign(buffer.GetString(), keyText.str(), true, signedText, reason)) {
        std::cerr << "okavel-sign feature-list: " << reason << "\n";
        return 1;
    }
    const std::string temporary = out->second + ".tmp";
    {
        std::ofstream output(temporary, std::ios::binary | std::ios::trunc);
        output << signedText << "\n";
        if (!output.flush()) {
            std::cerr << "okavel-sign feature-list: cannot write " << temporary << "\n";
            return 1;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, out->second, ec);
    if (ec) {
        std::cerr << "okavel-sign feature-list: cannot write " << out->second << ": " << ec.message() << "\n";
        std::filesystem::remove(temporary, ec);
        return 1;
    }
    std::cout << out->second << ": " << args.files.size() << " plug-ins listed\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    talvern::tools::SignArguments args;
    std::string error;
    if (!talvern::tools::parseSignArguments(argc, argv, args, error)) {
        std::cerr << "okavel-sign: " << error << "\n" << kUsage;
        return 2;
    }
    if (args.command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (args.command == "sign") {
        return sign(args);
    }
    if (args.command == "verify") {
        return verify(args);
    }
    if (args.command == "show") {
        return show(args);
    }
    if (args.command == "strip") {
        return strip(args);
    }
    return featureList(args);
}
