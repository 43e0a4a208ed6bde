// okavel-bus: a command-line client of the agent's event bus, for people and scripts.
//
//   okavel-bus [--socket PATH | --tcp PORT] identify
//   okavel-bus [--socket PATH | --tcp PORT] push TOPIC CONTENT
//   okavel-bus [--socket PATH | --tcp PORT] watch [--from ID] [--reconnect-for SECONDS]
//   okavel-bus [--socket PATH | --tcp PORT] capacities
//
// Without --socket or --tcp it reaches the core service's bus: its local socket in the runtime directory,
// else the TCP port of its port file beside this tool (56630 when there is none; like the agent's own
// fixed ports, moved by $OKAVEL_PORT_OFFSET).
//
// Exit codes: 0 done (or interrupted), 1 the agent answered with an error, 2 the agent cannot be reached
// (or went away during a watch and did not come back in time), 3 the agent refused this program (it
// closed the connection without an answer: the program is not signed by the maker), 64 usage.

#include <signal.h>
#include <unistd.h>

#include <thrift/TApplicationException.h>
#include <thrift/TOutput.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TMultiplexedProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TSocket.h>
#include <thrift/transport/TTransportException.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "BusArguments.h"
#include "platform/Paths.h"
#include "platform/Ports.h"
#include "rpcgen/SdpBroadcast.h"
#include "rpcgen/SdpCapacitiesService.h"

namespace {

using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TMultiplexedProtocol;
using apache::thrift::transport::TBufferedTransport;
using apache::thrift::transport::TSocket;
using apache::thrift::transport::TTransportException;
using talvern::rpc::thrift::BroadcastIdentify;
using talvern::rpc::thrift::BroadcastPullEvent;
using talvern::rpc::thrift::BroadcastPushEvent;

const char* const kCorePipe = "oKavelCore-fcd60898-3ef4-423f-acc9-3b28dc0e9e22";
constexpr std::uint16_t kCorePort = 56630;
constexpr int kExitUsage = 64;
constexpr int kExitUnreachable = 2;
constexpr int kExitRefused = 3;
constexpr std::chrono::milliseconds kReconnectPause{200};
constexpr std::chrono::seconds kDefaultReconnectWindow{60};

std::atomic<bool> g_interrupted{false};

struct Target {
    std::string socketPath;
    std::uint16_t port = 0;
    std::string describe() const {
        return socketPath.empty() ? "127.0.0.1:" + std::to_string(port) : socketPath;
    }
};

int usage() {
    std::cerr << "usage: okavel-bus [--socket PATH | --tcp PORT] identify | push TOPIC CONTENT"
                 " | watch [--from ID] [--reconnect-for SECONDS] | capacities\n";
    return kExitUsage;
}

Target defaultTarget() {
    Target target;
    std::string socket = talvern::platform::runtimeDir() + "/" + kCorePipe + ".sock";
    std::error_code ec;
    if (std::filesystem::exists(socket, ec)) {
        target.socketPath = socket;
        return target;
    }
    std::ifstream portFile(talvern::platform::executableDir() + "/var/run/plugins/oKavelCore/thrift");
    std::string text;
    portFile >> text;
    if (!talvern::tools::parsePortText(text, target.port)) {
        target.port = talvern::platform::fixedPort(kCorePort);
    }
    return target;
}

std::string eventJson(const BroadcastPushEvent& event) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("channelID");
    writer.String(event.origin.channelID.c_str());
    writer.Key("eventID");
    writer.Int64(event.origin.eventID);
    writer.Key("topic");
    writer.String(event.body.topic.c_str());
    writer.Key("content");
    writer.String(event.body.content.c_str());
    writer.EndObject();
    return buffer.GetString();
}

class Connection {
public:
    explicit Connection(const Target& target) {
        m_socket = target.socketPath.empty() ? std::make_shared<TSocket>("127.0.0.1", target.port)
                                             : std::make_shared<TSocket>(target.socketPath);
        m_socket->setConnTimeout(2000);
        m_transport = std::make_shared<TBufferedTransport>(m_socket);
        auto protocol = std::make_shared<TBinaryProtocol>(m_transport);
        m_bus = std::make_unique<talvern::rpc::thrift::SdpBroadcastClient>(
            std::make_shared<TMultiplexedProtocol>(protocol, "SdpBroadcastService"));
        m_capacities = std::make_unique<talvern::rpc::thrift::SdpCapacitiesServiceClient>(
            std::make_shared<TMultiplexedProtocol>(protocol, "SdpCapacitiesService"));
        m_transport->open();
    }
    talvern::rpc::thrift::SdpBroadcastClient& bus() { return *m_bus; }
    talvern::rpc::thrift::SdpCapacitiesServiceClient& capacities() { return *m_capacities; }

private:
    std::shared_ptr<TSocket> m_socket;
    std::shared_ptr<TBufferedTransport> m_transport;
    std::unique_ptr<talvern::rpc::thrift::SdpBroadcastClient> m_bus;
    std::unique_ptr<talvern::rpc::thrift::SdpCapacitiesServiceClient> m_capacities;
};

int identify(Connection& connection) {
    BroadcastIdentify identity;
    connection.bus().identify(identity);
    std::cout << R"({"channelID":")" << identity.channelID << R"(","eventID":)" << identity.eventID << "}"
              << std::endl;
    return 0;
}

