// The user's Documents known folder (wherever the user or the administrator
// has moved it).
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "fs/documents_folder.h"
#include "fs/fs.h"
#include "text/text_win32.h"

ByteString UserDocumentsFolder() {
    PWSTR path = nullptr;
    // Not checked for existence: the batch creates the destination's chain.
    const HRESULT found = SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DONT_VERIFY, nullptr, &path);
    std::wstring documents = SUCCEEDED(found) && path ? path : L"";
    CoTaskMemFree(path);
    while (documents.size() > 3 && (documents.back() == L'\\' || documents.back() == L'/')) documents.pop_back();
    ByteString folder;
    if (documents.empty() || !WideToCp932(documents, folder)) return ByteString();
    if (folder.back() != kPathSeparator) folder += kPathSeparator;
    return folder;
}
