#pragma once

#include "ui/fixed_dialog.h"

#include <array>

class QFrame;
class QLabel;
class QPushButton;
class TEasterEggForm;

// The About box: the program's name, version and date. It sees every key press before the
// control with the focus, and five letters typed with Alt held open the hidden picture.
class TAboutForm : public TFixedDialog {
    Q_OBJECT

public:
    // The hidden picture window it opens; may be null (the sequence then opens nothing).
    explicit TAboutForm(TEasterEggForm* easterEggForm);

    QLabel* LogoImage = nullptr;
    QFrame* InfoPanel = nullptr;
    QLabel* ProductLabel = nullptr;
    QLabel* VersionLabel = nullptr;
    QLabel* DateLabel = nullptr;
    QPushButton* OKBtn = nullptr;

    // The key sequence state: Alt is down; letters of the sequence matched so far (0 to 4).
    bool AltHeld = false;
    int SequenceProgress = 0;

    // The letters, compared by key code only.
    static constexpr std::array<int, 5> HiddenSequence{Qt::Key_T, Qt::Key_L, Qt::Key_V, Qt::Key_N,
                                                       Qt::Key_E};

    // Starts the key sequence over and shows the About box modally. The menu's "About" runs it.
    void ShowAboutBox();
    // Shows the hidden picture window modally, on top of the About box.
    void ShowHiddenPicture();

    void FormKeyDown(int key);
    void FormKeyUp(int key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TEasterEggForm* easterEggForm_;
};
