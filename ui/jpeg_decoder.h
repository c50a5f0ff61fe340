#pragma once
// Decodes a JPEG held in memory with libjpeg.

#include <QImage>
#include <cstddef>
#include <stdexcept>

// A JPEG that cannot be decoded: not a JPEG, truncated, corrupt or too large.
class EJpegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The picture as 24-bit RGB. Damage that libjpeg would only warn about (a truncated scan, corrupt
// entropy data) is an error too, so a half-grey picture is never passed off as the real one.
// Throws EJpegError.
QImage DecodeJpeg(const unsigned char* data, std::size_t size);
