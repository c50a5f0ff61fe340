#include "capture/report_file.h"

#include "capture/in_out_error.h"
#include "runtime/posix_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// After a write failed part-way, takes the partial line back out so that the next report line
// does not run on from it. Only our own bytes go: if the file is no longer exactly what we left
// (another writer appended meanwhile), it is left alone.
void RemovePartialLine(int fd, off_t start, std::size_t written) {
    struct stat st {};
    if (start < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return;
    if (st.st_size == start + static_cast<off_t>(written))
        (void)::ftruncate(fd, start);
}

// Writes all of data at the file's end. Returns 0 or the errno of the failure.
int AppendAll(int fd, const std::string& data) {
    const off_t start = ::lseek(fd, 0, SEEK_END);
    std::size_t done = 0;
    const int error = WriteAll(fd, data, &done);
    if (error != 0 && done > 0)
        RemovePartialLine(fd, start, done);
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
