#include "log/Log.h"

#include <spdlog/common.h>

#include <cstdio>

#include "log/Logger.h"

namespace talvern::log {

bool shouldLog(Level level) noexcept {
    return Logger::GetInstance().shouldLog(static_cast<spdlog::level::level_enum>(level));
}

void write(Level level, const char* tag, const char* function, unsigned line,
           std::string_view message) noexcept {
    try {
        std::string text(message);
        Logger::GetInstance().log(static_cast<spdlog::level::level_enum>(level), tag, function, line,
                                  text.c_str());
    } catch (const spdlog::spdlog_ex& e) {
        std::fprintf(stderr, "gatelog exception[%s:%s:%u]: %s\n", tag, function, line, e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "[%s:%s:%u]: %s\n", tag, function, line, e.what());
    } catch (...) {
        std::fprintf(stderr, "Unknown excepiton When logger\n");
    }
}

std::string qualifiedFunctionName(std::string_view pretty) {
    // Drop the parameter list: the last '(' at template depth zero.
    std::size_t end = pretty.size();
    int depth = 0;
    for (std::size_t i = pretty.size(); i-- > 0;) {
        char c = pretty[i];
        if (c == ')' || c == '>' || c == ']') {
            ++depth;
        } else if (c == '(' || c == '<' || c == '[') {
            --depth;
            if (depth == 0 && c == '(') {
                end = i;
                break;
            }
        }
    }
    std::string_view head = pretty.substr(0, end);
    // Drop the return type and qualifiers: the last space at template depth zero.
    depth = 0;
    std::size_t begin = 0;
    for (std::size_t i = head.size(); i-- > 0;) {
        char c = head[i];
        if (c == '>' || c == ')') {
            ++depth;
        } else if (c == '<' || c == '(') {
            --depth;
        } else if (c == ' ' && depth == 0) {
            // "operator()" and "operator<" keep their spaces-free names; a space before them ends the name.
            begin = i + 1;
            break;
        }
    }
    std::string name(head.substr(begin));
    while (!name.empty() && (name.front() == '*' || name.front() == '&')) {
        name.erase(0, 1);
    }
    return name;
}

}  // namespace talvern::log
