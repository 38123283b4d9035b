// Memory that system libraries keep for the life of the process (font configuration);
// LeakSanitizer is told not to count it against the tests. Link into GUI test programs.

extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
