#include "serial/trace_file.h"

#include "runtime/file_error.h"
#include "runtime/posix_io.h"

#include <cerrno>
#include <fcntl.h>

int WriteTraceFile(const std::string& fileName, const std::string& text, bool append) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    FileDescriptor file = OpenRetrying(fileName, flags, 0666);
    if (!file.Valid())
        return -FileErrorFromErrno(errno);
    const int writeError = WriteAll(file.Get(), text);
    const int closeError = file.Close();
    if (writeError != 0)
        return -FileErrorFromErrno(writeError);
    if (closeError != 0)
        return -FileErrorFromErrno(closeError);
    return 0;
}