int push(Connection& connection, const std::string& topic, const std::string& content) {
    BroadcastPushEvent event;
    event.body.topic = topic;
    event.body.content = content;
    // A channel of its own per run, so that the bus's repeat check never mistakes this event for an old one.
    event.origin.channelID =
        "okavel-bus-" + std::to_string(::getpid()) + "-" + std::to_string(::time(nullptr));
    event.origin.eventID = 1;
    if (!connection.bus().push(event)) {
        std::cerr << "okavel-bus: the bus refused the event" << std::endl;
        return 1;
    }
    std::cout << "pushed " << topic << std::endl;
    return 0;
}

bool sleepUnlessInterrupted(std::chrono::milliseconds pause) {
    const auto until = std::chrono::steady_clock::now() + pause;
    while (!g_interrupted && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return !g_interrupted;
}

// Follows the bus for as long as it is not interrupted. A connection that ends after it was served means
// the agent went away (a restart): the watch reconnects within `reconnectFor` and goes on after the last
// event it printed; a new bus (another channel) is followed from its first event, so nothing pushed
// since its start is missed. A connection closed before any answer means this program is refused.
int watch(const std::function<Target()>& targetOf, std::int64_t from,
          std::chrono::milliseconds reconnectFor) {
    BroadcastIdentify cursor;
    bool following = false;
    std::optional<std::chrono::steady_clock::time_point> giveUpAt;
    bool lastAttemptRefused = false;
    while (!g_interrupted) {
        const Target target = targetOf();
        bool answered = false;
        try {
            Connection connection(target);
            if (!following) {
                connection.bus().identify(cursor);
                cursor.eventID = from;
                following = true;
            } else {
                std::cerr << "okavel-bus: reconnected to " << target.describe() << std::endl;
            }
            while (!g_interrupted) {
                BroadcastPullEvent pulled;
                connection.bus().pull(pulled, cursor, 1000);
                answered = true;
                giveUpAt.reset();
                const bool newBus = pulled.identify.channelID != cursor.channelID;
                for (const auto& event : pulled.data) {
                    std::cout << eventJson(event) << std::endl;
                }
                cursor = pulled.identify;
                if (newBus) {
                    cursor.eventID = 0;
                }
            }
            return 0;
        } catch (const TTransportException& e) {
            if (g_interrupted) {
                return 0;
            }
            if (!following) {
                throw;  // never served: unreachable or refused, told apart by the caller
            }
            lastAttemptRefused = e.getType() != TTransportException::NOT_OPEN && !answered;
            if (!giveUpAt) {
                std::cerr << "okavel-bus: the agent went away (" << e.what() << "); reconnecting for up to "
                          << reconnectFor.count() / 1000 << " s" << std::endl;
                giveUpAt = std::chrono::steady_clock::now() + reconnectFor;
            }
        }
        if (std::chrono::steady_clock::now() >= *giveUpAt) {
            if (lastAttemptRefused) {
                std::cerr << "okavel-bus: the agent came back but closed the connection without an answer "
                             "(a tool the agent does not trust is refused)"
                          << std::endl;
                return kExitRefused;
            }
            std::cerr << "okavel-bus: the agent went away and did not come back" << std::endl;
            return kExitUnreachable;
        }
        sleepUnlessInterrupted(kReconnectPause);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    talvern::tools::BusArguments args;
    std::string error;
    if (!talvern::tools::parseBusArguments(argc, argv, args, error)) {
        std::cerr << "okavel-bus: " << error << std::endl;
        return usage();
    }
    const bool explicitTarget = !args.socketPath.empty() || args.port.has_value();
    Target target = explicitTarget ? Target{args.socketPath, args.port.value_or(0)} : defaultTarget();
    // The library's own lines would repeat every failed reconnect; this tool says what happened itself.
    apache::thrift::GlobalOutput.setOutputFunction([](const char*) {});
    struct sigaction action {};
    action.sa_handler = [](int) { g_interrupted = true; };
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    const std::string& command = args.command;
    try {
        if (command == "watch") {
            // Without a named target the core service is looked for again: its port may change.
            return watch(
                [&] { return explicitTarget ? target : defaultTarget(); }, args.from,
                std::chrono::seconds(args.reconnectSeconds.value_or(kDefaultReconnectWindow.count())));
        }
        Connection connection(target);
        if (command == "identify") {
            return identify(connection);
        }
        if (command == "push") {
            return push(connection, args.operands[0], args.operands[1]);
        }
        if (command == "capacities") {
            std::string document;
            connection.capacities().getCapacities(document);
            std::cout << document << std::endl;
            return 0;
        }
        return usage();
    } catch (const TTransportException& e) {
        if (e.getType() == TTransportException::NOT_OPEN) {
            std::cerr << "okavel-bus: the agent cannot be reached at " << target.describe() << ": "
                      << e.what() << std::endl;
            return kExitUnreachable;
        }
        if (g_interrupted) {
            return 0;
        }
        std::cerr
            << "okavel-bus: the agent closed the connection without an answer (a tool the agent does not "
               "trust is refused): "
            << e.what() << std::endl;
        return kExitRefused;
    } catch (const apache::thrift::TApplicationException& e) {
        std::cerr << "okavel-bus: the agent answered with an error: " << e.what() << std::endl;
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "okavel-bus: " << e.what() << std::endl;
        return 1;
    }
}
