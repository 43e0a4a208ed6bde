#pragma once

#include <map>
#include <memory>
#include <string>
#include <system_error>

namespace talvern::eventbus {

/// The category of JSON parse errors met while checking an event ("jsonchecker_category"); a code is a
/// RapidJSON parse error code and its message is the library's text for it.
const std::error_category& jsonchecker_category();

/// Named JSON schemas (draft 4) and the check of a JSON text against one of them. The table starts with the
/// bus's schema "event": an object whose member "event" is a string. Checking is safe from several threads;
/// adding is not meant to race with checking.
class EventSchemaChecker {
public:
    /// Parses the built-in schemas; throws std::runtime_error when one does not parse.
    EventSchemaChecker();
    ~EventSchemaChecker();
    EventSchemaChecker(const EventSchemaChecker&) = delete;
    EventSchemaChecker& operator=(const EventSchemaChecker&) = delete;

    /// Adds (or replaces) a schema; throws std::runtime_error when the text does not parse.
    void addSchema(const std::string& name, const std::string& schemaText);

    /// Validates `content` (an empty text counts as "{}") against the schema `name`. Throws
    /// std::system_error of jsonchecker_category when the content is not JSON, std::runtime_error with
    /// "not found key: <name>" for an unknown schema, and std::runtime_error with the three lines
    /// "Invalid schema: ...", "Invalid keyword: ...", "Invalid document: ..." when the content does not
    /// satisfy the schema.
    void check(const std::string& name, const std::string& content) const;

private:
    struct Schema;
    static void throwIfNotJson(const std::string& text);

    std::map<std::string, std::unique_ptr<Schema>> m_schemas;
};

}  // namespace talvern::eventbus
