// The About box's hidden key sequence: five letters typed with Alt held open the picture window.
// Keys are delivered as the platform delivers them: one event per key going down or up, to the
// control with the focus (QTest's key functions would add presses of their own for modifiers).

#include "ui/about_form.h"
#include "ui/easter_egg_form.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Closes the picture window as soon as it shows, counting how often it opened and whether the
// About box stayed open beneath it.
class PictureCloser : public QObject {
public:
    PictureCloser(TEasterEggForm& picture, TAboutForm& about) : picture_(picture), about_(about) {
        picture_.installEventFilter(this);
    }
    int Shown = 0;
    bool AboutBeneath = true;
    bool Modal = true;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            ++Shown;
            AboutBeneath = AboutBeneath && about_.isVisible();
            Modal = Modal && picture_.isModal();
            QTimer::singleShot(0, &picture_, &QDialog::accept);
        }
        return false;
    }

private:
    TEasterEggForm& picture_;
    TAboutForm& about_;
};

class AboutKeySequenceTest : public ::testing::Test {
protected:
    QWidget* Focused() { return about_.focusWidget() != nullptr ? about_.focusWidget() : &about_; }
    void Key(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, QWidget* to = nullptr) {
        QKeyEvent event(type, key, modifiers);
        QApplication::sendEvent(to != nullptr ? to : Focused(), &event);
    }
    void KeyDown(int key, Qt::KeyboardModifiers modifiers = Qt::AltModifier) {
        Key(QEvent::KeyPress, key, modifiers);
    }
    void AltDown() { KeyDown(Qt::Key_Alt); }
    void AltUp() { Key(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier); }
    void Letter(int k, Qt::KeyboardModifiers modifiers = Qt::AltModifier) {
        KeyDown(TAboutForm::HiddenSequence[k], modifiers);
        Key(QEvent::KeyRelease, TAboutForm::HiddenSequence[k], modifiers);
    }
    void Sequence(int from = 0, int to = 4) {
        for (int k = from; k <= to; ++k)
            Letter(k);
    }
    // Runs the script while the About box is shown modally, then closes it.
    void WhileShown(const std::function<void()>& script) {
        QTimer::singleShot(0, &about_, [&] {
            script();
            about_.accept();
        });
        about_.ShowAboutBox();
    }

    TEasterEggForm picture_;
    TAboutForm about_{&picture_};
    PictureCloser closer_{picture_, about_};
};

TEST_F(AboutKeySequenceTest, ShowAboutBoxStartsOverAndIsModal) {
    about_.AltHeld = true;
    about_.SequenceProgress = 3;
    bool shown = false;
    WhileShown([&] {
        shown = about_.isVisible();
        EXPECT_EQ(QApplication::activeModalWidget(), &about_);
        EXPECT_FALSE(about_.AltHeld);
        EXPECT_EQ(about_.SequenceProgress, 0);
    });
    EXPECT_TRUE(shown);
    EXPECT_FALSE(about_.isVisible());
}

TEST_F(AboutKeySequenceTest, TheSequenceWithAltHeldOpensThePictureEveryTime) {
    WhileShown([&] {
        AltDown();
        EXPECT_TRUE(about_.AltHeld);
        for (int k = 0; k < 4; ++k) {
            Letter(k);
            EXPECT_EQ(about_.SequenceProgress, k + 1);
        }
        EXPECT_EQ(closer_.Shown, 0);
        Letter(4);
        EXPECT_EQ(closer_.Shown, 1);
        EXPECT_EQ(about_.SequenceProgress, 0);
        // Alt is still down: the same letters open it again.
        Sequence();
        EXPECT_EQ(closer_.Shown, 2);
        EXPECT_TRUE(about_.isVisible());
    });
    EXPECT_TRUE(closer_.AboutBeneath);
    EXPECT_TRUE(closer_.Modal);
}

