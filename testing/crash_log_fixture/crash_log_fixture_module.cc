// Exports one function so that the module has an export directory naming it.
extern "C" __declspec(dllexport) int CrashFixtureValue() { return 42; }
