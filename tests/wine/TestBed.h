#pragma once

// Where the Windows suites meet the machine they run on: the files of the build under test,
// whether a desktop takes their windows, and what some cases stage (a second drive letter, a
// folder that may not be written, a small full drive). Each takes the Windows way, and under
// Wine the same way where Wine has it; where Wine lacks it, the Wine way is here and nowhere
// else (through WineUnix.h).
#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <string>

#include "WineUnix.h"

namespace testbed {

// In UTF-8, or in another code page.
inline std::string Narrow(const std::wstring& text, UINT codePage = CP_UTF8) {
    const int size = ::WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                          size, nullptr, nullptr);
    return out;
}

inline std::wstring Widen(const std::string& utf8) {
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), out.data(),
                          size);
    return out;
}

// True under Wine, which alone can name the Linux path of a Windows one.
inline bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name") !=
           nullptr;
}

// A file of the build under test: the path the environment variable names, if set, else the
// one compiled in. The compiled-in paths are the build machine's Linux paths, reached under
// Wine through drive Z:; on Windows the test script sets the variables to the files there.
inline std::wstring TreeFile(const wchar_t* variable, const char* compiledIn) {
    const wchar_t* chosen = ::_wgetenv(variable);
    std::wstring path = chosen && *chosen ? std::wstring(chosen) : Widen(compiledIn);
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// Why windows of this program would show to nobody, or "" when they show on an interactive
// desktop: a job run as a service (session 0) has a window station that takes no input.
inline std::string NoDesktop() {
    USEROBJECTFLAGS flags{};
    if (::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                    nullptr) &&
        !(flags.dwFlags & WSF_VISIBLE)) {
        DWORD session = 0;
        ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
        return "no interactive desktop: the window station of session " + std::to_string(session) +
               " is not visible, so windows show to nobody and take no input";
    }
    return {};
}

// A window of this program, brought to the foreground for the case that makes it and kept there
// until that case ends: while the foreground is this program's, the programs it starts may take
// it too. WhyNot() is "" when it holds the foreground, else why not. Where the foreground lock
// refuses, it tries once more after an empty mouse event, since the program that sent the last
// input may take the foreground. Made afresh by each case that needs it: another program's input
// takes the foreground right away again.
class ForegroundWindow {
public:
    ForegroundWindow() : why_(NoDesktop()) {
        if (!why_.empty()) return;
        window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"Nimbrel foreground probe",
                                    WS_POPUP | WS_VISIBLE, 0, 0, 40, 40, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
        if (!window_) {
            why_ = "no window can be made here: error " + std::to_string(::GetLastError());
            return;
        }
        const auto forward = [&] {  // up to a second: no failure of its own when it runs out
            ::SetForegroundWindow(window_);
            for (int tries = 0; tries < 100 && ::GetForegroundWindow() != window_; ++tries)
                ::Sleep(10);
            return ::GetForegroundWindow() == window_;
        };
        if (forward()) return;
        INPUT nothing{};
        nothing.type = INPUT_MOUSE;
        nothing.mi.dwFlags = MOUSEEVENTF_MOVE;
        ::SendInput(1, &nothing, sizeof nothing);
        if (forward()) return;
        wchar_t title[128] = {};
        HWND holder = ::GetForegroundWindow();
        if (holder) ::GetWindowTextW(holder, title, 128);
        why_ = "no window of this program can take the foreground here: it stays with " +
               (holder ? "\"" + Narrow(title) + "\"" : std::string("no window"));
    }
    ~ForegroundWindow() {
        if (window_) ::DestroyWindow(window_);
    }
    ForegroundWindow(const ForegroundWindow&) = delete;
    ForegroundWindow& operator=(const ForegroundWindow&) = delete;
    const std::string& WhyNot() const { return why_; }

private:
    std::string why_;
    HWND window_ = nullptr;
};

