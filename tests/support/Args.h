#pragma once

#include <string>
#include <vector>

namespace talvern::test {

/// Owns the argv storage of one simulated command line.
struct Args {
    explicit Args(std::vector<std::string> words) : strings(std::move(words)) {
        for (auto& s : strings) {
            pointers.push_back(s.data());
        }
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(strings.size()); }
    char** argv() { return pointers.data(); }

    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

}  // namespace talvern::test
