#pragma once

namespace talvern {

class IndependentLogObj;

/// The process-wide signal log, "oKavelAgentSignal.log" beside the main logs; configured on first use
/// (a failure prints "exception in init log" and the object stays unconfigured).
IndependentLogObj& signalLog();

}  // namespace talvern
