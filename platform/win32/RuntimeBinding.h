// Binds a function of an already loaded system DLL by name, for functions that the oldest
// Windows we support lacks; calling through the result needs a null check.
#pragma once

#include <windows.h>

namespace win32 {

template <typename Function>
Function* BindFunction(const wchar_t* moduleName, const char* functionName) {
    const HMODULE module = ::GetModuleHandleW(moduleName);
    if (module == nullptr) {
        return nullptr;
    }
    // FARPROC is a generic entry point; going through void (*)() tells the compiler that the
    // change of function type is meant.
    return reinterpret_cast<Function*>(
        reinterpret_cast<void (*)()>(::GetProcAddress(module, functionName)));
}

}  // namespace win32
