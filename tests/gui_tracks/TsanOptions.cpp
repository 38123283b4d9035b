// Under ThreadSanitizer: Qt is not instrumented, so its own thread pool (the raster painter's
// helpers) allocates on one thread and frees on another behind locks TSan cannot see. Calls
// made from uninstrumented libraries are not checked; every access in our code still is.

extern "C" const char* __tsan_default_options();

extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
