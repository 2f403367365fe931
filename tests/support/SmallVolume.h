#pragma once

// A small file system, to fill up.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "Staging.h"
#include "WineUnix.h"

namespace testbed {

// A small file system mounted on the empty folder while the object lives. Windows: a 3 MB
// virtual disk with one FAT volume, made and attached by diskpart, which takes an
// administrator. Wine has no diskpart: a 64 KB tmpfs mounted from Linux, which takes root.
class SmallVolume {
public:
    explicit SmallVolume(const std::wstring& folder) : folder_(folder), disk_(folder + L".vhd") {
        if (UnderWine()) {
            WineGapClosed("has diskpart",
                          ::GetFileAttributesW(Diskpart().c_str()) != INVALID_FILE_ATTRIBUTES);
            const std::wstring beside = folder_.substr(0, folder_.rfind(L'\\'));
            mounted_ = wine::RunUnixShell(
                beside, "mount -t tmpfs -o size=64k nimbrel-full " + wine::UnixPathOf(folder_),
                /*mayFail=*/true);
            if (!mounted_)
                why_ = "mounting a small file system here takes root, which this run lacks";
            return;
        }
        if (!Elevated()) {
            why_ = "a small volume takes administrator rights (diskpart), which this run lacks";
            return;
        }
        Detach();  // a run that was killed may have left its disk attached
        std::string said;
        const std::string mount = ForDiskpart(folder_), disk = mount + ".vhd";
        if (!RunDiskpart("create vdisk file=\"" + disk + "\" maximum=3 type=fixed\r\n" +
                             "select vdisk file=\"" + disk + "\"\r\nattach vdisk\r\n" +
                             "create partition primary\r\n" +
                             "format fs=fat quick label=NIMBRELFULL\r\n" + "assign mount=\"" +
                             mount + "\"\r\n",
                         said)) {
            why_ = "diskpart made no small volume here: " + said;
            Detach();
            return;
        }
        attached_ = true;
        mounted_ = WaitUntil("the small volume on " + Narrow(folder_), 10000, [&] {
            const DWORD attributes = ::GetFileAttributesW(folder_.c_str());
            return attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        });
        if (!mounted_) why_ = "diskpart's volume did not show on " + Narrow(folder_);
    }
    ~SmallVolume() {
        if (UnderWine()) {
            if (mounted_)
                wine::RunUnixShell(folder_.substr(0, folder_.rfind(L'\\')),
                                   "umount " + wine::UnixPathOf(folder_));
            return;
        }
        if (attached_) Detach();
    }
    SmallVolume(const SmallVolume&) = delete;
    SmallVolume& operator=(const SmallVolume&) = delete;
    const std::string& WhyNot() const { return why_; }
    // The bytes free on the volume.
    ULONGLONG Free() const {
        ULARGE_INTEGER free{};
        ::GetDiskFreeSpaceExW((folder_ + L"\\").c_str(), &free, nullptr, nullptr);
        return free.QuadPart;
    }

private:
    static bool Elevated() {
        HANDLE token = nullptr;
        TOKEN_ELEVATION elevation{};
        DWORD size = 0;
        const bool known =
            ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) &&
            ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
        if (token) ::CloseHandle(token);
        return known && elevation.TokenIsElevated;
    }
    // A 32-bit program reaches the 64-bit System32, where diskpart is, as Sysnative.
    static std::wstring Diskpart() {
        BOOL wow64 = FALSE;
        ::IsWow64Process(::GetCurrentProcess(), &wow64);
        wchar_t folder[MAX_PATH];
        return wow64 ? std::wstring(folder, ::GetSystemWindowsDirectoryW(folder, MAX_PATH)) +
                           L"\\Sysnative\\diskpart.exe"
                     : std::wstring(folder, ::GetSystemDirectoryW(folder, MAX_PATH)) +
                           L"\\diskpart.exe";
    }
    // A path as a diskpart script names it. diskpart reads its script in the OEM code page, as
    // console programs read text: a path with other than ASCII in it (a %TEMP% under a user
    // name in another script) is given by its short name, which is ASCII where the volume keeps
    // short names, and in that code page where it does not.
    static std::string ForDiskpart(const std::wstring& path) {
        wchar_t shortPath[MAX_PATH];
        const bool ascii =
            std::all_of(path.begin(), path.end(), [](wchar_t c) { return c < 0x80; });
        const DWORD size = ascii ? 0 : ::GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
        const std::wstring named = size && size < MAX_PATH ? std::wstring(shortPath, size) : path;
        std::string oem(named.size() * 2, '\0');
        oem.resize(static_cast<std::size_t>(
            ::WideCharToMultiByte(CP_OEMCP, 0, named.c_str(), static_cast<int>(named.size()),
                                  oem.data(), static_cast<int>(oem.size()), nullptr, nullptr)));
        return oem;
    }
    // Runs diskpart with the script, for up to two minutes; true when it succeeded. said gets
    // the end of what it said.
    bool RunDiskpart(const std::string& script, std::string& said) const {
        const std::wstring scriptFile = folder_ + L".diskpart.txt",
                           log = folder_ + L".diskpart.log";
        WriteBytes(scriptFile, script);
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE output = ::CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_ALWAYS, 0, nullptr);
        std::optional<DWORD> code;
        {
            Process::Options options;
            options.output = output != INVALID_HANDLE_VALUE ? output : nullptr;
            options.flags = CREATE_NO_WINDOW;
            const Process diskpart(Diskpart(),
                                   L"\"" + Diskpart() + L"\" /s \"" + scriptFile + L"\"", options);
            if (diskpart.Started() && !(code = diskpart.WaitForExit("diskpart to end", 120000)))
                diskpart.Terminate(1);
        }
        if (output != INVALID_HANDLE_VALUE) ::CloseHandle(output);
        said = ReadBytes(log);
        if (said.size() > 600) said = said.substr(said.size() - 600);
        ::DeleteFileW(scriptFile.c_str());
        ::DeleteFileW(log.c_str());
        return code == 0u;
    }
    void Detach() const {
        ::DeleteVolumeMountPointW((folder_ + L"\\").c_str());
        if (::GetFileAttributesW(disk_.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        std::string said;
        RunDiskpart("select vdisk file=\"" + ForDiskpart(disk_) + "\"\r\ndetach vdisk\r\n", said);
        ::DeleteFileW(disk_.c_str());
    }
    std::wstring folder_, disk_;
    bool mounted_ = false, attached_ = false;
    std::string why_;
};

}  // namespace testbed
