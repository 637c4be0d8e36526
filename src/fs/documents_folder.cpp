#include "fs/documents_folder.h"

#include "fs/fs.h"

ByteString MovedFilesIn(const ByteString& folder) { return folder + "MovedFiles" + kPathSeparator; }

ByteString DefaultDestinationFor(const ByteString& programDir, const ByteString& dataFolder) {
    if (dataFolder == programDir) return MovedFilesIn(dataFolder);
    const ByteString documents = UserDocumentsFolder();
    return MovedFilesIn(documents.empty() ? dataFolder : documents);
}
