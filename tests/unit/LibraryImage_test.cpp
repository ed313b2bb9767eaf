// The header check that lets only a Windows library of the installer's machine replace dx8vb.dll.
#include "platform/LibraryImage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void Put(Bytes& bytes, std::size_t at, std::uint32_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// A library as a linker lays one out, in 0x400 bytes: the DOS header pointing at the PE header
// at 0x40, a PE32 optional header giving 0x200 bytes of headers, one section of 0x200 bytes.
Bytes Library(std::uint16_t machine) {
    Bytes bytes(0x400);
    Put(bytes, 0, 0x5A4D, 2);  // "MZ"
    Put(bytes, 0x3C, 0x40, 4);
    Put(bytes, 0x40, 0x4550, 4);  // "PE\0\0"
    Put(bytes, 0x44, machine, 2);
    Put(bytes, 0x46, 1, 2);       // sections
    Put(bytes, 0x54, 0xE0, 2);    // size of the optional header
    Put(bytes, 0x56, 0x2102, 2);  // a DLL, executable, 32-bit
    Put(bytes, 0x58, machine == platform::kMachineAmd64 ? 0x20B : 0x10B, 2);  // PE32+ or PE32
    Put(bytes, 0x58 + 60, 0x200, 4);                                          // size of the headers
    Put(bytes, 0x138 + 16, 0x200, 4);  // the section's size in the file, and where it starts
    Put(bytes, 0x138 + 20, 0x200, 4);
    return bytes;
}

Bytes With(Bytes bytes, std::size_t at, std::uint32_t value, std::size_t size) {
    Put(bytes, at, value, size);
    return bytes;
}

Bytes Cut(Bytes bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

TEST(IsWindowsLibrary, TakesOnlyALibraryOfTheMachineWholeAsItsHeadersDescribeIt) {
    const std::string page = "<!DOCTYPE html>\n<html><body>dx8vb.dll: download</body></html>\n";
    const Bytes library = Library(platform::kMachineI386);
    Bytes lineEnds = library;
    lineEnds.insert(lineEnds.begin() + 0x40, '\r');  // a line end rewritten in the DOS stub
    const struct {
        const char* what;
        Bytes bytes;
        std::uint16_t machine;
        bool expected;
    } cases[] = {
        {"a 32-bit library", library, platform::kMachineI386, true},
        {"a 64-bit library", Library(platform::kMachineAmd64), platform::kMachineAmd64, true},
        {"the other machine's", Library(platform::kMachineAmd64), platform::kMachineI386, false},
        // Of the build's machine's width: only the machine field tells them apart.
        {"a 32-bit ARM library", With(library, 0x44, 0x01C4, 2), platform::kMachineI386, false},
        {"an ARM64 library", With(Library(platform::kMachineAmd64), 0x44, 0xAA64, 2),
         platform::kMachineAmd64, false},
        {"a program", With(library, 0x56, 0x0102, 2), platform::kMachineI386, false},
        {"not an executable image", With(library, 0x56, 0x2100, 2), platform::kMachineI386, false},
        {"a PE32+ header on i386", With(library, 0x58, 0x20B, 2), platform::kMachineI386, false},
        {"a PE32 header on x86-64", With(Library(platform::kMachineAmd64), 0x58, 0x10B, 2),
         platform::kMachineAmd64, false},
        {"a 16-bit library", With(library, 0x40, 0x454E, 2), platform::kMachineI386, false},
        {"a web page", Bytes(page.begin(), page.end()), platform::kMachineI386, false},
        {"no MZ", With(library, 0, 0, 2), platform::kMachineI386, false},
        {"an empty file", {}, platform::kMachineI386, false},
        {"the DOS header cut off", Cut(library, 40), platform::kMachineI386, false},
        {"e_lfanew past the end", With(library, 0x3C, 0x10000, 4), platform::kMachineI386, false},
        {"the PE header moved", lineEnds, platform::kMachineI386, false},
        {"no room for the size of the headers", With(library, 0x54, 8, 2), platform::kMachineI386,
         false},
        {"headers longer than the file", With(library, 0x58 + 60, 0x401, 4), platform::kMachineI386,
         false},
        {"the section cut off", Cut(library, 0x3FF), platform::kMachineI386, false},
        {"the section table cut off", Cut(library, 0x150), platform::kMachineI386, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            platform::IsWindowsLibrary(c.bytes.data(), c.bytes.size(), c.bytes.size(), c.machine),
            c.expected)
            << c.what;
    }
    // Only the headers need be read; the length of the whole file decides about the sections.
    EXPECT_TRUE(platform::IsWindowsLibrary(library.data(), 0x200, 0x400, platform::kMachineI386));
    EXPECT_FALSE(platform::IsWindowsLibrary(library.data(), 0x100, 0x400, platform::kMachineI386));
}

}  // namespace
