// Who owns a file or folder on Windows, and who else may change it.
#include <aclapi.h>

#include <vector>

#include "fs/fs_win32_internal.h"

namespace fs_win32 {

namespace {

std::vector<BYTE> TokenInformation(TOKEN_INFORMATION_CLASS kind) {
    HANDLE token = nullptr;
    std::vector<BYTE> information;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return information;
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    information.resize(size);
    if (size == 0 || !GetTokenInformation(token, kind, information.data(), size, &size)) information.clear();
    CloseHandle(token);
    return information;
}

// The user of this process, and the owner it gives its new files (the
// administrators' group for an elevated administrator).
struct ProcessSids {
    std::vector<BYTE> user = TokenInformation(TokenUser);
    std::vector<BYTE> owner = TokenInformation(TokenOwner);
    PSID User() const { return user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid; }
    PSID Owner() const {
        return owner.empty() ? nullptr : reinterpret_cast<const TOKEN_OWNER*>(owner.data())->Owner;
    }
};

const ProcessSids& Sids() {
    static const ProcessSids sids;
    return sids;
}

bool IsProcessUser(PSID sid) {
    const ProcessSids& sids = Sids();
    return (sids.User() && EqualSid(sid, sids.User())) || (sids.Owner() && EqualSid(sid, sids.Owner()));
}

// Those who may change anything on the machine anyway.
bool IsTrusted(PSID sid) {
    return IsProcessUser(sid) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinCreatorOwnerSid);
}

// Rights that add, change or remove anything in a file or folder, or its
// access list.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                        FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL;

}  // namespace

bool KeepsOwners(HANDLE handle) {
    DWORD flags = 0;
    return GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_PERSISTENT_ACLS);
}

bool OwnedByUserAlone(HANDLE handle) {
    PSID owner = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    // No access list at all lets everyone in.
    bool alone = owner && IsProcessUser(owner) && acl;
    for (DWORD i = 0; alone && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) {
            alone = false;
            break;
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChangingRights) && !IsTrusted(reinterpret_cast<PSID>(&allowed->SidStart)))
            alone = false;
    }
    LocalFree(descriptor);
    return alone;
}

UserOnlySecurity::UserOnlySecurity() {
    const PSID user = Sids().User();
    if (!user) return;
    const DWORD size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user);
    acl_.assign(size, '\0');
    auto* acl = reinterpret_cast<PACL>(acl_.data());
    valid_ = InitializeAcl(acl, size, ACL_REVISION) && AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user) &&
             InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
             SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_ = SECURITY_ATTRIBUTES{sizeof attributes_, &descriptor_, FALSE};
}

}  // namespace fs_win32
