#pragma once
// What a plug-in's load pulls into the host: the DLLs its image imports, and
// why some of them are a risk when they are loaded with the plug-in, under
// the loader lock, rather than later by the plug-in's own code.
#include <windows.h>

#include <string>
#include <vector>

namespace standin {

// Directory index (IMAGE_DIRECTORY_ENTRY_...) of a loaded image, or null when
// the image has none.
const IMAGE_DATA_DIRECTORY* ImageDirectory(HMODULE module, int index);

// The DLL names in a loaded image's import directory, as written there.
std::vector<std::string> ImportedNames(HMODULE module);

// True when path lies directly in the system folder (or the Windows folder),
// where the loader finds a system DLL before any folder a file could be
// planted in.
bool InSystemFolder(const std::string& path);

// Why loading this DLL with the plug-in is a risk, or empty when it is not
// one of the DLLs known to misbehave when loaded so.
std::string KnownRisk(const std::string& name);

// The reason a DLL from outside the system folder is a risk.
std::string OutsideSystemRisk();

std::string Lowercase(std::string text);
// The file name alone.
std::string BaseName(const std::string& path);

} // namespace standin
