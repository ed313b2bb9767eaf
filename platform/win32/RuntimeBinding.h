// Binds a function of a loaded system DLL, by the DLL's handle or name, for functions that the
// oldest Windows we support lacks; calling through the result needs a null check.
#pragma once

#include <windows.h>

namespace win32 {

template <typename Function>
Function* BindFunction(HMODULE module, const char* functionName) {
    if (module == nullptr) {
        return nullptr;
    }
    // FARPROC is a generic entry point; going through void (*)() tells the compiler that the
    // change of function type is meant.
    return reinterpret_cast<Function*>(
        reinterpret_cast<void (*)()>(::GetProcAddress(module, functionName)));
}

template <typename Function>
Function* BindFunction(const wchar_t* moduleName, const char* functionName) {
    return BindFunction<Function>(::GetModuleHandleW(moduleName), functionName);
}

}  // namespace win32
