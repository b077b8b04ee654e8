// Scanner-style code that wrongly calls the C library: the freestanding
// check must reject it.
extern "C" int puts(const char* text);

int ProbeCallsTheCLibrary() { return puts("the C library is not available at boot"); }
