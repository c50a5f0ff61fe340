#include "ui/scaling/gt_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMouseEvent>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

// The integer nearest to x, halves going to the even neighbour, in extended precision.
int Nearest(long double x) {
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const long double rounded = std::nearbyint(x);
    std::fesetround(previous);
    return static_cast<int>(std::clamp<long double>(rounded, INT_MIN / 2, INT_MAX / 2));
}

// Below this client height the fonts keep their size.
constexpr int FontFloorHeight = 100;
constexpr int MaxDesignText = 15;

struct DesignValue {
    bool Valid = false;
    int Screen = 0;
    int Margin = 0;
};

// "1680-0": the design screen size before the first "-", the margin after it.
DesignValue ParseDesign(const QString& text) {
    const qsizetype dash = text.indexOf(QLatin1Char('-'));
    if (dash <= 0)
        return {};
    bool screenOk = false;
    bool marginOk = false;
    const int screen = text.left(dash).trimmed().toInt(&screenOk);
    const int margin = text.mid(dash + 1).trimmed().toInt(&marginOk);
    if (!screenOk || !marginOk || screen <= 0)
        return {};
    return {true, screen, margin};
}

int FontHeightOf(const QWidget* widget) {
    const QFont font = widget->font();
    if (font.pixelSize() > 0)
        return -font.pixelSize();
    return -Nearest(static_cast<long double>(font.pointSizeF()) * widget->logicalDpiY() / 72.0L);
}

// Negative heights are character heights in pixels; a positive one (a cell height) is taken as
// the pixel size too, the nearest Qt has.
void SetFontHeightOf(QWidget* widget, int height) {
    if (FontHeightOf(widget) == height)
        return;
    QFont font = widget->font();
    font.setPixelSize(std::max(1, std::abs(height)));
    widget->setFont(font);
}

bool HasOwnFont(const QWidget* control) {
    return control->testAttribute(Qt::WA_SetFont);
}

