#pragma once

// A folder in which nobody may add or remove a file.
#include <windows.h>

#include <aclapi.h>

#include <string>

#include "Staging.h"

namespace testbed {

// Takes from everyone, owner and administrators too, the right to add or remove entries in
// folder while the object lives: a deny entry in its access list, which binds them all. Wine's
// server turns the entry into the folder's Unix mode (no write bits), which binds everyone but
// root: as root the case cannot be staged.
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
        if (error) {
            why_ = "the deny entry on " + Narrow(folder_) + ": error " + std::to_string(error);
            ADD_FAILURE() << why_;
            return;
        }
        old_ = old;
        if (CanCreateIn())
            why_ =
                "this user writes into any folder (root, under Wine); the unprivileged run "
                "checks it";
    }
    ~FolderWritesDenied() {
        if (old_)
            ::SetNamedSecurityInfoW(folder_.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, old_, nullptr);
        if (original_) ::LocalFree(original_);
    }
    FolderWritesDenied(const FolderWritesDenied&) = delete;
    FolderWritesDenied& operator=(const FolderWritesDenied&) = delete;
    const std::string& WhyNot() const { return why_; }

private:
    bool CanCreateIn() const {
        const std::wstring probe = folder_ + L"\\probe";
        HANDLE created =
            ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (created == INVALID_HANDLE_VALUE) return false;
        ::CloseHandle(created);
        ::DeleteFileW(probe.c_str());
        return true;
    }
    std::wstring folder_;
    PSECURITY_DESCRIPTOR original_ = nullptr;
    PACL old_ = nullptr;  // the access list before, inside original_; set once the entry is in
    std::string why_;
};

}  // namespace testbed