// A drive letter that maps to folder while the object lives, for this program and those it
// starts afterwards; Made() says whether it does. Windows: DefineDosDeviceW, as subst makes one,
// seen by every process of the logon session. Wine 8 accepts DefineDosDeviceW, and
// QueryDosDeviceW reports the letter in every process, but no file opens through it: under Wine
// the letter is a link in the prefix's dosdevices folder, the way winecfg makes one.
class DriveLink {
public:
    DriveLink(wchar_t letter, const std::wstring& folder)
        : device_(std::wstring(1, static_cast<wchar_t>(::towupper(letter))) + L":"),
          folder_(folder) {
        if (Made()) {
            ADD_FAILURE() << "drive " << Narrow(device_) << " is taken already";
            return;
        }
        if (!UnderWine()) {
            defined_ = ::DefineDosDeviceW(DDD_NO_BROADCAST_SYSTEM, device_.c_str(),
                                          folder_.c_str()) != FALSE;
            if (!defined_)
                ADD_FAILURE() << "DefineDosDeviceW " << Narrow(device_) << ": error "
                              << ::GetLastError();
            return;
        }
        const char* prefix = std::getenv("WINEPREFIX");
        const std::string target = wine::UnixPathOf(folder_);
        if (!prefix || target.empty()) {
            ADD_FAILURE() << "no Wine prefix to link drive " << Narrow(device_) << " in";
            return;
        }
        link_ =
            std::string(prefix) + "/dosdevices/" + static_cast<char>(::towlower(device_[0])) + ":";
        if (wine::StartUnixProgram("Z:\\bin\\ln -s " + target + " " + link_))
            wine::WaitUntil("the drive link " + link_, 5000, [&] { return Made(); });
    }
    ~DriveLink() {
        // A letter left behind would make the next run's case fail far from here.
        if (defined_ && (!::DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE |
                                                 DDD_NO_BROADCAST_SYSTEM,
                                             device_.c_str(), folder_.c_str()) ||
                         Made()))
            ADD_FAILURE() << "drive " << Narrow(device_) << " stays defined: error "
                          << ::GetLastError();
        if (!link_.empty() && wine::StartUnixProgram("Z:\\bin\\rm -f " + link_))
            wine::WaitUntil("the drive link to go", 5000, [&] { return !Made(); });
    }
    DriveLink(const DriveLink&) = delete;
    DriveLink& operator=(const DriveLink&) = delete;
    bool Made() const {
        return ::GetFileAttributesW((device_ + L"\\").c_str()) != INVALID_FILE_ATTRIBUTES;
    }

private:
    std::wstring device_, folder_;
    bool defined_ = false;
    std::string link_;
};

// Takes from everyone, owner and administrators too, the right to add or remove entries in
// folder while the object lives: a deny entry in its access list, which binds them all. Wine
// keeps the entry but checks no file access against it: there the folder's Unix mode loses
// its write bits as well (which root ignores).
class FolderWritesDenied {
public:
    explicit FolderWritesDenied(const std::wstring& folder) : folder_(folder) {
        PACL old = nullptr;
        DWORD error =
            ::GetNamedSecurityInfoW(folder_.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &old, nullptr, &original_);
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        if (!error && !::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0,
                                                  0, &everyone))
            error = ::GetLastError();
        EXPLICIT_ACCESSW deny{};
        deny.grfAccessPermissions = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD;
        deny.grfAccessMode = DENY_ACCESS;
        deny.grfInheritance = NO_INHERITANCE;
        deny.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        deny.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        deny.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
        PACL denied = nullptr;
        if (!error) error = ::SetEntriesInAclW(1, &deny, old, &denied);
        if (!error)
            error =
                ::SetNamedSecurityInfoW(folder_.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, denied, nullptr);
        if (denied) ::LocalFree(denied);
        if (everyone) ::FreeSid(everyone);
        EXPECT_EQ(error, 0u) << "the deny entry on " << Narrow(folder_);
        if (!error) old_ = old;
        if (UnderWine()) UnixMode("a-w");
    }
    ~FolderWritesDenied() {
        if (UnderWine()) UnixMode("u+w");
        if (old_)
            ::SetNamedSecurityInfoW(folder_.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, old_, nullptr);
        if (original_) ::LocalFree(original_);
    }
    FolderWritesDenied(const FolderWritesDenied&) = delete;
    FolderWritesDenied& operator=(const FolderWritesDenied&) = delete;

private:
    void UnixMode(const char* mode) {
        EXPECT_TRUE(wine::RunUnixShell(
            folder_, std::string("chmod ") + mode + " " + wine::UnixPathOf(folder_)))
            << "chmod " << mode << " did not run";
    }
    std::wstring folder_;
    PSECURITY_DESCRIPTOR original_ = nullptr;
    PACL old_ = nullptr;  // the access list before, inside original_; set once the entry is in
};

// A path as a diskpart script names it. diskpart reads its script in the OEM code page, as
// console programs read text: a path with other than ASCII in it (a %TEMP% under a user name in
// another script) is given by its short name, which is ASCII where the volume keeps short
// names, and in that code page where it does not.
inline std::string ForDiskpart(const std::wstring& path) {
    wchar_t shortPath[MAX_PATH];
    const bool ascii = std::all_of(path.begin(), path.end(), [](wchar_t c) { return c < 0x80; });
    const DWORD size = ascii ? 0 : ::GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    return Narrow(size && size < MAX_PATH ? std::wstring(shortPath, size) : path, CP_OEMCP);
}