// Freezes the window's painting and shows the hourglass while it lives; the window repaints
// once when it is unfrozen.
class PaintFreeze {
public:
    explicit PaintFreeze(QWidget* window) : window_(window), froze_(window->updatesEnabled()) {
        if (froze_)
            window_->setUpdatesEnabled(false);
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~PaintFreeze() {
        QGuiApplication::restoreOverrideCursor();
        if (froze_)
            window_->setUpdatesEnabled(true);
    }
    PaintFreeze(const PaintFreeze&) = delete;
    PaintFreeze& operator=(const PaintFreeze&) = delete;

private:
    QWidget* window_;
    bool froze_;
};

class FlagOn {
public:
    explicit FlagOn(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagOn() { flag_ = false; }
    FlagOn(const FlagOn&) = delete;
    FlagOn& operator=(const FlagOn&) = delete;

private:
    bool& flag_;
};

class CountIn {
public:
    explicit CountIn(int& counter) : counter_(counter) { ++counter_; }
    ~CountIn() { --counter_; }
    CountIn(const CountIn&) = delete;
    CountIn& operator=(const CountIn&) = delete;

private:
    int& counter_;
};

GTForm::ScreenSizeFunction& ScreenSizeSource() {
    static GTForm::ScreenSizeFunction source;
    return source;
}

} // namespace

GTForm::GTForm(QWidget* owner) : QObject(owner), window_(owner) {
    setObjectName(QStringLiteral("GTForm1"));
    window_->installEventFilter(this);
}

GTForm::~GTForm() {
    enabled_ = false;
    window_->removeEventFilter(this);
}

GTForm::ScreenSizeFunction GTForm::SetScreenSizeFunction(ScreenSizeFunction function) {
    ScreenSizeFunction previous = std::move(ScreenSizeSource());
    ScreenSizeSource() = std::move(function);
    return previous;
}

QSize GTForm::ScreenSize() {
    if (ScreenSizeSource())
        return ScreenSizeSource()();
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->size() : QSize();
}

void GTForm::SetGTDesignW(const QString& value) {
    if (designW_.isEmpty())
        designW_ = value.left(MaxDesignText);
}

void GTForm::SetGTDesignH(const QString& value) {
    if (designH_.isEmpty())
        designH_ = value.left(MaxDesignText);
}

void GTForm::SetGTClientWidth(int value) {
    designClientWidth_ = value;
    SetClientWidth(value);
}

void GTForm::SetGTClientHeight(int value) {
    designClientHeight_ = value;
    SetClientHeight(value);
}

// ---- Window access -------------------------------------------------------------------------

QWidget* GTForm::MenuWidget() const {
    const auto* main = qobject_cast<const QMainWindow*>(window_);
    return main != nullptr ? main->menuWidget() : nullptr;
}

QWidget* GTForm::ClientArea() const {
    const auto* main = qobject_cast<const QMainWindow*>(window_);
    if (main != nullptr && main->centralWidget() != nullptr)
        return main->centralWidget();
    return window_;
}

int GTForm::NonClientHeight(int width) const {
    QWidget* menu = MenuWidget();
    if (menu == nullptr || menu->isHidden())
        return 0;
    const int height = menu->heightForWidth(std::max(width, menu->minimumWidth()));
    return height >= 0 ? height : menu->sizeHint().height();
}

int GTForm::ClientWidth() const {
    return window_->width();
}

int GTForm::ClientHeight() const {
    return window_->height() - NonClientHeight(window_->width());
}

void GTForm::SetClientWidth(int width) {
    if (width <= 0 || width == ClientWidth())
        return;
    const int height = ClientHeight();
    window_->resize(width, height + NonClientHeight(width));
}

void GTForm::SetClientHeight(int height) {
    if (height <= 0 || height == ClientHeight())
        return;
    window_->resize(window_->width(), height + NonClientHeight(window_->width()));
}

void GTForm::SetClientSize(QSize size) {
    if (size.width() <= 0 || size.height() <= 0 || size == ClientSize())
        return;
    window_->resize(size.width(), size.height() + NonClientHeight(size.width()));
}

bool GTForm::IsMaximised() const {
    return window_->isMaximized();
}

int GTForm::WindowFontHeight() const {
    return FontHeightOf(ClientArea());
}

void GTForm::SetWindowFontHeight(int height) {
    SetFontHeightOf(ClientArea(), height);
}

std::vector<QWidget*> GTForm::Controls() const {
    std::vector<QWidget*> controls;
    const QWidget* menu = MenuWidget();
    const std::function<void(QWidget*)> collect = [&](QWidget* parent) {
        for (QObject* child : parent->children()) {
            auto* widget = qobject_cast<QWidget*>(child);
            if (widget == nullptr || widget->isWindow() || widget == menu)
                continue;
            const QString name = widget->objectName();
            if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
                continue;
            controls.push_back(widget);
            collect(widget);
        }
    };
    collect(ClientArea());
    return controls;
}

bool GTForm::KeepsFont(const QWidget* control) const {
    const QVariant tag = control->property("Tag");
    return (tag.isValid() ? tag.toInt() : 0) == ignoreTag_;
}

int GTForm::ScaledToScreen(int value, int designScreen, int screen) const {
    if (!sameSize_ || designScreen <= 0 || screen <= 0)
        return value;
    return Nearest(static_cast<long double>(value) * screen / designScreen);
}

// ---- Events --------------------------------------------------------------------------------

bool GTForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Polish:
        Create();
        break;
    case QEvent::Show:
        FormShow();
        break;
    case QEvent::WindowActivate:
        FormActivate();
        break;
    case QEvent::WindowDeactivate:
        FormDeactivate();
        break;
    case QEvent::Resize:
        FormResize();
        break;
    case QEvent::Close:
        return FormClose(static_cast<QCloseEvent*>(event));
    default:
        PassOn(event);
        break;
    }
    return false;
}

void GTForm::FormShow() {
    Create();
    if (ScreenSize().width() != lastScreen_.width()) {
        screenChangeForced_ = true;
        HandleResize(true);
    }
    if (GTOnShow)
        GTOnShow(window_);
}

