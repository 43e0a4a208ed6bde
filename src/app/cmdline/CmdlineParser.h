#pragma once

// The agent's small command-line parser. Options are long ("--name", "--name value", "--name=value")
// with an optional one-letter short form ("-n", "-n value", and grouped flags "-he"). Registration
// mistakes are programming errors and throw cmdline_error; parse mistakes are collected as text.

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace cmdline {

/// A programming error in how options are registered or read.
class cmdline_error : public std::logic_error {
public:
    explicit cmdline_error(const std::string& what) : std::logic_error(what) {}
};

/// Reads a string value as itself.
template <typename T>
struct default_reader;

template <>
struct default_reader<std::string> {
    std::optional<std::string> operator()(const std::string& text) const { return text; }
};

template <>
struct default_reader<int> {
    std::optional<int> operator()(const std::string& text) const;
};

/// One registered option.
class option_base {
public:
    virtual ~option_base() = default;
    virtual bool has_value() const = 0;
    virtual bool must() const = 0;
    virtual bool set() = 0;
    virtual bool set(const std::string& value) = 0;
    virtual bool has_set() const = 0;
    virtual bool valid() const = 0;
    virtual const std::string& name() const = 0;
    virtual char short_name() const = 0;
    virtual const std::string& description() const = 0;
    virtual std::string short_description() const = 0;
    /// " (TYPE [=DEFAULT])" for valued options in the usage text; empty for flags.
    virtual std::string value_hint() const = 0;
};

/// A flag.
class option_without_value : public option_base {
public:
    option_without_value(std::string name, char shortName, std::string description);
    bool has_value() const override { return false; }
    bool must() const override { return false; }
    bool set() override;
    bool set(const std::string& value) override;
    bool has_set() const override { return m_set; }
    bool valid() const override { return true; }
    const std::string& name() const override { return m_name; }
    char short_name() const override { return m_short; }
    const std::string& description() const override { return m_description; }
    std::string short_description() const override;
    std::string value_hint() const override { return {}; }

private:
    std::string m_name;
    char m_short;
    std::string m_description;
    bool m_set = false;
};

/// An option with a value of type T read by Reader.
template <typename T, typename Reader = default_reader<T>>
class option_with_value_with_reader : public option_base {
public:
    option_with_value_with_reader(std::string name, char shortName, bool need, T def, std::string description,
                                  Reader reader = Reader())
        : m_name(std::move(name)),
          m_short(shortName),
          m_need(need),
          m_default(def),
          m_value(std::move(def)),
          m_description(std::move(description)),
          m_reader(std::move(reader)) {}

    bool has_value() const override { return true; }
    bool must() const override { return m_need; }
    bool set() override { return false; }
    bool set(const std::string& text) override {
        std::optional<T> read = m_reader(text);
        if (!read) {
            return false;
        }
        m_value = std::move(*read);
        m_set = true;
        return true;
    }
    bool has_set() const override { return m_set; }
    bool valid() const override { return !m_need || m_set; }
    const std::string& name() const override { return m_name; }
    char short_name() const override { return m_short; }
    const std::string& description() const override { return m_description; }
    std::string short_description() const override { return "--" + m_name + "=" + type_name(); }
    std::string value_hint() const override {
        if constexpr (std::is_same_v<T, std::string>) {
            return " (" + type_name() + " [=" + m_default + "])";
        } else {
            return " (" + type_name() + " [=" + std::to_string(m_default) + "])";
        }
    }

    const T& get() const { return m_value; }
    static std::string type_name();

private:
    std::string m_name;
    char m_short;
    bool m_need;
    T m_default;
    T m_value;
    std::string m_description;
    Reader m_reader;
    bool m_set = false;
};

template <>
inline std::string option_with_value_with_reader<std::string>::type_name() {
    return "string";
}
template <>
inline std::string option_with_value_with_reader<int>::type_name() {
    return "int";
}

/// The parser: register options, parse, then ask.
class parser {
public:
    parser() = default;

    /// Registers a flag. Throws cmdline_error when the long name is already taken or empty.
    void add(const std::string& name, char shortName = 0, const std::string& description = "");

    /// Registers an option with a value. Throws cmdline_error when the long name is taken or empty.
    template <typename T, typename Reader = default_reader<T>>
    void add(const std::string& name, char shortName, const std::string& description, bool need, T def = T(),
             Reader reader = Reader()) {
        insert(std::make_unique<option_with_value_with_reader<T, Reader>>(
            name, shortName, need, std::move(def), description, std::move(reader)));
    }

    /// Parses argv. Returns false when any error was found; errors() lists them, one per argument.
    bool parse(int argc, const char* const argv[]);
    bool parse(const std::vector<std::string>& args);

    /// True when the option appeared on the command line. Throws cmdline_error for an unknown name.
    bool exist(const std::string& name) const;

    /// The value of a valued option. Throws cmdline_error for an unknown name or a wrong type.
    template <typename T>
    const T& get(const std::string& name) const {
        const option_base* option = find(name);
        auto typed = dynamic_cast<const option_with_value_with_reader<T>*>(option);
        if (typed == nullptr) {
            throw cmdline_error("type mismatch flag '" + name + "'");
        }
        return typed->get();
    }

    /// Arguments that are not options, in order.
    const std::vector<std::string>& rest() const { return m_rest; }
    /// The parse errors, one per offending argument.
    const std::vector<std::string>& errors() const { return m_errors; }
    /// All parse errors joined by new lines.
    std::string error_full() const;
    /// "usage: PROGRAM [options] ... " and one line per option under "options:".
    std::string usage() const;

private:
    void insert(std::unique_ptr<option_base> option);
    const option_base* find(const std::string& name) const;
    void parseLong(const std::string& body, const std::vector<std::string>& args, std::size_t& i);
    void parseShort(const std::string& body, const std::vector<std::string>& args, std::size_t& i);
    option_base* byShort(char c, bool& ambiguous);
    void reset();

    std::vector<std::unique_ptr<option_base>> m_ordered;
    std::map<std::string, option_base*> m_byName;
    std::vector<std::string> m_rest;
    std::vector<std::string> m_errors;
    std::string m_programName;
};

}  // namespace cmdline
