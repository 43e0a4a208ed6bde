#pragma once

#include <memory>

#include "controller/SdpOption.h"

namespace cmdline {
class parser;
}

namespace talvern::sdp {

/// Reads the parsed command line into the agent's construction record.
class SdpParamAdaptor : public SdpOption {
public:
    explicit SdpParamAdaptor(std::shared_ptr<cmdline::parser> parser);

    /// Fills this record from the parser and logs the result.
    bool parseParam();

    /// Fills option from parser: switches, plug-in path and directory (relative to the working directory).
    static bool Trans(cmdline::parser& parser, SdpOption& option);

private:
    std::shared_ptr<cmdline::parser> m_parser;
};

}  // namespace talvern::sdp
