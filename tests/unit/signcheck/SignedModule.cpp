// A MODULE library signed after link by okavel_sign_target(); the tests load it and check its signature.
extern "C" __attribute__((visibility("default"))) int okavelSignedModuleAnswer() { return 42; }
