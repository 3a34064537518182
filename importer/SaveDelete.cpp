// imSaveFile8 and imDeleteFile8: copying, moving and deleting media files
// for the host, through std::filesystem's non-throwing calls.
#include <cerrno>
#include <climits>
#include <filesystem>
#include <string>
#include <system_error>

#include "importer/ImporterSelectors.h"
#include "importer/StringUtils.h"

namespace fs = std::filesystem;

namespace {

bool PathOf(const prUTF16Char* path, std::string* out) {
    char buffer[PATH_MAX];
    if (!ConvertUTF16PathToUTF8(path, buffer, sizeof(buffer)) || buffer[0] == 0)
        return false;
    *out = buffer;
    return true;
}

bool CopyOver(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec;
}

bool MoveOver(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec)
        return true;
    // Another volume: a move is a copy whose source goes afterwards.
    if (ec != std::errc::cross_device_link || !CopyOver(from, to))
        return false;
    return fs::remove(from, ec) && !ec;
}

} // namespace

int32_t ImSaveFile8(imSaveFileRec8* save) {
    if (!save)
        return imSaveErr;
    std::string source;
    std::string destination;
    if (!PathOf(save->sourcePath, &source) || !PathOf(save->destPath, &destination))
        return imSaveErr;
    size_t slash = destination.rfind('/');
    if (slash == std::string::npos || slash + 1 == destination.size())
        return imSaveErr;
    std::string folder = slash == 0 ? std::string("/") : destination.substr(0, slash);
    fs::path target = fs::path(folder) / destination.substr(slash + 1);
    std::error_code ec;
    // The source must be a file and the destination folder must exist, as
    // for references made of both before the copy.
    if (!fs::is_regular_file(source, ec) || !fs::is_directory(folder, ec))
        return imSaveErr;
    bool done = save->move != 0 ? CopyOver(source, target) : MoveOver(source, target);
    return done ? malNoError : imSaveErr;
}

int32_t ImDeleteFile8(imDeleteFileRec* request) {
    if (!request)
        return imDeleteErr;
    std::string path;
    if (!PathOf(request->deleteFilePath, &path))
        return imDeleteErr;
    std::error_code ec;
    // A file that is not there cannot be deleted: that is a failure too.
    return fs::remove(path, ec) && !ec ? malNoError : imDeleteErr;
}
