// Reads the DOS, PE and section headers of a Windows library, after Microsoft's PE format page.
#include "platform/LibraryImage.h"

namespace platform {

namespace {

// Offsets in the headers; every number in them is little-endian.
constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kNewHeaderOffsetAt = 0x3C;  // e_lfanew
constexpr std::size_t kFileHeaderSize = 20;       // after the 4-byte "PE\0\0"
constexpr std::size_t kSizeOfHeadersAt = 60;      // in both PE32 and PE32+ optional headers
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kSectionRawSizeAt = 16;  // SizeOfRawData, then PointerToRawData
constexpr std::uint16_t kFileIsDll = 0x2000;   // IMAGE_FILE_DLL
// "Indicates that the image file is valid and can be run"; its absence marks a linker error.
constexpr std::uint16_t kFileIsExecutableImage = 0x0002;  // IMAGE_FILE_EXECUTABLE_IMAGE
// The optional header's Magic: PE32 for 32-bit machines, PE32+ for 64-bit ones.
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;

class Reader {
public:
    Reader(const unsigned char* bytes, std::size_t length) : bytes_(bytes), length_(length) {}
    // Whether count bytes from at lie within what was read; at may be any file offset.
    bool Holds(std::uint64_t at, std::uint64_t count) const {
        return at <= length_ && count <= length_ - at;
    }
    std::uint32_t Number(std::size_t at, std::size_t size) const {
        std::uint32_t value = 0;
        for (std::size_t i = size; i-- > 0;) {
            value = value << 8 | bytes_[at + i];
        }
        return value;
    }

private:
    const unsigned char* bytes_;
    std::size_t length_;
};

}  // namespace

bool IsWindowsLibrary(const unsigned char* start, std::size_t length, std::uint64_t fileSize,
                      std::uint16_t machine) {
    const Reader file(start, length);
    if (!file.Holds(0, kDosHeaderSize) || file.Number(0, 2) != 0x5A4D) {  // "MZ"
        return false;
    }
    const std::size_t peHeader = file.Number(kNewHeaderOffsetAt, 4);
    if (!file.Holds(peHeader, 4 + kFileHeaderSize) || file.Number(peHeader, 4) != 0x4550) {
        return false;  // no "PE\0\0" where the DOS header points
    }
    const std::size_t fileHeader = peHeader + 4;
    const std::uint32_t sections = file.Number(fileHeader + 2, 2);
    const std::uint32_t optionalHeaderSize = file.Number(fileHeader + 16, 2);
    const std::uint32_t flags = kFileIsDll | kFileIsExecutableImage;
    if (file.Number(fileHeader, 2) != machine ||
        (file.Number(fileHeader + 18, 2) & flags) != flags) {
        return false;
    }
    // Windows' loader refuses an optional header of the other width for the machine.
    const std::size_t optionalHeader = fileHeader + kFileHeaderSize;
    const std::size_t sectionTable = optionalHeader + optionalHeaderSize;
    const std::uint16_t magic = machine == kMachineAmd64 ? kPe32PlusMagic : kPe32Magic;
    if (optionalHeaderSize < kSizeOfHeadersAt + 4 ||
        !file.Holds(sectionTable, std::uint64_t{sections} * kSectionHeaderSize) ||
        file.Number(optionalHeader, 2) != magic ||
        file.Number(optionalHeader + kSizeOfHeadersAt, 4) > fileSize) {
        return false;
    }
    // A download cut short ends before the data its sections say they hold.
    for (std::size_t section = 0; section < sections; ++section) {
        const std::size_t header = sectionTable + section * kSectionHeaderSize;
        const std::uint64_t rawSize = file.Number(header + kSectionRawSizeAt, 4);
        const std::uint64_t rawStart = file.Number(header + kSectionRawSizeAt + 4, 4);
        if (rawSize != 0 && rawStart + rawSize > fileSize) {
            return false;
        }
    }
    return true;
}

}  // namespace platform
