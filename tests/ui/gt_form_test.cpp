// Form scaling on a window laid out like the main window: eight line panels in two columns,
// client area 1016 by 694 designed on a 1680 by 1050 screen. Resizes are driven the way a window
// manager does it: the window is resized and its resize event delivered.

#include "ui/scaling/gt_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QToolButton>
#include <array>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using EdgeList = std::array<int, 4>; // left, top, right, bottom

EdgeList EdgesOf(const QRect& r) {
    return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}
EdgeList EdgesOf(const QWidget* w) {
    return EdgesOf(w->geometry());
}

int FontHeightOf(const QWidget* w) {
    return -w->font().pixelSize();
}

QFont PixelFont(const QString& family, int pixels, bool bold = false) {
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

int HalfEven(long double x) {
    return static_cast<int>(std::nearbyint(x)); // the default rounding: halves to even
}

class FixedScreen {
public:
    explicit FixedScreen(QSize size)
        : previous_(GTForm::SetScreenSizeFunction([size] { return size; })) {}
    ~FixedScreen() { GTForm::SetScreenSizeFunction(std::move(previous_)); }
    FixedScreen(const FixedScreen&) = delete;
    FixedScreen& operator=(const FixedScreen&) = delete;

private:
    GTForm::ScreenSizeFunction previous_;
};

constexpr std::array<QRect, 8> GroupPlaces = {{{16, 18, 484, 159},
                                               {520, 18, 484, 159},
                                               {16, 186, 484, 159},
                                               {520, 186, 484, 159},
                                               {16, 354, 484, 159},
                                               {520, 354, 484, 159},
                                               {16, 522, 484, 159},
                                               {520, 522, 484, 159}}};

// The main window's design: menu, top bevel, eight group boxes with a view and a button each.
class DesignWindow : public QMainWindow {
public:
    explicit DesignWindow(const std::function<void(DesignWindow&)>& beforeCreate = {}) {
        setFont(PixelFont("Arial", 13));
        menuBar()->addMenu(QStringLiteral("&Menu"))->addAction(QStringLiteral("About"));
        auto* client = new QWidget(this);
        setCentralWidget(client);
        auto* bevel = new QFrame(client);
        bevel->setObjectName("Bevel1");
        bevel->setFrameShape(QFrame::HLine);
        bevel->setGeometry(1, 0, 1015, 2);
        for (int i = 0; i < 8; ++i) {
            const QString n = QString::number(i + 1);
            Groups[i] = new QGroupBox("Line " + n, client);
            Groups[i]->setObjectName("Line" + n + "Group");
            Groups[i]->setGeometry(GroupPlaces[i]);
            Groups[i]->setFont(PixelFont("Arial", 13, true));
            Buttons[i] = new QToolButton(Groups[i]);
            Buttons[i]->setObjectName("StartLine" + n + "Btn");
            Buttons[i]->setGeometry(i == 4 ? QRect(24, 67, 21, 25) : QRect(20, 67, 25, 25));
            Views[i] = new QPlainTextEdit(Groups[i]);
            Views[i]->setObjectName("Line" + n + "Window");
            Views[i]->setGeometry(64, 23, 405, 121);
            Views[i]->setFont(PixelFont("Courier New", 13));
        }
        GTForm1 = new GTForm(this);
        GTForm1->SetGTDesignW("1680-0");
        GTForm1->SetGTDesignH("1050-13");
        GTForm1->SetGTClientWidth(1016);
        GTForm1->SetGTClientHeight(694);
        if (beforeCreate)
            beforeCreate(*this);
    }

    // The client area as Qt lays it out: the central widget.
    QSize Client() const { return centralWidget()->size(); }
    int MenuHeight() const { return height() - centralWidget()->height(); }
    void DragClientTo(int width, int height) { resize(width, height + MenuHeight()); }

    GTForm* GTForm1 = nullptr;
    std::array<QGroupBox*, 8> Groups{};
    std::array<QPlainTextEdit*, 8> Views{};
    std::array<QToolButton*, 8> Buttons{};
};

void ShowActive(QWidget& window) {
    window.show();
    window.activateWindow();
    QCoreApplication::processEvents();
    // The offscreen platform does not always hand activation back to a window shown again.
    if (!window.isActiveWindow())
        QApplication::setActiveWindow(&window);
    ASSERT_TRUE(window.isActiveWindow());
}

void ExpectDesignLayout(const DesignWindow& w) {
    EXPECT_EQ(w.Client(), QSize(1016, 694));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(w.Groups[i]->geometry(), GroupPlaces[i]) << "line " << i + 1;
        EXPECT_EQ(w.Views[i]->geometry(), QRect(64, 23, 405, 121)) << "line " << i + 1;
        EXPECT_EQ(FontHeightOf(w.Groups[i]), -13);
        EXPECT_EQ(FontHeightOf(w.Views[i]), -13);
    }
    EXPECT_EQ(FontHeightOf(w.centralWidget()), -13);
}

