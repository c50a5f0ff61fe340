// The About box as laid out: window, logo, the labels and the OK button.

#include "ui/about_form.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class AboutFormTest : public ::testing::Test {
protected:
    TAboutForm about_{nullptr};
};

TEST_F(AboutFormTest, IsAFixedDialogWithAMaroonName) {
    EXPECT_EQ(about_.objectName(), "AboutForm");
    EXPECT_EQ(about_.windowTitle(), "About Tolvane...");
    EXPECT_EQ(about_.size(), QSize(407, 248));
    EXPECT_EQ(about_.minimumSize(), about_.maximumSize());
    EXPECT_TRUE(about_.windowFlags() & Qt::WindowTitleHint);
    EXPECT_FALSE(about_.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(about_.font().family(), "Arial");
    EXPECT_EQ(about_.font().pixelSize(), 13);
    EXPECT_EQ(about_.palette().color(QPalette::Window),
              QApplication::palette().color(QPalette::Button));
    EXPECT_EQ(about_.InfoPanel->geometry(), QRect(200, 16, 193, 217));
    EXPECT_EQ(about_.InfoPanel->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(about_.ProductLabel->size(), QSize(189, 32));
    EXPECT_EQ(about_.ProductLabel->palette().color(QPalette::WindowText), QColor(128, 0, 0));
}

struct LabelCase {
    const char* Name;
    const char* Text;
    QPoint At;
    int Pixels;
};

class AboutLabelTest : public AboutFormTest, public ::testing::WithParamInterface<LabelCase> {};

TEST_P(AboutLabelTest, SitsOnTheInfoPanelWithItsTextAndFont) {
    const auto* label = about_.findChild<QLabel*>(GetParam().Name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->parentWidget(), about_.InfoPanel);
    EXPECT_EQ(label->text(), GetParam().Text);
    EXPECT_EQ(label->pos(), GetParam().At);
    EXPECT_EQ(label->font().family(), "Arial");
    EXPECT_EQ(label->font().pixelSize(), GetParam().Pixels);
    // Sized to its text: nothing is cut off.
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
}

INSTANTIATE_TEST_SUITE_P(Labels, AboutLabelTest,
                         ::testing::Values(LabelCase{"ProductLabel", "Tolvane", {2, 0}, 27},
                                           LabelCase{"VersionLabel", "Version 2.3", {68, 40}, 11},
                                           LabelCase{"DateLabel", "05/Nov/07", {72, 68}, 11}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(AboutFormTest, TheLogoIsDrawnFromItsVectorPicture) {
    EXPECT_EQ(about_.LogoImage->geometry(), QRect(16, 16, 169, 217));
    const QImage logo = about_.LogoImage->pixmap().toImage();
    ASSERT_EQ(logo.size(), QSize(169, 217) * about_.devicePixelRatioF());
    // A drawn picture, not an empty one: opaque in the middle, with many colours.
    EXPECT_EQ(qAlpha(logo.pixel(logo.width() / 2, logo.height() / 2)), 255);
    QSet<QRgb> colours;
    for (int y = 0; y < logo.height(); y += 3)
        for (int x = 0; x < logo.width(); x += 3)
            colours.insert(logo.pixel(x, y));
    EXPECT_GT(colours.size(), 50);
}

TEST_F(AboutFormTest, OkIsTheDefaultButtonAndClosesTheBox) {
    EXPECT_EQ(about_.OKBtn->geometry(), QRect(59, 112, 75, 25));
    EXPECT_EQ(about_.OKBtn->text(), "OK");
    EXPECT_TRUE(about_.OKBtn->isDefault());
    about_.show();
    QTest::mouseClick(about_.OKBtn, Qt::LeftButton);
    EXPECT_FALSE(about_.isVisible());
    EXPECT_EQ(about_.result(), QDialog::Accepted);
}

} // namespace
