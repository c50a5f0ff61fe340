// The hidden picture window as laid out, showing the picture built into the program.

#include "ui/easter_egg_form.h"
#include "ui/jpeg_decoder.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(EasterEggFormTest, ThePictureSitsInASunkenPanel) {
    TEasterEggForm form;
    EXPECT_EQ(form.windowTitle(), ";-)");
    EXPECT_EQ(form.size(), QSize(673, 535));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(form.ImagePanel->geometry(), QRect(16, 8, 642, 482));
    EXPECT_EQ(form.ImagePanel->frameShape(), QFrame::Panel);
    EXPECT_EQ(form.ImagePanel->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(form.ImagePanel->frameWidth(), 1);
    EXPECT_EQ(form.EasterEggImage->parentWidget(), form.ImagePanel);
    EXPECT_EQ(form.EasterEggImage->geometry(), QRect(1, 1, 640, 480));
    ASSERT_EQ(form.Picture().size(), QSize(640, 480));
    EXPECT_EQ(form.EasterEggImage->pixmap().toImage().convertToFormat(QImage::Format_RGB888),
              form.Picture());
}

TEST(EasterEggFormTest, DateAndOkButton) {
    TEasterEggForm form;
    EXPECT_EQ(form.DateLabel->text(), "18-Sep-04");
    EXPECT_EQ(form.DateLabel->pos(), QPoint(600, 494));
    EXPECT_EQ(form.DateLabel->font().pixelSize(), 11);
    EXPECT_EQ(form.OkBtn->geometry(), QRect(299, 502, 75, 25));
    EXPECT_EQ(form.OkBtn->text(), "OK");
    EXPECT_TRUE(form.OkBtn->isDefault());
    form.show();
    QTest::mouseClick(form.OkBtn, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
}

TEST(EasterEggFormTest, DataThatIsNoPictureKeepsThePictureShown) {
    TEasterEggForm form;
    const QImage before = form.Picture();
    const unsigned char text[] = "not a picture";
    EXPECT_THROW(form.LoadPicture(text, sizeof text), EJpegError);
    EXPECT_EQ(form.Picture(), before);
    EXPECT_EQ(form.EasterEggImage->pixmap().size(), QSize(640, 480));
}

} // namespace
