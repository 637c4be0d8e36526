// Fuzzes the settings file: whatever a settings file holds, the values it
// loads to are saved and loaded back unchanged, and saving them again writes
// the very same bytes.
//
// Input: the whole content of "Morvandel.sav".  The file lives in one fresh
// folder per process, on /dev/shm where it exists (flushes cost nothing
// there), removed at exit.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fs/fs.h"
#include "fuzz_check.h"
#include "settings/settings_file.h"

namespace {

class FuzzFolder {
public:
    FuzzFolder() {
        std::error_code error;
        const std::string parent = std::filesystem::is_directory("/dev/shm", error)
                                       ? std::string("/dev/shm")
                                       : std::filesystem::temp_directory_path().string();
        std::string pattern = parent + "/tessarbolink-fuzz-XXXXXX";
        FUZZ_REQUIRE(mkdtemp(pattern.data()) != nullptr, "cannot create the settings folder");
        path_ = pattern;
    }
    ~FuzzFolder() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    FuzzFolder(const FuzzFolder&) = delete;
    FuzzFolder& operator=(const FuzzFolder&) = delete;

    // The program folder as LoadSettings and SaveSettings take it (an ASCII
    // path is the same in code page 932).
    ByteString Folder() const { return path_ + "/"; }
    std::string SettingsPath() const { return path_ + "/Morvandel.sav"; }

private:
    std::string path_;
};

const FuzzFolder& Folder() {
    static const FuzzFolder folder;
    return folder;
}

void WriteAll(const std::string& path, const char* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
    FUZZ_REQUIRE(out.good(), "cannot write the settings file");
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    FUZZ_REQUIRE(in.good(), "cannot read the settings file");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SameValues(const DropSettings& a, const DropSettings& b) {
    return a.m_sWhere == b.m_sWhere && a.m_sFileNameFormat == b.m_sFileNameFormat && a.m_nMode == b.m_nMode &&
           a.m_bChangeLog == b.m_bChangeLog && a.m_bErrorLog == b.m_bErrorLog &&
           a.m_bFileDontMove == b.m_bFileDontMove && a.m_nKBytes == b.m_nKBytes &&
           a.m_nDontMoveMode == b.m_nDontMoveMode && a.m_bDeleteDerectory == b.m_bDeleteDerectory;
}

bool IsFlag(int32_t value) { return value == 0 || value == 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FuzzFolder& folder = Folder();
    WriteAll(folder.SettingsPath(), reinterpret_cast<const char*>(data), size);

    const DropSettings loaded = LoadSettings(folder.Folder());
    FUZZ_REQUIRE(IsFlag(loaded.m_bChangeLog) && IsFlag(loaded.m_bErrorLog) && IsFlag(loaded.m_bFileDontMove) &&
                     IsFlag(loaded.m_bDeleteDerectory),
                 "flags load as 0 or 1");
    FUZZ_REQUIRE(loaded.m_sWhere.find_first_of("\r\n") == ByteString::npos &&
                     loaded.m_sFileNameFormat.find_first_of("\r\n") == ByteString::npos,
                 "a loaded text never holds a line end");

    SaveSettings(loaded, folder.Folder());
    const std::string saved = ReadAll(folder.SettingsPath());
    const DropSettings reloaded = LoadSettings(folder.Folder());
    FUZZ_REQUIRE(SameValues(loaded, reloaded), "load, save, load gives the same values");

    SaveSettings(reloaded, folder.Folder());
    FUZZ_REQUIRE(ReadAll(folder.SettingsPath()) == saved, "saving the same values writes the same bytes");
    return 0;
}