void GTForm::FormActivate() {
    if (created_) {
        enabled_ = true;
        if (firstLayoutPending_ && !createdMaximised_)
            RestoreSnapshot();
    }
    if (GTOnActivate)
        GTOnActivate(window_);
}

void GTForm::FormDeactivate() {
    if (GTOnDeactivate)
        GTOnDeactivate(window_);
    enabled_ = false;
}

void GTForm::FormResize() {
    // Size changes of our own are part of a handling already running.
    if (ownChanges_ > 0 || resizeHandlings_ > 0)
        return;
    if (created_ && enabled_)
        HandleResize(false);
    else if (GTOnResize)
        GTOnResize(window_);
}

bool GTForm::FormClose(QCloseEvent* event) {
    bool canClose = true;
    if (GTOnCloseQuery)
        GTOnCloseQuery(window_, canClose);
    if (!canClose) {
        event->ignore();
        return true;
    }
    if (GTOnClose)
        GTOnClose(window_, event);
    return false;
}

void GTForm::PassOn(QEvent* event) {
    switch (event->type()) {
    case QEvent::Hide:
        if (GTOnHide)
            GTOnHide(window_);
        break;
    case QEvent::Paint:
        if (GTOnPaint)
            GTOnPaint(window_);
        break;
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (GTOnKeyDown)
            GTOnKeyDown(window_, key);
        if (GTOnKeyPress && !key->text().isEmpty())
            GTOnKeyPress(window_, key);
        break;
    }
    case QEvent::KeyRelease:
        if (GTOnKeyUp)
            GTOnKeyUp(window_, static_cast<QKeyEvent*>(event));
        break;
    case QEvent::MouseButtonPress:
        pressed_ = true;
        if (GTOnMouseDown)
            GTOnMouseDown(window_, static_cast<QMouseEvent*>(event));
        break;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (GTOnMouseUp)
            GTOnMouseUp(window_, mouse);
        if (pressed_ && mouse->button() == Qt::LeftButton && GTOnClick)
            GTOnClick(window_);
        pressed_ = false;
        break;
    }
    case QEvent::MouseButtonDblClick:
        if (GTOnDblClick)
            GTOnDblClick(window_);
        break;
    case QEvent::MouseMove:
        if (GTOnMouseMove)
            GTOnMouseMove(window_, static_cast<QMouseEvent*>(event));
        break;
    case QEvent::DragMove:
        if (GTOnDragOver)
            GTOnDragOver(window_, static_cast<QDragMoveEvent*>(event));
        break;
    case QEvent::Drop:
        if (GTOnDragDrop)
            GTOnDragDrop(window_, static_cast<QDropEvent*>(event));
        break;
    default:
        break;
    }
}

// ---- Creation ------------------------------------------------------------------------------

QSize GTForm::FittedClientSize() const {
    int right = 0;
    int bottom = 0;
    bool any = false;
    const QWidget* client = ClientArea();
    for (const QWidget* control : Controls()) {
        if (control->parentWidget() != client)
            continue;
        right = std::max(right, control->x() + control->width());
        bottom = std::max(bottom, control->y() + control->height());
        any = true;
    }
    QSize size = ClientSize();
    if (!any)
        return size;
    const QSize screen = ScreenSize();
    // Only the margins follow the screen; a design value that does not parse leaves its side.
    if (const DesignValue w = ParseDesign(designW_); w.Valid)
        size.setWidth(Nearest(static_cast<long double>(w.Margin) * screen.width() / w.Screen) +
                      right);
    if (const DesignValue h = ParseDesign(designH_); h.Valid)
        size.setHeight(Nearest(static_cast<long double>(h.Margin) * screen.height() / h.Screen) +
                       bottom);
    return size;
}