TEST_F(AboutKeySequenceTest, LettersCountByKeyCodeWhateverTheShiftState) {
    WhileShown([&] {
        AltDown();
        KeyDown(Qt::Key_Shift, Qt::AltModifier | Qt::ShiftModifier);
        for (int k = 0; k <= 4; ++k)
            Letter(k, Qt::AltModifier | Qt::ShiftModifier);
    });
    EXPECT_EQ(closer_.Shown, 1);
}

TEST_F(AboutKeySequenceTest, ReleasingAltBeforeTheThirdLetterOpensNothing) {
    WhileShown([&] {
        AltDown();
        Sequence(0, 1);
        AltUp();
        EXPECT_FALSE(about_.AltHeld);
        EXPECT_EQ(about_.SequenceProgress, 2); // releasing Alt alone resets nothing
        Letter(2, Qt::NoModifier);
        EXPECT_EQ(about_.SequenceProgress, 0);
        Letter(3, Qt::NoModifier);
        Letter(4, Qt::NoModifier);
    });
    EXPECT_EQ(closer_.Shown, 0);
}

TEST_F(AboutKeySequenceTest, ReleasingAltBeforeTheLastLetterOpensNothing) {
    WhileShown([&] {
        AltDown();
        Sequence(0, 3);
        AltUp();
        EXPECT_EQ(about_.SequenceProgress, 4);
        Letter(4, Qt::NoModifier);
        EXPECT_EQ(about_.SequenceProgress, 0);
    });
    EXPECT_EQ(closer_.Shown, 0);
}

class AboutInterruptionTest : public AboutKeySequenceTest,
                              public ::testing::WithParamInterface<Qt::Key> {};

TEST_P(AboutInterruptionTest, AnyOtherKeyBetweenLettersMeansStartingAgain) {
    WhileShown([&] {
        AltDown();
        Sequence(0, 2);
        KeyDown(GetParam());
        EXPECT_EQ(about_.SequenceProgress, 0);
        Sequence(3, 4);
        EXPECT_EQ(closer_.Shown, 0);
        // A wrong letter does not count as a first letter either; the whole sequence does.
        Sequence();
        EXPECT_EQ(closer_.Shown, 1);
    });
}

INSTANTIATE_TEST_SUITE_P(Keys, AboutInterruptionTest,
                         ::testing::Values(Qt::Key_Shift, Qt::Key_Control, Qt::Key_X, Qt::Key_1,
                                           Qt::Key_F5,
                                           static_cast<Qt::Key>(TAboutForm::HiddenSequence[0])));

TEST_F(AboutKeySequenceTest, ReopeningAfterAnIncompleteSequenceNeedsItAllAgain) {
    WhileShown([&] {
        AltDown();
        Sequence(0, 3);
    });
    // Closing the box keeps the state; showing it again starts over.
    EXPECT_EQ(about_.SequenceProgress, 4);
    WhileShown([&] {
        EXPECT_EQ(about_.SequenceProgress, 0);
        AltDown();
        Letter(4);
        EXPECT_EQ(closer_.Shown, 0);
        Sequence();
        EXPECT_EQ(closer_.Shown, 1);
    });
}

TEST_F(AboutKeySequenceTest, TheBoxSeesAKeyBeforeTheFocusedButtonTakesIt) {
    WhileShown([&] {
        ASSERT_EQ(Focused(), about_.OKBtn);
        AltDown();
        Sequence(0, 1);
        // The button takes Space for itself, yet the box has seen it.
        Key(QEvent::KeyPress, Qt::Key_Space, Qt::AltModifier, about_.OKBtn);
        EXPECT_TRUE(about_.OKBtn->isDown());
        EXPECT_EQ(about_.SequenceProgress, 0);
        Key(QEvent::KeyRelease, Qt::Key_Space, Qt::AltModifier, about_.OKBtn);
    });
    EXPECT_EQ(about_.result(), QDialog::Accepted);
}

} // namespace
