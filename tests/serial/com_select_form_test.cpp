// The port selection dialog: its layout, the ports it offers, and its use by a com port opened
// without a port number.
#include "serial/com_select_form.h"

#include "serial/apd_com_port.h"
#include "serial/apd_exceptions.h"
#include "tests/serial/com_port_test_support.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <set>

namespace {

// Ports 1 to 50 with devices only where a test puts pseudo-terminals.
class OnlyThesePorts {
public:
    explicit OnlyThesePorts(const std::set<int>& present) {
        for (int n = 1; n <= 50; ++n) {
            if (present.count(n))
                lines_.push_back(std::make_unique<PtyPair>(n));
            else
                missing_.push_back(std::make_unique<MissingPort>(n));
        }
    }
    PtyPair& Line(int n) {
        for (auto& line : lines_)
            if (line->ComNumber() == n)
                return *line;
        throw std::out_of_range("no such line");
    }

private:
    std::vector<std::unique_ptr<MissingPort>> missing_;
    std::vector<std::unique_ptr<PtyPair>> lines_;
};

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

// The next widget that Tab moves to.
QWidget* NextTabStop(QWidget* from) {
    for (QWidget* w = from->nextInFocusChain(); w != from; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled())
            return w;
    return nullptr;
}

TEST(ComSelectForm, LayoutAndTexts) {
    OnlyThesePorts ports({});
    TComSelectForm form(nullptr);
    EXPECT_EQ(form.windowTitle(), "Select Port");
    EXPECT_EQ(form.size(), QSize(220, 131));
    EXPECT_EQ(form.font().pointSize(), 8);
    EXPECT_EQ(form.font().styleHint(), QFont::SansSerif);

    const struct {
        const char* Name;
        QRect Place; // width and height 0: not fixed by the design
        const char* Text;
    } controls[] = {{"Label1", {18, 14, 0, 0}, "The configured serial port is not valid."},
                    {"Label2", {18, 30, 0, 0}, "Please choose another port."},
                    {"Bevel1", {8, 8, 201, 42}, ""},
                    {"PortsComboBox", {8, 64, 201, 0}, ""},
                    {"OkBtn", {8, 95, 85, 27}, "OK"},
                    {"AbortBtn", {124, 95, 85, 27}, "Cancel"}};
    for (const auto& c : controls) {
        auto* widget = form.findChild<QWidget*>(QString::fromLatin1(c.Name));
        ASSERT_NE(widget, nullptr) << c.Name;
        EXPECT_EQ(widget->pos(), c.Place.topLeft()) << c.Name;
        if (c.Place.width() > 0) {
            EXPECT_EQ(widget->width(), c.Place.width()) << c.Name;
        }
        if (c.Place.height() > 0) {
            EXPECT_EQ(widget->height(), c.Place.height()) << c.Name;
        }
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), c.Text);
        }
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(button->text(), c.Text);
        }
    }
    EXPECT_TRUE(form.OkBtn->isDefault());
    EXPECT_FALSE(form.PortsComboBox->isEditable());
    EXPECT_EQ(NextTabStop(form.OkBtn), form.AbortBtn);
    EXPECT_EQ(NextTabStop(form.AbortBtn), form.PortsComboBox);
    EXPECT_EQ(NextTabStop(form.PortsComboBox), form.OkBtn);
}

TEST(ComSelectForm, ListsThePortsThatExistAlsoWhenHeldAndSelectsTheFirst) {
    OnlyThesePorts ports({1, 3, 12});
    HeldByOtherProcess held(ports.Line(3).SlavePath());
    TComSelectForm form(nullptr);
    EXPECT_EQ(Items(form.PortsComboBox), QStringList({"COM1", "COM3", "COM12"}));
    EXPECT_EQ(form.PortsComboBox->currentIndex(), 0);
    EXPECT_EQ(form.SelectedComNumber(), 1);
    form.PortsComboBox->setCurrentIndex(2);
    EXPECT_EQ(form.SelectedComNumber(), 12);
}

TEST(ComSelectForm, PortAvailability) {
    OnlyThesePorts ports({7});
    EXPECT_FALSE(TComSelectForm::IsPortAvailable(0));
    EXPECT_FALSE(TComSelectForm::IsPortAvailable(6));
    EXPECT_TRUE(TComSelectForm::IsPortAvailable(7));
    EXPECT_TRUE(TComSelectForm::IsPortAvailable(7)) << "the probe let the port go again";
}

TEST(ComSelectForm, OkWithNothingToChooseCountsAsCancel) {
    OnlyThesePorts ports({});
    TComSelectForm form(nullptr);
    EXPECT_EQ(form.PortsComboBox->count(), 0);
    EXPECT_EQ(form.SelectedComNumber(), 0);
    form.OkBtn->click();
    EXPECT_EQ(form.result(), TComSelectForm::mrAbort);
}

// Answers the dialog the com port shows, once it is up.
void AnswerSelectForm(const std::function<void(TComSelectForm&)>& answer) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (auto* form = dynamic_cast<TComSelectForm*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            answer(*form);
        }
    });
    timer->start(5);
}

// The dialog asks for a port while it lives, as in the program.
class AskedWithTheDialog {
public:
    AskedWithTheDialog() : previous_(SetComNumberPrompt(AskWithComSelectForm)) {}
    ~AskedWithTheDialog() { SetComNumberPrompt(std::move(previous_)); }

private:
    ComNumberPrompt previous_;
};

TEST(ComSelectForm, APortWithoutNumberAsksAndOpensTheChosenOne) {
    OnlyThesePorts ports({2, 12});
    AskedWithTheDialog asked;
    TApdComPort port(nullptr);
    AnswerSelectForm([](TComSelectForm& form) {
        form.PortsComboBox->setCurrentIndex(form.PortsComboBox->findText("COM12"));
        form.OkBtn->click();
    });
    EXPECT_EQ(port.AddDataTrigger("\n", false), 8);
    EXPECT_EQ(port.ComNumber(), 12);
    EXPECT_EQ(port.State(), ComPortState::Open);
}

TEST(ComSelectForm, CancellingTheChoiceRefusesTheOpen) {
    OnlyThesePorts ports({2});
    AskedWithTheDialog asked;
    TApdComPort port(nullptr);
    AnswerSelectForm([](TComSelectForm& form) { form.AbortBtn->click(); });
    try {
        port.SetOpen(true);
        FAIL() << "opened without a port";
    } catch (const ENoPortSelected& error) {
        EXPECT_EQ(error.ErrorCode, ENoPortSelected::Code);
    }
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_EQ(port.State(), ComPortState::Closed);
    EXPECT_EQ(port.Dispatcher(), nullptr);
}

} // namespace
