#pragma once

#include "ui/fixed_dialog.h"

#include <QImage>
#include <cstddef>
#include <span>

class QFrame;
class QLabel;
class QPushButton;

// The hidden picture window, opened from the About box: a 640 by 480 picture, its date and OK.
class TEasterEggForm : public TFixedDialog {
    Q_OBJECT

public:
    TEasterEggForm();

    QFrame* ImagePanel = nullptr;
    QLabel* EasterEggImage = nullptr;
    QLabel* DateLabel = nullptr;
    QPushButton* OkBtn = nullptr;

    // Decodes a JPEG into the picture shown. Throws EJpegError and keeps the picture it had when
    // the data cannot be decoded.
    void LoadPicture(const unsigned char* data, std::size_t size);
    QImage Picture() const { return picture_; }

    // The JPEG built into the program.
    static std::span<const unsigned char> EmbeddedPicture();

private:
    QImage picture_;
};
