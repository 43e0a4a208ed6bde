// Debian's libthrift is not built with ThreadSanitizer, so the reference counting it does on the accepting
// thread (TServerFramework::serve drops the protocols of a finished client) is invisible to it, and the
// final release looks like a race with the client's thread. Only reports in which that accept loop takes
// part are suppressed; our handlers run on the connection threads and stay checked.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "race:apache::thrift::server::TServerFramework::serve\n";
}
#endif
