#pragma once
// Windows tests: a folder given an access list of its own, written in the
// system's notation (Wine keeps what it can of it as the folder's mode).
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>

namespace testing_support {

// False when the list cannot be read or set.
inline bool SetFolderAccessList(const std::wstring& folder, const wchar_t* list) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(list, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
    std::wstring native = folder;
    const DWORD result =
        SetNamedSecurityInfoW(native.data(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              acl, nullptr);
    LocalFree(descriptor);
    return result == ERROR_SUCCESS;
}

}  // namespace testing_support
