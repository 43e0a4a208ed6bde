// What this agent can do: its own description and the capacities of the loaded modules.

namespace cpp talvern.rpc.thrift

service SdpCapacitiesService {
    // The capacities document, a compact JSON text.
    string getCapacities(),
    // Liveness probe: always true.
    bool IsRpcStatusNormal(),
}
