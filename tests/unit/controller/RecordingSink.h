#pragma once

#include <string>
#include <utility>
#include <vector>

#include "eventcenter/IWebEventSink.h"

namespace talvern::test {

/// Stands for the event center: keeps what the controller forwards.
class RecordingSink : public IWebEventSink {
public:
    void broadcast(const std::string& topic, const std::string& content) override {
        events.emplace_back(topic, content);
    }
    std::vector<std::pair<std::string, std::string>> events;
};

}  // namespace talvern::test