void GTForm::Create() {
    if (created_)
        return;
    created_ = true;
    CountIn own(ownChanges_);
    createdMaximised_ = IsMaximised();
    if (createdMaximised_)
        sameSize_ = false;

    SetClientSize({designClientWidth_, designClientHeight_});
    nonClientAtCreation_ = NonClientHeight(window_->width());
    nonClientCompensated_ = 0;

    SetClientSize(FittedClientSize());
    firstLayoutPending_ = true;

    referenceWidth_ = ClientWidth();
    referenceHeight_ = ClientHeight();
    referenceFontHeight_ = WindowFontHeight();
    lastScreen_ = ScreenSize();
    if (!hasSnapshot_)
        TakeSnapshot();

    active_ = true;
    enabled_ = true;

    if (!IsMaximised()) {
        const QSize fitted = FittedClientSize();
        referenceWidth_ = fitted.width();
        referenceHeight_ = fitted.height();
        ScaleLayout();
    }

    if (GTOnCreate)
        GTOnCreate(window_);

    if (!IsMaximised() && rtDisplayWidth_ != 0 && rtDisplayHeight_ != 0) {
        const DesignValue w = ParseDesign(designW_);
        const DesignValue h = ParseDesign(designH_);
        SetClientSize({ScaledToScreen(rtDisplayWidth_, w.Screen, lastScreen_.width()),
                       ScaledToScreen(rtDisplayHeight_, h.Screen, lastScreen_.height())});
    }

    TakeSnapshot();
    RecomputeLimits();
    RestoreSnapshot();
}

// ---- Resize handling -----------------------------------------------------------------------

void GTForm::HandleResize(bool fromScreenCheck) {
    {
        CountIn handling(resizeHandlings_);
        enabled_ = false;
        PaintFreeze freeze(window_);
        if (fromScreenCheck || !ApplyRtLimits()) {
            CheckScreenChange();
            if (IsMaximised())
                ScaleLayout(); // fills the screen; the aspect ratio gives way
            else
                KeepAspectRatio();
        }
    }
    if (resizeHandlings_ == 0)
        enabled_ = true;
}

// Returns true when the limits leave nothing to do but scale the layout, which is then done.
bool GTForm::ApplyRtLimits() {
    const DesignValue w = ParseDesign(designW_);
    const DesignValue h = ParseDesign(designH_);
    const QSize screen = ScreenSize();
    const QSize minimum(ScaledToScreen(rtMinimumWidth_, w.Screen, screen.width()),
                        ScaledToScreen(rtMinimumHeight_, h.Screen, screen.height()));
    const QSize maximum(ScaledToScreen(rtMaximumWidth_, w.Screen, screen.width()),
                        ScaledToScreen(rtMaximumHeight_, h.Screen, screen.height()));
    QSize size = ClientSize();
    if (minimum.width() != 0)
        size.setWidth(std::max(size.width(), minimum.width()));
    if (minimum.height() != 0)
        size.setHeight(std::max(size.height(), minimum.height()));
    if (maximum.width() != 0)
        size.setWidth(std::min(size.width(), maximum.width()));
    if (maximum.height() != 0)
        size.setHeight(std::min(size.height(), maximum.height()));
    {
        CountIn own(ownChanges_);
        SetClientSize(size);
    }
    if (ClientSize() == minimum || ClientSize() == maximum || !active_) {
        ScaleLayout();
        return true;
    }
    return false;
}

void GTForm::CheckScreenChange() {
    const QSize screen = ScreenSize();
    if (!IsMaximised() && (screen.width() != lastScreen_.width() || screenChangeForced_)) {
        const QSize snapshotSize(snapshotWindow_.ClientWidth, snapshotWindow_.ClientHeight);
        if (ClientSize() != snapshotSize || screenChangeForced_) {
            enabled_ = false;
            active_ = false;
            QSize target = snapshotSize;
            if (sameSize_ && lastScreen_.width() > 0 && lastScreen_.height() > 0)
                target = {Nearest(static_cast<long double>(target.width()) * screen.width() /
                                  lastScreen_.width()),
                          Nearest(static_cast<long double>(target.height()) * screen.height() /
                                  lastScreen_.height())};
            {
                CountIn own(ownChanges_);
                SetClientSize(target);
            }
            ScaleLayout();
        }
        RecomputeLimits();
        TakeSnapshot();
        RestoreSnapshot();
        enabled_ = true;
        active_ = true;
    }
    lastScreen_ = screen;
    screenChangeForced_ = false;
}

