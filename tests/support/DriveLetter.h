#pragma once

// A second drive letter for a folder, as subst makes one.
#include <windows.h>

#include <cstdlib>
#include <cwctype>
#include <string>

#include "Staging.h"
#include "WineUnix.h"

namespace testbed {

// A drive letter that maps to folder while the object lives, for this program and those it
// starts afterwards. Windows: DefineDosDeviceW, seen by every process of the logon session.
// Wine 8 accepts DefineDosDeviceW, and QueryDosDeviceW reports the letter in every process, but
// no file opens through it: under Wine the letter is a link in the prefix's dosdevices folder,
// the way winecfg makes one.
class DriveLink {
public:
    DriveLink(wchar_t letter, const std::wstring& folder)
        : device_(std::wstring(1, static_cast<wchar_t>(::towupper(letter))) + L":"),
          folder_(folder) {
        if (Made()) {
            why_ = "drive " + Narrow(device_) + " is taken already";
            ADD_FAILURE() << why_;
            return;
        }
        defined_ = Define();
        if (UnderWine()) {
            WineGapClosed("opens files through a DefineDosDeviceW letter", Made());
            Undefine();
            Link();
        } else if (!defined_) {
            why_ = "DefineDosDeviceW " + Narrow(device_) + ": error " +
                   std::to_string(::GetLastError());
            ADD_FAILURE() << why_;
        }
    }
    ~DriveLink() {
        // A letter left behind would make the next run's case fail far from here.
        if (!Undefine()) ADD_FAILURE() << "drive " << Narrow(device_) << " stays defined";
        if (!link_.empty() && wine::StartUnixProgram("Z:\\bin\\rm -f " + link_))
            WaitUntil("the drive link to go", 5000, [&] { return !Made(); });
    }
    DriveLink(const DriveLink&) = delete;
    DriveLink& operator=(const DriveLink&) = delete;
    const std::string& WhyNot() const { return why_; }
    bool Made() const {
        return ::GetFileAttributesW((device_ + L"\\").c_str()) != INVALID_FILE_ATTRIBUTES;
    }

private:
    bool Define() {
        return ::DefineDosDeviceW(DDD_NO_BROADCAST_SYSTEM, device_.c_str(), folder_.c_str()) !=
               FALSE;
    }
    bool Undefine() {
        if (!defined_) return true;
        defined_ = false;
        return ::DefineDosDeviceW(
                   DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_NO_BROADCAST_SYSTEM,
                   device_.c_str(), folder_.c_str()) &&
               (UnderWine() || !Made());
    }
    void Link() {
        const char* prefix = std::getenv("WINEPREFIX");
        const std::string target = wine::UnixPathOf(folder_);
        if (!prefix || target.empty()) {
            why_ = "no Wine prefix to link drive " + Narrow(device_) + " in";
            ADD_FAILURE() << why_;
            return;
        }
        link_ =
            std::string(prefix) + "/dosdevices/" + static_cast<char>(::towlower(device_[0])) + ":";
        if (wine::StartUnixProgram("Z:\\bin\\ln -s " + target + " " + link_))
            WaitUntil("the drive link " + link_, 5000, [&] { return Made(); });
    }
    std::wstring device_, folder_;
    bool defined_ = false;
    std::string link_, why_;
};

}  // namespace testbed
