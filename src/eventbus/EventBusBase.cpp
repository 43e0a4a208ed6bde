#include "eventbus/EventBusBase.h"

namespace talvern {

bool EventBusBase::broadcast(const char* topic, const char* content) {
    return broadcast(std::string(topic ? topic : ""), std::string(content ? content : ""));
}

}  // namespace talvern