void GTForm::KeepAspectRatio() {
    if (Nearest(snapshotWindow_.ClientHeight / 3.0L) >= referenceHeight_ ||
        Nearest(snapshotWindow_.ClientWidth / 3.0L) >= referenceWidth_)
        RestoreSnapshot();
    if (aspectRatio_ <= 0) {
        ScaleLayout();
        return;
    }
    if (ClientWidth() != referenceWidth_) {
        ScaleLayout(); // the width step: fonts follow the height, which has not moved yet
        referenceHeight_ = ClientHeight();
        CountIn own(ownChanges_);
        SetClientHeight(Nearest(ClientWidth() * static_cast<long double>(aspectRatio_)));
    } else {
        CountIn own(ownChanges_);
        SetClientWidth(Nearest(ClientHeight() / static_cast<long double>(aspectRatio_)));
    }
    ScaleLayout();
}

// ---- Scaling -------------------------------------------------------------------------------

void GTForm::ScaleLayout() {
    if (ScreenSize().width() != lastScreen_.width() && resizeHandlings_ == 0) {
        HandleResize(true);
        return;
    }
    if (createdMaximised_ && !IsMaximised()) {
        createdMaximised_ = false;
        RestoreSnapshot();
        return;
    }
    if (busy_)
        return;
    FlagOn busy(busy_);
    CountIn own(ownChanges_);
    activeControl_ = window_->focusWidget();

    CompensateNonClientHeight();
    if (Nearest(snapshotWindow_.ClientHeight / 3.0L) >= referenceHeight_)
        RestoreSnapshot();

    if (ClientHeight() < FontFloorHeight && !limitsHit_ && !firstLayoutPending_) {
        RefocusActiveControl();
        if (!IsMaximised()) {
            SetClientSize({std::max(ClientWidth(), referenceWidth_),
                           std::max(ClientHeight(), referenceHeight_)});
            if (active_)
                HandleResize(true);
        }
    }
    if (ClientSize() == QSize(referenceWidth_, referenceHeight_))
        return;
    if (referenceWidth_ <= 0 || referenceHeight_ <= 0) {
        referenceWidth_ = ClientWidth();
        referenceHeight_ = ClientHeight();
        return;
    }

    limitsHit_ = false;
    if (!IsMaximised())
        EnforceMinimumSize();

    const long double fontFactor = FontFactor();
    ScaleControls(fontFactor);
    SetWindowFontHeight(Nearest(referenceFontHeight_ * fontFactor));

    referenceWidth_ = ClientWidth();
    referenceHeight_ = ClientHeight();
    referenceFontHeight_ = WindowFontHeight();
    RefocusActiveControl();
    firstLayoutPending_ = false;
    if (GTOnResize)
        GTOnResize(window_);
}

// A menu bar that wraps takes its extra rows from the client area: give them back.
void GTForm::CompensateNonClientHeight() {
    const int change =
        NonClientHeight(window_->width()) - nonClientAtCreation_ - nonClientCompensated_;
    if (change == 0)
        return;
    SetClientHeight(ClientHeight() + change);
    nonClientCompensated_ += change;
}

void GTForm::EnforceMinimumSize() {
    const long double width = ClientWidth();
    const long double height = ClientHeight();
    const int scaledWidth = Nearest(width * limitRect_.Right / referenceWidth_) -
                            Nearest(width * limitRect_.Left / referenceWidth_);
    if (scaledWidth < minimumWidth_) {
        SetClientWidth(Nearest(minimumWidth_ / (widthRatio_ > 0 ? widthRatio_ : 1.0L)));
        limitsHit_ = true;
    }
    const int scaledHeight = Nearest(height * limitRect_.Bottom / referenceHeight_) -
                             Nearest(height * limitRect_.Top / referenceHeight_);
    if (scaledHeight < minimumHeight_) {
        SetClientHeight(Nearest(minimumHeight_ / (heightRatio_ > 0 ? heightRatio_ : 1.0L)));
        limitsHit_ = true;
    }
}

