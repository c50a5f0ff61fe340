#pragma once

// The Windows error number for the errno of a failed operation on a file (create, open, append,
// write, close); the only place where the two are mapped for files.
int FileErrorFromErrno(int errnoValue);
