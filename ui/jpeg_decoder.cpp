#include "ui/jpeg_decoder.h"

#include <csetjmp>
#include <cstdio>
// libjpeg needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <string>

namespace {

// Larger pictures are refused before any memory is set aside for them.
constexpr unsigned long long MaxPixels = 64ULL * 1024 * 1024;

// libjpeg calls back through Public; the rest is ours. Its default error handler would end the
// process, so errors jump back into Decompress instead.
struct ErrorManager {
    jpeg_error_mgr Public;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void FailDecoding(j_common_ptr info) {
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->Message);
    std::longjmp(errors->Jump, 1);
}

// Level -1 is a warning about damaged data; trace messages (0 and up) are ignored.
void OnMessage(j_common_ptr info, int level) {
    if (level < 0)
        FailDecoding(info);
}

// No object with a destructor lives in this frame between setjmp and a jump back to it.
bool Decompress(const unsigned char* data, std::size_t size, QImage& image, ErrorManager& errors) {
    jpeg_decompress_struct info;
    info.err = jpeg_std_error(&errors.Public);
    errors.Public.error_exit = FailDecoding;
    errors.Public.emit_message = OnMessage;
    if (setjmp(errors.Jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (static_cast<unsigned long long>(info.image_width) * info.image_height > MaxPixels) {
        std::snprintf(errors.Message, sizeof errors.Message, "%ux%u pixels is too large",
                      static_cast<unsigned>(info.image_width),
                      static_cast<unsigned>(info.image_height));
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   QImage::Format_RGB888);
    if (image.isNull() || info.output_components != 3) {
        std::snprintf(errors.Message, sizeof errors.Message, "no memory for the picture");
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

QImage DecodeJpeg(const unsigned char* data, std::size_t size) {
    if (data == nullptr || size == 0)
        throw EJpegError("The picture could not be decoded: it is empty");
    QImage image;
    ErrorManager errors{};
    if (!Decompress(data, size, image, errors))
        throw EJpegError(std::string("The picture could not be decoded: ") + errors.Message);
    return image;
}
