#include "image_bench.h"

#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace bench {

namespace {

constexpr size_t SizeGoal = 64 * 1024;

template <typename T> const T* At(const std::vector<char>& file, size_t offset) {
    return offset + sizeof(T) <= file.size() ? reinterpret_cast<const T*>(file.data() + offset)
                                             : nullptr;
}

// The file offset of an address in the loaded image, through the sections.
size_t OffsetOf(const IMAGE_NT_HEADERS32* headers, DWORD rva) {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
    for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
        if (rva >= section->VirtualAddress &&
            rva < section->VirtualAddress + section->SizeOfRawData) {
            return rva - section->VirtualAddress + section->PointerToRawData;
        }
    }
    return 0;
}

std::string ImportList(const std::vector<char>& file) {
    const auto* dos = At<IMAGE_DOS_HEADER>(file, 0);
    const auto* headers = dos != nullptr ? At<IMAGE_NT_HEADERS32>(file, dos->e_lfanew) : nullptr;
    if (headers == nullptr) {
        return "not an image";
    }
    // The headers' pointer arithmetic needs the headers inside the file.
    const IMAGE_DATA_DIRECTORY& directory =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::string names;
    for (size_t offset = OffsetOf(headers, directory.VirtualAddress); offset != 0;
         offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* import = At<IMAGE_IMPORT_DESCRIPTOR>(file, offset);
        if (import == nullptr || import->Name == 0) {
            break;
        }
        size_t name = OffsetOf(headers, import->Name);
        if (name == 0 || name >= file.size()) {
            break;
        }
        names += (names.empty() ? "" : ", ") +
                 std::string(file.data() + name, strnlen(file.data() + name, file.size() - name));
    }
    return names;
}

} // namespace

std::vector<Row> ImageFacts(const char* path) {
    std::ifstream stream(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(stream)),
                           std::istreambuf_iterator<char>());
    return {{"Size of Dovemarl.dll", std::to_string(file.size()) + " bytes", "-", "<= 65,536 bytes",
             !file.empty() && file.size() <= SizeGoal},
            {"Imports of Dovemarl.dll", ImportList(file), "-", "system DLLs only", true}};
}

} // namespace bench