class GTFormTest : public ::testing::Test {
protected:
    FixedScreen screen_{QSize(1680, 1050)};
};

// ---- Creation ------------------------------------------------------------------------------

struct ScreenCase {
    QSize Screen;
    int ClientHeight;
};

class GTFormScreenTest : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(GTFormScreenTest, OpensWithTheBottomMarginScaledToTheScreen) {
    FixedScreen screen(GetParam().Screen);
    DesignWindow w;
    ShowActive(w);
    EXPECT_EQ(w.Client(), QSize(1016, GetParam().ClientHeight));
    EXPECT_EQ(w.GTForm1->ClientHeight(), GetParam().ClientHeight);
    // The controls keep their designed places; only the margin follows the screen.
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(w.Groups[i]->geometry(), GroupPlaces[i]);
    EXPECT_EQ(FontHeightOf(w.Views[0]), -13);
}

// 681 plus nearest(13 x screen height / 1050): 9.51 -> 10, 7.43 -> 7.
INSTANTIATE_TEST_SUITE_P(Screens, GTFormScreenTest,
                         ::testing::Values(ScreenCase{{1680, 1050}, 694},
                                           ScreenCase{{1024, 768}, 691},
                                           ScreenCase{{800, 600}, 688}));

TEST_F(GTFormTest, CreateHandlerRunsAfterTheFittingAndItsChangesJoinTheSnapshot) {
    FixedScreen small(QSize(1024, 768));
    int heightSeen = 0;
    DesignWindow w([&](DesignWindow& window) {
        window.GTForm1->GTOnCreate = [&](QWidget* sender) {
            EXPECT_EQ(sender, &window);
            heightSeen = window.GTForm1->ClientHeight();
            window.Groups[7]->setGeometry(520, 500, 484, 159);
        };
    });
    ShowActive(w);
    EXPECT_EQ(heightSeen, 691);
    // Shrinking to the minimum and growing again goes back to the snapshot, which has the move.
    w.DragClientTo(200, w.Client().height());
    w.DragClientTo(400, w.Client().height());
    EXPECT_EQ(w.Client(), QSize(1016, 691));
    EXPECT_EQ(w.Groups[7]->geometry(), QRect(520, 500, 484, 159));
}

// ---- Resizing ------------------------------------------------------------------------------