// Runs diskpart with the script (OEM code page lines) as an administrator may, for up to two
// minutes; true when it succeeded. output gets the end of what it said.
inline bool RunDiskpart(const std::wstring& scratch, const std::string& script,
                        std::string& output) {
    const std::wstring scriptFile = scratch + L".diskpart.txt", log = scratch + L".diskpart.log";
    if (FILE* out = ::_wfopen(scriptFile.c_str(), L"wb")) {
        std::fwrite(script.data(), 1, script.size(), out);
        std::fclose(out);
    }
    // A 32-bit program reaches the 64-bit System32, where diskpart is, as Sysnative.
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    wchar_t folder[MAX_PATH];
    std::wstring diskpart =
        wow64 ? std::wstring(folder, ::GetSystemWindowsDirectoryW(folder, MAX_PATH)) +
                    L"\\Sysnative\\diskpart.exe"
              : std::wstring(folder, ::GetSystemDirectoryW(folder, MAX_PATH)) + L"\\diskpart.exe";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE said = ::CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = said;
    std::wstring line = L"\"" + diskpart + L"\" /s \"" + scriptFile + L"\"";
    PROCESS_INFORMATION started{};
    bool ok = false;
    if (!::CreateProcessW(diskpart.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &started)) {
        output = "diskpart does not start: error " + std::to_string(::GetLastError());
    } else if (::WaitForSingleObject(started.hProcess, 120000) != WAIT_OBJECT_0) {
        ::TerminateProcess(started.hProcess, 1);
        output = "diskpart did not finish within 120 s";
    } else {
        DWORD code = 1;
        ::GetExitCodeProcess(started.hProcess, &code);
        ok = code == 0;
    }
    if (started.hProcess) {
        ::CloseHandle(started.hThread);
        ::CloseHandle(started.hProcess);
    }
    if (said != INVALID_HANDLE_VALUE) ::CloseHandle(said);
    if (output.empty()) {
        if (FILE* in = ::_wfopen(log.c_str(), L"rb")) {
            char buffer[4096];
            output.assign(buffer, std::fread(buffer, 1, sizeof buffer, in));
            std::fclose(in);
        }
        if (output.size() > 600) output = output.substr(output.size() - 600);
    }
    ::DeleteFileW(scriptFile.c_str());
    ::DeleteFileW(log.c_str());
    return ok;
}

// A small file system mounted on the empty folder while the object lives; WhyNot() is "" when
// it is, else why not. Windows: a 3 MB virtual disk with one FAT volume, made and attached by
// diskpart, which takes an administrator. Wine has no diskpart: a 64 KB tmpfs mounted from
// Linux, which takes root.
class SmallVolume {
public:
    explicit SmallVolume(const std::wstring& folder) : folder_(folder), disk_(folder + L".vhd") {
        if (UnderWine()) {
            const std::wstring beside = folder_.substr(0, folder_.rfind(L'\\'));
            if (wine::RunUnixShell(
                    beside, "mount -t tmpfs -o size=64k nimbrel-full " + wine::UnixPathOf(folder_),
                    /*mayFail=*/true))
                mounted_ = true;
            else
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
        if (!RunDiskpart(folder_,
                         "create vdisk file=\"" + disk + "\" maximum=3 type=fixed\r\n" +
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
        mounted_ = wine::WaitUntil("the small volume on " + Narrow(folder_), 10000, [&] {
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
    void Detach() {
        ::DeleteVolumeMountPointW((folder_ + L"\\").c_str());
        if (::GetFileAttributesW(disk_.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        std::string said;
        RunDiskpart(folder_, "select vdisk file=\"" + ForDiskpart(disk_) + "\"\r\ndetach vdisk\r\n",
                    said);
        ::DeleteFileW(disk_.c_str());
    }
    std::wstring folder_, disk_;
    bool mounted_ = false, attached_ = false;
    std::string why_;
};

}  // namespace testbed

// Skips the case, naming why, where this program's windows show to nobody.
#define NIMBREL_SKIP_WITHOUT_DESKTOP()                                  \
    if (const std::string why = ::testbed::NoDesktop(); !why.empty()) { \
        GTEST_SKIP() << why;                                            \
    }
// Skips the case, naming why, where no window of this program can take the foreground; else
// the case holds it through a window of its own until it ends.
#define NIMBREL_SKIP_WITHOUT_FOREGROUND()                \
    const ::testbed::ForegroundWindow nimbrelForeground; \
    if (!nimbrelForeground.WhyNot().empty()) {           \
        GTEST_SKIP() << nimbrelForeground.WhyNot();      \
    }
