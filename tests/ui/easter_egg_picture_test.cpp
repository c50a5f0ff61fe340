// The hidden picture's JPEG: the embedded one decodes, damaged ones give a clear error.

#include "ui/easter_egg_form.h"
#include "ui/jpeg_decoder.h"

#include <QSet>
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Embedded() {
    const auto picture = TEasterEggForm::EmbeddedPicture();
    return {picture.begin(), picture.end()};
}

double MeanBrightness(const QImage& image, int row) {
    double sum = 0;
    for (int x = 0; x < image.width(); ++x)
        sum += qGray(image.pixel(x, row));
    return sum / image.width();
}

TEST(EasterEggPictureTest, TheEmbeddedJpegDecodesTo640By480) {
    const Bytes jpeg = Embedded();
    ASSERT_GE(jpeg.size(), 2u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    const QImage picture = DecodeJpeg(jpeg.data(), jpeg.size());
    EXPECT_EQ(picture.size(), QSize(640, 480));
    EXPECT_EQ(picture.format(), QImage::Format_RGB888);
    // A drawn scene: a night sky above a bright horizon, many colours.
    EXPECT_LT(MeanBrightness(picture, 10), MeanBrightness(picture, 300) - 40);
    QSet<QRgb> colours;
    for (int y = 0; y < 480; y += 4)
        for (int x = 0; x < 640; x += 4)
            colours.insert(picture.pixel(x, y));
    EXPECT_GT(colours.size(), 1000);
}

// The embedded JPEG with its frame header claiming width by height pixels.
Bytes WithFrameSize(Bytes jpeg, int width, int height) {
    for (std::size_t i = 0; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<unsigned char>(height >> 8);
            jpeg[i + 6] = static_cast<unsigned char>(height & 0xFF);
            jpeg[i + 7] = static_cast<unsigned char>(width >> 8);
            jpeg[i + 8] = static_cast<unsigned char>(width & 0xFF);
            return jpeg;
        }
    }
    ADD_FAILURE() << "no frame header";
    return jpeg;
}

Bytes Garbage() {
    Bytes bytes(4096);
    unsigned state = 12345;
    for (unsigned char& b : bytes) {
        state = state * 1103515245 + 12345;
        b = static_cast<unsigned char>(state >> 16);
    }
    return bytes;
}

Bytes FirstBytes(std::size_t count) {
    Bytes jpeg = Embedded();
    jpeg.resize(std::min(count, jpeg.size()));
    return jpeg;
}

struct DamageCase {
    const char* Name;
    std::function<Bytes()> Data;
    const char* Reason;
};

class DamagedJpegTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedJpegTest, GivesAClearErrorInsteadOfAPicture) {
    const Bytes data = GetParam().Data();
    try {
        DecodeJpeg(data.data(), data.size());
        FAIL() << "decoded";
    } catch (const EJpegError& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("The picture could not be decoded: ", 0), 0u) << text;
        EXPECT_NE(text.find(GetParam().Reason), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedJpegTest,
    ::testing::Values(DamageCase{"Empty", [] { return Bytes{}; }, "empty"},
                      DamageCase{"Garbage", Garbage, "Not a JPEG file"},
                      DamageCase{"CutInTheHeader", [] { return FirstBytes(40); }, "Premature end"},
                      DamageCase{"CutInTheScan", [] { return FirstBytes(Embedded().size() / 2); },
                                 "Premature end"},
                      DamageCase{"HugeFrame",
                                 [] { return WithFrameSize(Embedded(), 60000, 60000); },
                                 "too large"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
