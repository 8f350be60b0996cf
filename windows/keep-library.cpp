// Run by the installers, never installed: a velorun.dll that a lab put in the
// panel's folder itself is the lab's file, and no install, upgrade, repair or
// removal of ours replaces or deletes it. Each of them sets such a library
// aside before it writes or removes anything in the folder, and puts it back
// when it is done. Our stand-in is told apart by its version resource, which
// every stand-in we have shipped carries and no treadmill maker's library
// does: the older versions' uninstallers delete velorun.dll whatever it is, so
// the rule cannot rest on anything they recorded.
//
// The NSIS installer and uninstaller call setAside and putBack with the
// folder; the MSI runs SetLibraryAside (immediate, before the older version
// is removed) and PutLibraryBack (deferred, after the files are installed,
// with the folder as its CustomActionData).
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cwchar>

namespace {

constexpr wchar_t library[] = L"velorun.dll";
// In the same folder: the older versions' uninstallers remove their own files
// one by one and the folder only when it is empty, so a file of another name
// outlives them.
constexpr wchar_t keptAside[] = L"velorun.dll.lab";

// FOLDER\NAME, whether or not FOLDER ends in a backslash (an MSI's folder
// properties do, NSIS's do not); false when it does not fit.
bool inFolder(const wchar_t* folder, const wchar_t* name, wchar_t (&path)[MAX_PATH])
{
    const size_t length = wcslen(folder);
    const wchar_t* separator = length > 0 && folder[length - 1] == L'\\' ? L"" : L"\\";
    const int written = swprintf(path, MAX_PATH, L"%ls%ls%ls", folder, separator, name);
    return length > 0 && written > 0 && written < MAX_PATH;
}

bool exists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool versionValueIs(void* info, const wchar_t* name, const wchar_t* expected)
{
    wchar_t key[64];
    swprintf(key, 64, L"\\StringFileInfo\\040904B0\\%ls", name);
    void* value = nullptr;
    UINT length = 0;
    return VerQueryValueW(info, key, &value, &length) && length > 0
        && wcscmp(static_cast<const wchar_t*>(value), expected) == 0;
}

bool isStandIn(const wchar_t* path)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return false;
    void* info = HeapAlloc(GetProcessHeap(), 0, size);
    const bool standIn = info && GetFileVersionInfoW(path, 0, size, info)
        && versionValueIs(info, L"CompanyName", L"" AMBULON_VENDOR)
        && versionValueIs(info, L"FileDescription", L"" AMBULON_STAND_IN);
    HeapFree(GetProcessHeap(), 0, info);
    return standIn;
}

// An MSI property's value; empty when unset or unreadable.
bool property(MSIHANDLE install, const wchar_t* name, wchar_t (&value)[MAX_PATH])
{
    DWORD size = MAX_PATH;
    return MsiGetPropertyW(install, name, value, &size) == ERROR_SUCCESS && size > 0;
}

} // namespace

// Moves a library that is not our stand-in to velorun.dll.lab. One set aside
// by an earlier run that stopped halfway stays there until putBack.
extern "C" __declspec(dllexport) BOOL setAside(const wchar_t* folder)
{
    wchar_t path[MAX_PATH];
    wchar_t kept[MAX_PATH];
    if (!inFolder(folder, library, path) || !inFolder(folder, keptAside, kept))
        return FALSE;
    if (!exists(path) || isStandIn(path))
        return TRUE;
    return MoveFileExW(path, kept, MOVEFILE_REPLACE_EXISTING);
}

// Puts a library set aside back in its place, over whatever was installed there.
extern "C" __declspec(dllexport) BOOL putBack(const wchar_t* folder)
{
    wchar_t path[MAX_PATH];
    wchar_t kept[MAX_PATH];
    if (!inFolder(folder, library, path) || !inFolder(folder, keptAside, kept))
        return FALSE;
    if (!exists(kept))
        return TRUE;
    return MoveFileExW(kept, path, MOVEFILE_REPLACE_EXISTING);
}

extern "C" __declspec(dllexport) UINT __stdcall SetLibraryAside(MSIHANDLE install)
{
    wchar_t folder[MAX_PATH];
    return property(install, L"INSTALLDIR", folder) && setAside(folder) ? ERROR_SUCCESS
                                                                        : ERROR_INSTALL_FAILURE;
}

extern "C" __declspec(dllexport) UINT __stdcall PutLibraryBack(MSIHANDLE install)
{
    wchar_t folder[MAX_PATH];
    return property(install, L"CustomActionData", folder) && putBack(folder)
        ? ERROR_SUCCESS
        : ERROR_INSTALL_FAILURE;
}
