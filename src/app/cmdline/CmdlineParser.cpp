#include "app/cmdline/CmdlineParser.h"

#include <charconv>
#include <filesystem>

namespace cmdline {

std::optional<int> default_reader<int>::operator()(const std::string& text) const {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

option_without_value::option_without_value(std::string name, char shortName, std::string description)
    : m_name(std::move(name)), m_short(shortName), m_description(std::move(description)) {}

bool option_without_value::set() {
    m_set = true;
    return true;
}

bool option_without_value::set(const std::string&) { return false; }

std::string option_without_value::short_description() const { return "--" + m_name; }

void parser::add(const std::string& name, char shortName, const std::string& description) {
    insert(std::make_unique<option_without_value>(name, shortName, description));
}

void parser::insert(std::unique_ptr<option_base> option) {
    const std::string& name = option->name();
    if (name.empty()) {
        throw cmdline_error("an option needs a long name");
    }
    if (m_byName.count(name) != 0) {
        throw cmdline_error("multiple definition: " + name);
    }
    m_byName.emplace(name, option.get());
    m_ordered.push_back(std::move(option));
}

const option_base* parser::find(const std::string& name) const {
    auto it = m_byName.find(name);
    if (it == m_byName.end()) {
        throw cmdline_error("there is no flag: --" + name);
    }
    return it->second;
}

bool parser::exist(const std::string& name) const { return find(name)->has_set(); }

option_base* parser::byShort(char c, bool& ambiguous) {
    option_base* found = nullptr;
    ambiguous = false;
    for (auto& option : m_ordered) {
        if (option->short_name() == c) {
            if (found != nullptr) {
                ambiguous = true;
            }
            found = option.get();
        }
    }
    return found;
}

void parser::reset() {
    m_rest.clear();
    m_errors.clear();
}

bool parser::parse(int argc, const char* const argv[]) {
    std::vector<std::string> args;
    for (int i = 0; i < argc && argv != nullptr; ++i) {
        args.emplace_back(argv[i] ? argv[i] : "");
    }
    return parse(args);
}

bool parser::parse(const std::vector<std::string>& args) {
    reset();
    if (args.empty()) {
        m_errors.emplace_back("argument number must be longer than 0");
        return false;
    }
    m_programName = std::filesystem::path(args[0]).filename().string();
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            parseLong(arg.substr(2), args, i);
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') {
            parseShort(arg.substr(1), args, i);
        } else {
            m_rest.push_back(arg);
        }
    }
    for (auto& option : m_ordered) {
        if (!option->valid()) {
            m_errors.push_back("need option: --" + option->name());
        }
    }
    return m_errors.empty();
}

void parser::parseLong(const std::string& body, const std::vector<std::string>& args, std::size_t& i) {
    std::size_t eq = body.find('=');
    std::string name = body.substr(0, eq);
    auto it = m_byName.find(name);
    if (it == m_byName.end()) {
        m_errors.push_back("undefined option: --" + name);
        return;
    }
    option_base* option = it->second;
    if (!option->has_value()) {
        if (eq != std::string::npos) {
            m_errors.push_back("option value is invalid: --" + name);
            return;
        }
        option->set();
        return;
    }
    std::string value;
    if (eq != std::string::npos) {
        value = body.substr(eq + 1);
    } else if (i + 1 < args.size()) {
        value = args[++i];
    } else {
        m_errors.push_back("option needs value: --" + name);
        return;
    }
    if (!option->set(value)) {
        m_errors.push_back("option value is invalid: --" + name);
    }
}

void parser::parseShort(const std::string& body, const std::vector<std::string>& args, std::size_t& i) {
    for (std::size_t k = 0; k < body.size(); ++k) {
        char c = body[k];
        bool ambiguous = false;
        option_base* option = byShort(c, ambiguous);
        if (option == nullptr) {
            m_errors.push_back(std::string("undefined short option: -") + c);
            continue;
        }
        if (ambiguous) {
            m_errors.push_back(std::string("ambiguous short option: -") + c);
            continue;
        }
        if (!option->has_value()) {
            option->set();
            continue;
        }
        // A valued short option takes the rest of this argument ("-pdir") or the next argument.
        std::string value;
        if (k + 1 < body.size()) {
            value = body.substr(k + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            m_errors.push_back("option needs value: --" + option->name());
            return;
        }
        if (!option->set(value)) {
            m_errors.push_back("option value is invalid: --" + option->name());
        }
        return;
    }
}

std::string parser::error_full() const {
    std::string text;
    for (const auto& error : m_errors) {
        text += error + "\n";
    }
    return text;
}

std::string parser::usage() const {
    std::string text = "usage: " + m_programName + " [options] ... \n";
    text += "options:\n";
    std::size_t width = 0;
    for (const auto& option : m_ordered) {
        width = std::max(width, option->name().size());
    }
    for (const auto& option : m_ordered) {
        std::string line = "  ";
        line +=
            option->short_name() != 0 ? std::string("-") + option->short_name() + ", " : std::string("    ");
        line += "--" + option->name();
        line += std::string(width + 4 - option->name().size(), ' ');
        line += option->description() + option->value_hint() + "\n";
        text += line;
    }
    return text;
}

}  // namespace cmdline
