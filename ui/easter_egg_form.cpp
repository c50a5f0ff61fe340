#include "ui/easter_egg_form.h"

#include "hidden_picture.h"
#include "runtime/message_box.h"
#include "ui/design_fonts.h"
#include "ui/jpeg_decoder.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace {

QFont SmallFont() {
    QFont font = DesignFont();
    font.setPixelSize(11);
    return font;
}

} // namespace

TEasterEggForm::TEasterEggForm()
    : TFixedDialog(QStringLiteral("EasterEggForm"), QStringLiteral(";-)"), QSize(673, 535), false) {
    ImagePanel = new QFrame(this);
    ImagePanel->setObjectName(QStringLiteral("ImagePanel"));
    ImagePanel->setGeometry(16, 8, 642, 482);
    ImagePanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ImagePanel->setLineWidth(1);

    EasterEggImage = new QLabel(ImagePanel);
    EasterEggImage->setObjectName(QStringLiteral("EasterEggImage"));
    EasterEggImage->setGeometry(1, 1, 640, 480);

    DateLabel = new QLabel(QStringLiteral("18-Sep-04"), this);
    DateLabel->setObjectName(QStringLiteral("DateLabel"));
    DateLabel->setFont(SmallFont());
    DateLabel->adjustSize();
    DateLabel->move(600, 494);

    OkBtn = new QPushButton(QStringLiteral("OK"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    OkBtn->setGeometry(299, 502, 75, 25);
    OkBtn->setDefault(true);
    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);
    OkBtn->setFocus();

    const std::span<const unsigned char> picture = EmbeddedPicture();
    try {
        LoadPicture(picture.data(), picture.size());
    } catch (const std::exception& error) {
        // The window still opens, empty; the error is reported like any other.
        ShowException(error);
    }
}

void TEasterEggForm::LoadPicture(const unsigned char* data, std::size_t size) {
    picture_ = DecodeJpeg(data, size);
    EasterEggImage->setPixmap(QPixmap::fromImage(picture_));
}

std::span<const unsigned char> TEasterEggForm::EmbeddedPicture() {
    return {HiddenPictureJpeg, HiddenPictureJpegSize};
}
