#include <cstring>

#include "resources/Resources.h"

namespace talrec::resources {
namespace {

constexpr VersionEntry kEntries[] = {
    {"CompanyName", "talrec"},
    {"FileDescription", "TalRecorderForDvRecUp"},
    {"FileVersion", "2, 0, 0, 3"},
    {"InternalName", "TalRecorderForDvRecUp.ocx"},
    {"LegalCopyright", "Copyright (C) talrec developers"},
    {"OriginalFilename", "TalRecorderForDvRecUp.ocx"},
    {"ProductName", "TalRecorderForDvRecUp"},
    {"ProductVersion", "2, 0, 0, 3"},
};

constexpr DWORD kFileOsWindows32 = 0x00000004;  // VOS__WINDOWS32
constexpr DWORD kFileTypeDll = 0x00000002;      // VFT_DLL

constexpr VersionRecord kVersion = {
    {2, 0, 0, 3}, {2, 0, 0, 3}, kFileOsWindows32, kFileTypeDll,
    0x0409,       1252,         kEntries,         sizeof kEntries / sizeof kEntries[0],
};

}  // namespace

const VersionRecord& Version() {
    return kVersion;
}

const char* VersionString(std::string_view name) {
    for (const VersionEntry& entry : kEntries) {
        if (name == entry.name) return entry.value;
    }
    return nullptr;
}

}  // namespace talrec::resources
