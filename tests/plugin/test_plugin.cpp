// A library for the loader's tests: it names its release and has one entry point.
extern "C" const char* plugin_release() {
    return "test-release-1";
}

extern "C" int test_plugin_answer() {
    return 42;
}
