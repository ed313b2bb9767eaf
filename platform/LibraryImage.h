// Whether a file is a Windows library (DLL) for a given machine, read from its headers: plain
// logic on bytes, so that the copy can refuse a file that regsvr32 could never load before that
// file replaces a working library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The machine field of a PE file header (IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_AMD64).
constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;

// start: the file's first bytes, length of them, which must hold all its headers; fileSize: the
// length of the whole file. True for a PE file whose headers name machine, a DLL, an executable
// image and the optional header of machine's width, and whose headers and sections all lie
// within the file; false for anything else, a web page, a program or a download cut short among
// them.
bool IsWindowsLibrary(const unsigned char* start, std::size_t length, std::uint64_t fileSize,
                      std::uint16_t machine);

}  // namespace platform
