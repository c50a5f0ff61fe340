#include "ui/about_form.h"

#include "ui/design_fonts.h"
#include "ui/easter_egg_form.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSvgRenderer>

// The logo lives in a resource of this static library, which must be registered by hand.
static void RegisterAboutBoxResources() {
    Q_INIT_RESOURCE(about_box);
}

namespace {

QFont LabelFont(int pixels) {
    QFont font = DesignFont();
    font.setPixelSize(pixels);
    return font;
}

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, int pixels, QPoint at) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(LabelFont(pixels));
    label->adjustSize();
    label->move(at);
    return label;
}

QPixmap LogoPicture(QSize size, qreal pixelRatio) {
    QPixmap picture(size * pixelRatio);
    picture.setDevicePixelRatio(pixelRatio);
    picture.fill(Qt::transparent);
    QSvgRenderer logo(QStringLiteral(":/logo.svg"));
    if (logo.isValid()) {
        QPainter painter(&picture);
        logo.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    return picture;
}

} // namespace

TAboutForm::TAboutForm(TEasterEggForm* easterEggForm)
    : TFixedDialog(QStringLiteral("AboutForm"), QStringLiteral("About Tolvane..."), QSize(407, 248),
                   false),
      easterEggForm_(easterEggForm) {
    RegisterAboutBoxResources();
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    setPalette(colours);
    setAutoFillBackground(true);

    LogoImage = new QLabel(this);
    LogoImage->setObjectName(QStringLiteral("LogoImage"));
    LogoImage->setGeometry(16, 16, 169, 217);
    LogoImage->setPixmap(LogoPicture(LogoImage->size(), devicePixelRatioF()));

    InfoPanel = new QFrame(this);
    InfoPanel->setObjectName(QStringLiteral("InfoPanel"));
    InfoPanel->setGeometry(200, 16, 193, 217);
    InfoPanel->setFrameShape(QFrame::NoFrame);

    // The name is centred over the panel, as the version and date below it are.
    ProductLabel = new QLabel(QStringLiteral("Tolvane"), InfoPanel);
    ProductLabel->setObjectName(QStringLiteral("ProductLabel"));
    ProductLabel->setGeometry(2, 0, 189, 32);
    ProductLabel->setFont(LabelFont(27));
    ProductLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette maroon = ProductLabel->palette();
    maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
    ProductLabel->setPalette(maroon);

    VersionLabel = AddLabel(InfoPanel, "VersionLabel", QStringLiteral("Version " TOLVANE_VERSION),
                            11, {68, 40});
    DateLabel = AddLabel(InfoPanel, "DateLabel", QStringLiteral("05/Nov/07"), 11, {72, 68});

    OKBtn = new QPushButton(QStringLiteral("OK"), InfoPanel);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(59, 112, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    OKBtn->setFocus();

    // Every key reaches the box first, whichever control has the focus.
    installEventFilter(this);
    for (QWidget* control : findChildren<QWidget*>())
        control->installEventFilter(this);
}

void TAboutForm::ShowAboutBox() {
    AltHeld = false;
    SequenceProgress = 0;
    exec();
}

void TAboutForm::ShowHiddenPicture() {
    if (easterEggForm_ != nullptr)
        easterEggForm_->exec();
}

void TAboutForm::FormKeyDown(int key) {
    if (key == Qt::Key_Alt) {
        AltHeld = true;
        return;
    }
    for (int k = 1; k <= 4; ++k) {
        if (key == HiddenSequence[k - 1]) {
            SequenceProgress = AltHeld && SequenceProgress == k - 1 ? k : 0;
            return;
        }
    }
    if (key == HiddenSequence[4]) {
        if (AltHeld && SequenceProgress == 4)
            ShowHiddenPicture();
        SequenceProgress = 0;
        return;
    }
    SequenceProgress = 0;
}

void TAboutForm::FormKeyUp(int key) {
    if (key == Qt::Key_Alt)
        AltHeld = false;
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    const bool press = event->type() == QEvent::KeyPress;
    if (press || event->type() == QEvent::KeyRelease) {
        // A key goes first to the focused control and then, unless taken, up to its parents:
        // handle it once, at its first stop.
        QWidget* first = focusWidget() != nullptr ? focusWidget() : this;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (watched == first && !(key->isAutoRepeat() && !press)) {
            if (press)
                FormKeyDown(key->key());
            else
                FormKeyUp(key->key());
        }
    }
    return TFixedDialog::eventFilter(watched, event);
}
