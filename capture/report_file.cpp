#include "capture/report_file.h"

#include "capture/in_out_error.h"
#include "runtime/posix_io.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace {

// After a write failed part-way, takes the partial line back out so that the next report line
// does not run on from it. Only our own bytes go: if the file no longer ends where they do
// (another writer appended meanwhile), it is left alone. An append leaves the file's offset at
// the end of what it wrote, so that is asked only on a failure: an append that works costs no
// call for it.
void RemovePartialLine(int fd, std::size_t written) {
    struct stat st {};
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end < static_cast<off_t>(written) || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return;
    if (st.st_size == end)
        (void)::ftruncate(fd, end - static_cast<off_t>(written));
}

// Writes all of data at the file's end. Returns 0 or the errno of the failure.
int AppendAll(int fd, const std::string& data) {
    std::size_t done = 0;
    const int error = WriteAll(fd, data, &done);
    if (error != 0 && done > 0)
        RemovePartialLine(fd, done);
    return error;
}

} // namespace

void AppendReportLine(const std::string& fileName, const std::string& text) {
    if (fileName.find('\0') != std::string::npos)
        throw InOutErrorFromErrno(ENOENT);
    // O_NONBLOCK: a name that turns out to be a FIFO without a reader fails instead of hanging.
    FileDescriptor file = OpenRetrying(
        fileName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (!file.Valid())
        throw InOutErrorFromErrno(errno);

    const int writeError = AppendAll(file.Get(), text + "\r\n");
    const int closeError = file.Close();
    if (writeError != 0)
        throw InOutErrorFromErrno(writeError);
    if (closeError != 0 && closeError != EINTR)
        throw InOutErrorFromErrno(closeError);
}

namespace {

std::string UserName() {
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return "uid " + std::to_string(::geteuid());
}

// What stops the file, or a file in the folder, from being written; empty when nothing plain.
std::string WriteTrouble(const std::filesystem::path& path, bool folder) {
    struct statvfs disk {};
    if (::statvfs(path.c_str(), &disk) == 0 && (disk.f_flag & ST_RDONLY) != 0)
        return folder ? "the disk of its folder is read-only" : "its disk is read-only";
    if (::access(path.c_str(), W_OK) != 0 && errno == EACCES)
        return "the user " + UserName() + " may not write " + (folder ? "in its folder" : "it");
    return {};
}

} // namespace

std::string ReportFileTrouble(const std::string& fileName) {
    if (fileName.empty() || fileName.find('\0') != std::string::npos)
        return {};
    std::error_code ignored;
    const std::filesystem::path file = std::filesystem::absolute(fileName, ignored);
    if (file.empty())
        return {};
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return "it is a folder";
        if (!S_ISREG(st.st_mode))
            return "it is not a plain file";
        return WriteTrouble(file, false);
    }
    // Only a path that is missing for sure is named so: not one this user may not look into.
    const auto missingForSure = [] { return errno == ENOENT || errno == ENOTDIR; };
    if (!missingForSure())
        return {};
    std::filesystem::path missing = file.parent_path();
    if (::stat(missing.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? WriteTrouble(missing, true)
                                   : missing.string() + " is a file, not a folder";
    if (!missingForSure())
        return {};
    // The missing folder nearest the root says what to make again.
    for (std::filesystem::path up = missing.parent_path(); up != missing;
         missing = up, up = up.parent_path()) {
        if (::stat(up.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return up.string() + " is a file, not a folder";
            break;
        }
        if (!missingForSure())
            return {};
    }
    return "the folder " + missing.string() + " is not there";
}