TEST_F(GTFormTest, DraggingTheRightEdgeScalesWidthFirstThenHeightAndFonts) {
    DesignWindow w;
    struct Step {
        QSize Client;
        int GroupFont;
        bool Painting;
        bool WaitCursor;
    };
    std::vector<Step> steps;
    w.GTForm1->GTOnResize = [&](QWidget*) {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        steps.push_back({w.Client(), FontHeightOf(w.Groups[0]), w.updatesEnabled(),
                         cursor != nullptr && cursor->shape() == Qt::WaitCursor});
    };
    ShowActive(w);
    steps.clear();

    w.DragClientTo(1524, 694);

    EXPECT_EQ(w.Client(), QSize(1524, 1041));
    EXPECT_EQ(EdgesOf(w.Groups[0]), (EdgeList{24, 27, 750, 266}));
    // Inside a group the same ratios apply: 23 x 1.5 = 34.5 goes to 34, 469 x 1.5 = 703.5 to 704.
    EXPECT_EQ(EdgesOf(w.Views[0]), (EdgeList{96, 34, 704, 216}));
    EXPECT_EQ(EdgesOf(w.Groups[7]), (EdgeList{780, 783, 1506, 1022}));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(FontHeightOf(w.Groups[i]), -20);
        EXPECT_EQ(FontHeightOf(w.Views[i]), -20);
    }
    EXPECT_EQ(FontHeightOf(w.centralWidget()), -20);
    // The button has no font of its own and follows its group.
    EXPECT_EQ(w.Buttons[0]->font().pixelSize(), 20);

    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].Client, QSize(1524, 694));
    EXPECT_EQ(steps[0].GroupFont, -13);
    EXPECT_EQ(steps[1].Client, QSize(1524, 1041));
    EXPECT_EQ(steps[1].GroupFont, -20);
    for (const Step& step : steps) {
        EXPECT_FALSE(step.Painting);
        EXPECT_TRUE(step.WaitCursor);
    }
    EXPECT_TRUE(w.updatesEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(GTFormTest, DraggingTheBottomEdgeMakesTheWidthFollow) {
    DesignWindow w;
    int scalings = 0;
    w.GTForm1->GTOnResize = [&](QWidget*) { ++scalings; };
    ShowActive(w);
    scalings = 0;

    w.DragClientTo(1016, 1041);
    EXPECT_EQ(w.Client(), QSize(1524, 1041));
    EXPECT_EQ(EdgesOf(w.Groups[0]), (EdgeList{24, 27, 750, 266}));
    EXPECT_EQ(FontHeightOf(w.Views[3]), -20);
    EXPECT_EQ(scalings, 1);

    // Back up to nearest(850 / (694 / 1016)) = nearest(1244.38).
    w.DragClientTo(w.Client().width(), 850);
    EXPECT_EQ(w.Client(), QSize(1244, 850));
}

struct ShrinkCase {
    const char* Name;
    QSize Drag;
};

class GTFormShrinkTest : public GTFormTest, public ::testing::WithParamInterface<ShrinkCase> {};

TEST_P(GTFormShrinkTest, BelowAQuarterSnapsToTheMinimumThenTheSnapshotComesBack) {
    DesignWindow w;
    ShowActive(w);
    w.DragClientTo(GetParam().Drag.width(), GetParam().Drag.height());
    // A quarter of 1016 by 694: 254 by nearest(173.5) = 174.
    EXPECT_EQ(w.Client(), QSize(254, 174));
    EXPECT_EQ(EdgesOf(w.Groups[0]), (EdgeList{4, 5, 125, 44}));
    EXPECT_EQ(FontHeightOf(w.centralWidget()), HalfEven(-13.0L * 174 / 694));

    // Shrunk to a third of the snapshot, the next resize puts the snapshot's layout back.
    w.DragClientTo(400, 174);
    ExpectDesignLayout(w);
}

INSTANTIATE_TEST_SUITE_P(Edges, GTFormShrinkTest,
                         ::testing::Values(ShrinkCase{"RightEdge", {200, 694}},
                                           ShrinkCase{"BottomEdge", {1016, 150}}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(GTFormTest, UnderAHundredPixelsTheWindowGrowsBackToItsReference) {
    DesignWindow w;
    ShowActive(w);
    w.DragClientTo(1524, 694);
    ASSERT_EQ(w.Client(), QSize(1524, 1041));

    w.DragClientTo(1524, 80);
    EXPECT_EQ(w.Client(), QSize(1524, 1041));
    EXPECT_EQ(EdgesOf(w.Groups[0]), (EdgeList{24, 27, 750, 266}));
    EXPECT_EQ(FontHeightOf(w.Views[0]), -20);
}

TEST_F(GTFormTest, UnderAHundredPixelsTheFontsKeepTheirSize) {
    // A small window whose minimum height (a quarter of 300) lies below 100 pixels.
    QWidget w;
    w.setFont(PixelFont("Arial", 13));
    auto* group = new QGroupBox("Line 1", &w);
    group->setObjectName("Line1Group");
    group->setGeometry(20, 20, 360, 260);
    group->setFont(PixelFont("Arial", 13, true));
    auto* form = new GTForm(&w);
    form->SetGTDesignW("1680-20");
    form->SetGTDesignH("1050-20");
    form->SetGTClientWidth(400);
    form->SetGTClientHeight(300);
    ShowActive(w);
    ASSERT_EQ(w.size(), QSize(400, 300));

    w.resize(50, 300);
    EXPECT_EQ(w.size(), QSize(100, 75));
    EXPECT_EQ(EdgesOf(group), (EdgeList{5, 5, 95, 70}));
    EXPECT_EQ(FontHeightOf(group), -13);
    EXPECT_EQ(FontHeightOf(&w), -13);
}

TEST_F(GTFormTest, AControlTaggedToBeIgnoredKeepsItsFontButMoves) {
    DesignWindow w([](DesignWindow& window) {
        window.Views[0]->setProperty("Tag", 1);
        window.Views[2]->setProperty("Tag", 2);
    });
    ShowActive(w);
    w.DragClientTo(1524, 694);
    EXPECT_EQ(FontHeightOf(w.Views[0]), -13);
    EXPECT_EQ(EdgesOf(w.Views[0]), (EdgeList{96, 34, 704, 216}));
    EXPECT_EQ(FontHeightOf(w.Views[1]), -20);
    EXPECT_EQ(FontHeightOf(w.Views[2]), -20);
}

TEST_F(GTFormTest, MaximisingFillsTheScreenAndRestoringComesBackInProportion) {
    DesignWindow w;
    ShowActive(w);
    w.showMaximized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(w.isMaximized());
    const QSize maxClient = w.Client();
    ASSERT_NE(maxClient, QSize(1016, 694));

    // Width and height follow the maximised area each on its own.
    const auto x = [&](int v) {
        return HalfEven(v * static_cast<long double>(maxClient.width()) / 1016);
    };
    const auto y = [&](int v) {
        return HalfEven(v * static_cast<long double>(maxClient.height()) / 694);
    };
    EXPECT_EQ(EdgesOf(w.Groups[7]), (EdgeList{x(520), y(522), x(1004), y(681)}));
    // Maximised, the fonts follow the width.
    const int maxFont = HalfEven(-13.0L * maxClient.width() / 1016);
    EXPECT_EQ(FontHeightOf(w.Views[0]), maxFont);

    w.showNormal();
    QCoreApplication::processEvents();
    ASSERT_FALSE(w.isMaximized());
    EXPECT_EQ(w.Client(), QSize(1016, 694));
    for (int i = 0; i < 8; ++i) {
        const EdgeList now = EdgesOf(w.Groups[i]);
        const EdgeList design = EdgesOf(GroupPlaces[i]);
        for (int e = 0; e < 4; ++e)
            EXPECT_LE(std::abs(now[e] - design[e]), 1) << "line " << i + 1 << " edge " << e;
        EXPECT_EQ(FontHeightOf(w.Groups[i]), -13);
    }
}

TEST_F(GTFormTest, AnotherScreenOnShowPutsTheSnapshotLayoutBack) {
    DesignWindow w;
    ShowActive(w);
    w.DragClientTo(1524, 694);
    ASSERT_EQ(w.Client(), QSize(1524, 1041));
    w.hide();
    FixedScreen other(QSize(1024, 768));
    ShowActive(w);
    ExpectDesignLayout(w);
}

TEST_F(GTFormTest, AnInactiveWindowIsNotScaled) {
    DesignWindow w;
    int resizes = 0;
    w.GTForm1->GTOnResize = [&](QWidget*) { ++resizes; };
    ShowActive(w);
    QWidget other;
    ShowActive(other);
    ASSERT_FALSE(w.isActiveWindow());
    resizes = 0;

    w.DragClientTo(1524, 694);
    EXPECT_EQ(w.Client(), QSize(1524, 694));
    EXPECT_EQ(w.Groups[0]->geometry(), GroupPlaces[0]);
    EXPECT_EQ(resizes, 1); // the window's own handler still hears of it

    ShowActive(w);
    w.DragClientTo(1016, 694);
    w.DragClientTo(1524, 694);
    EXPECT_EQ(w.Client(), QSize(1524, 1041));
}

TEST_F(GTFormTest, CloseQueryCanKeepTheWindowOpen) {
    DesignWindow w;
    bool allow = false;
    int closes = 0;
    w.GTForm1->GTOnCloseQuery = [&](QWidget*, bool& canClose) { canClose = allow; };
    w.GTForm1->GTOnClose = [&](QWidget*, QCloseEvent*) { ++closes; };
    ShowActive(w);
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(closes, 0);
    allow = true;
    EXPECT_TRUE(w.close());
    EXPECT_EQ(closes, 1);
}

} // namespace