long double GTForm::FontFactor() {
    const long double width = ClientWidth();
    const long double height = ClientHeight();
    if (height < FontFloorHeight)
        return 1.0L;
    // Maximised, the fonts follow the width: the height the window would have at this width.
    if (IsMaximised() && !maximisedFontRule_) {
        maximisedFontRule_ = true;
        return width * aspectRatio_ / referenceHeight_;
    }
    if (maximisedFontRule_) {
        maximisedFontRule_ = false;
        return height / (referenceWidth_ * static_cast<long double>(aspectRatio_));
    }
    return height / referenceHeight_;
}

void GTForm::ScaleControls(long double fontFactor) {
    const long double width = ClientWidth();
    const long double height = ClientHeight();
    const auto scaleX = [&](int x) { return Nearest(x * width / referenceWidth_); };
    const auto scaleY = [&](int y) { return Nearest(y * height / referenceHeight_); };
    for (QWidget* control : Controls()) {
        const QRect bounds = control->geometry();
        const int left = scaleX(bounds.x());
        const int top = scaleY(bounds.y());
        const int right = scaleX(bounds.x() + bounds.width());
        const int bottom = scaleY(bounds.y() + bounds.height());
        control->setGeometry(left, top, right - left, bottom - top);
        if (!KeepsFont(control) && HasOwnFont(control))
            SetFontHeightOf(control, Nearest(fontFactor * FontHeightOf(control)));
    }
    limitRect_ = {scaleX(limitRect_.Left), scaleY(limitRect_.Top), scaleX(limitRect_.Right),
                  scaleY(limitRect_.Bottom)};
}

void GTForm::RefocusActiveControl() {
    if (activeControl_ != nullptr && activeControl_->isVisible())
        activeControl_->setFocus();
}

// ---- Snapshot and limits -------------------------------------------------------------------

void GTForm::TakeSnapshot() {
    snapshotControls_.clear();
    snapshotWindow_ = {ClientWidth(), ClientHeight(), WindowFontHeight()};
    aspectRatio_ =
        snapshotWindow_.ClientWidth > 0
            ? static_cast<double>(snapshotWindow_.ClientHeight) / snapshotWindow_.ClientWidth
            : 0.0;
    // Records are kept by control, so a control made after the snapshot is never given another's.
    for (QWidget* control : Controls()) {
        ControlRecord record{control, control->geometry()};
        if (HasOwnFont(control)) {
            record.HasFont = true;
            record.FontHeight = FontHeightOf(control);
        }
        snapshotControls_.push_back(record);
    }
    hasSnapshot_ = true;
}

void GTForm::RecomputeLimits() {
    limitRect_ = {0, 0, referenceWidth_, referenceHeight_};
    minimumWidth_ = Nearest(0.25L * referenceWidth_);
    minimumHeight_ = Nearest(0.25L * referenceHeight_);
    if (ClientWidth() > 0)
        widthRatio_ =
            std::max(widthRatio_,
                     static_cast<long double>(limitRect_.Right - limitRect_.Left) / ClientWidth());
    if (ClientHeight() > 0)
        heightRatio_ =
            std::max(heightRatio_,
                     static_cast<long double>(limitRect_.Bottom - limitRect_.Top) / ClientHeight());
}

void GTForm::RestoreSnapshot() {
    if (!hasSnapshot_)
        return;
    CountIn own(ownChanges_);
    PaintFreeze freeze(window_);
    // Twice: the second pass settles what the first one's size changes moved.
    for (int pass = 0; pass < 2; ++pass) {
        enabled_ = false;
        active_ = false;
        SetClientHeight(snapshotWindow_.ClientHeight);
        SetClientWidth(snapshotWindow_.ClientWidth);
        SetWindowFontHeight(snapshotWindow_.FontHeight);
        for (const ControlRecord& record : snapshotControls_) {
            if (record.Control == nullptr)
                continue;
            record.Control->setGeometry(record.Bounds);
            if (record.HasFont)
                SetFontHeightOf(record.Control, record.FontHeight);
        }
        referenceWidth_ = ClientWidth();
        referenceHeight_ = ClientHeight();
        referenceFontHeight_ = WindowFontHeight();
        RecomputeLimits();
    }
    active_ = true;
    enabled_ = true;
}
