// empty.dll: an empty DLL built with the module's toolchain, which imports
// only what its C runtime start-up needs (kernel32 and msvcrt): the reference
// for what loading and unloading the module costs.
extern "C" __declspec(dllexport) int __stdcall Touch(int value) {
    return value;
}
