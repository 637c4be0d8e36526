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

std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE kind) {
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    if (!CreateWellKnownSid(kind, nullptr, sid.data(), &size)) return {};
    sid.resize(size);
    return sid;
}

// The user of this process, and the owner it gives its new files (the
// administrators' group for an elevated administrator).  Read once, by
// whichever thread asks first.
struct ProcessSids {
    std::vector<BYTE> user = TokenInformation(TokenUser);
    std::vector<BYTE> owner = TokenInformation(TokenOwner);
    std::vector<BYTE> system = WellKnownSid(WinLocalSystemSid);
    std::vector<BYTE> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
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

// Those who may change anything on the machine anyway, and the stand-ins
// for the owner (who must be the user for anything to pass).
bool IsTrusted(PSID sid) {
    return IsProcessUser(sid) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinCreatorOwnerSid) ||
           IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
}

// Rights that add, change or remove anything in a file or folder, or its
// access list.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                        FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL;

// Whether an entry of an access list lets someone else than the trusted
// change something.  Object entries (made for directory services) name their
// trustee after fields of their own: any that allows a change counts.
bool LetsOthersChange(const ACE_HEADER* header) {
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        return (allowed->Mask & kChangingRights) &&
               !IsTrusted(const_cast<PSID>(static_cast<const void*>(&allowed->SidStart)));
    }
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        return (reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(header)->Mask & kChangingRights) != 0;
    default: return false;  // entries that deny, and those of the system's own lists
    }
}

// Which entries of an access list count.
enum class Entries {
    Effective,          // those that apply to the file or folder itself
    EffectiveAndPassed,  // and those it passes on to what is created in it
    Passed,             // only those it passes on to what is created in it
};

// Whether some entry of the access list that counts lets others change
// something; a missing list (everyone may do everything) does.
bool OthersMayChange(const ACL* acl, Entries entries) {
    if (!acl) return true;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(const_cast<ACL*>(acl), i, &ace)) return true;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        const bool passed = (header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) != 0;
        const bool effective = (header->AceFlags & INHERIT_ONLY_ACE) == 0;
        const bool counts = entries == Entries::Passed      ? passed
                            : entries == Entries::Effective ? effective
                                                            : effective || passed;
        if (counts && LetsOthersChange(header)) return true;
    }
    return false;
}

}  // namespace

bool KeepsOwners(HANDLE handle) {
    DWORD flags = 0;
    return GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_PERSISTENT_ACLS);
}

Holding HoldingOf(HANDLE handle, bool withWhatItPassesOn) {
    PSID owner = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS)
        return Holding::OtherOwner;  // not even its access list may be read
    const Holding holding =
        !owner || !IsProcessUser(owner) ? Holding::OtherOwner
        : OthersMayChange(acl, withWhatItPassesOn ? Entries::EffectiveAndPassed : Entries::Effective)
            ? Holding::OthersMayChange
            : Holding::UserAlone;
    LocalFree(descriptor);
    return holding;
}

bool OwnedByUserAlone(HANDLE handle) { return HoldingOf(handle, false) == Holding::UserAlone; }

bool CreateFolderOfUsersOwn(const std::wstring& native) {
    // What a new folder gets from the one above it: that folder's entries
    // passed on to folders, and to the files created in it later.
    const size_t slash = native.find_last_of(L"\\/");
    bool inherits = false;
    if (slash != std::wstring::npos && slash > 0) {
        const std::wstring above = native.substr(0, native[slash - 1] == L':' ? slash + 1 : slash);
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        const Handle parent(CreateFileW(above.c_str(), READ_CONTROL, share, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        PACL acl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (parent.valid() && KeepsOwners(parent.get()) &&
            GetSecurityInfo(parent.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                            &descriptor) == ERROR_SUCCESS) {
            // A folder without an access list passes nothing on: the new one
            // gets the user's default list.
            inherits = !acl || !OthersMayChange(acl, Entries::Passed);
            LocalFree(descriptor);
        }
    }
    if (inherits) return CreateDirectoryW(native.c_str(), nullptr) != 0;
    UserOnlySecurity security(UserOnlySecurity::Kind::Folder);
    return CreateDirectoryW(native.c_str(), security.Attributes()) != 0;
}

UserOnlySecurity::UserOnlySecurity(Kind kind) {
    const ProcessSids& sids = Sids();
    std::vector<PSID> trustees{sids.User()};
    if (kind == Kind::Folder) {
        trustees.push_back(sids.system.empty() ? nullptr : const_cast<BYTE*>(sids.system.data()));
        trustees.push_back(sids.administrators.empty() ? nullptr : const_cast<BYTE*>(sids.administrators.data()));
    }
    DWORD size = sizeof(ACL);
    for (const PSID sid : trustees) {
        if (!sid) return;
        size += sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
    }
    acl_.assign(size, '\0');
    auto* acl = reinterpret_cast<PACL>(acl_.data());
    // A folder passes the same list on to everything created in it.
    const DWORD passed = kind == Kind::Folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
    valid_ = InitializeAcl(acl, size, ACL_REVISION);
    for (const PSID sid : trustees)
        valid_ = valid_ && AddAccessAllowedAceEx(acl, ACL_REVISION, passed, FILE_ALL_ACCESS, sid);
    valid_ = valid_ && InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
             SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_ = SECURITY_ATTRIBUTES{sizeof attributes_, &descriptor_, FALSE};
}

}  // namespace fs_win32
