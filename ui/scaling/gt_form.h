#pragma once
// GTForm: a non-visual component owned by a window. At creation it fits the window's client area
// to the screen; whenever the window is resized it scales the position, size and font of every
// control in proportion, keeping the window's aspect ratio.
//
// How the window is seen here:
// - The client area of a QMainWindow is its central area: the window's rect below the menu bar
//   (the menu bar's height is the non-client height; tool and status bars are not used). For any
//   other window it is the whole rect.
// - The controls are the named widgets below the client area, depth first in creation order, with
//   bounds relative to their parent. Windows, and the unnamed or "qt_"-named widgets Qt builds
//   inside its own controls (viewports, scroll bars), are not controls.
// - Font heights are signed as in the layout: -13 is a character height of 13 pixels (QFont pixel
//   size). A control without a font of its own (no Qt::WA_SetFont) follows its parent. The
//   window's font is the client area's font, so the menu bar keeps its own.
// - A control's Tag is its dynamic property "Tag" (0 when absent).
// - The window's events reach the component through an event filter. Its create event is the
//   window's first Polish or Show event, unless Create() ran earlier. The window's own handlers
//   for the events below are the GTOn... members: the component calls them in their place.
//   Qt still sends a window events (hide, deactivate) while it is being destroyed, after its
//   derived part is gone: a window that sets handlers deletes the component in its destructor.

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <vector>

class QCloseEvent;
class QDragMoveEvent;
class QDropEvent;
class QKeyEvent;
class QMouseEvent;
class QWidget;

class GTForm : public QObject {
    Q_OBJECT

public:
    explicit GTForm(QWidget* owner);
    ~GTForm() override;
    GTForm(const GTForm&) = delete;
    GTForm& operator=(const GTForm&) = delete;

    // Design screen size and margin, "1680-0": taken only while still empty, at most 15 characters.
    QString GTDesignW() const { return designW_; }
    void SetGTDesignW(const QString& value);
    QString GTDesignH() const { return designH_; }
    void SetGTDesignH(const QString& value);
    // The designed client size; assigning one also sets the window's client width or height.
    int GTClientWidth() const { return designClientWidth_; }
    void SetGTClientWidth(int value);
    int GTClientHeight() const { return designClientHeight_; }
    void SetGTClientHeight(int value);
    bool SameSize() const { return sameSize_; }
    void SetSameSize(bool value) { sameSize_ = value; }
    // Client area limits applied on every resize; 0 means none.
    int RtMinimumWidth() const { return rtMinimumWidth_; }
    void SetRtMinimumWidth(int value) { rtMinimumWidth_ = value; }
    int RtMinimumHeight() const { return rtMinimumHeight_; }
    void SetRtMinimumHeight(int value) { rtMinimumHeight_ = value; }
    int RtMaximumWidth() const { return rtMaximumWidth_; }
    void SetRtMaximumWidth(int value) { rtMaximumWidth_ = value; }
    int RtMaximumHeight() const { return rtMaximumHeight_; }
    void SetRtMaximumHeight(int value) { rtMaximumHeight_ = value; }
    // The client size given at creation when both are non-zero.
    int RtDisplayWidth() const { return rtDisplayWidth_; }
    void SetRtDisplayWidth(int value) { rtDisplayWidth_ = value; }
    int RtDisplayHeight() const { return rtDisplayHeight_; }
    void SetRtDisplayHeight(int value) { rtDisplayHeight_ = value; }
    // A control whose Tag equals this keeps its font size when scaled.
    int IgnoreTag() const { return ignoreTag_; }
    void SetIgnoreTag(int value) { ignoreTag_ = value; }
    // Whether the resize handling is hooked in; the component turns it on itself.
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }

    // The window's own handlers, called by the component.
    using TNotifyEvent = std::function<void(QWidget* sender)>;
    TNotifyEvent GTOnActivate, GTOnClick, GTOnCreate, GTOnDblClick, GTOnDeactivate, GTOnHide,
        GTOnPaint, GTOnResize, GTOnShow;
    std::function<void(QWidget* sender, QCloseEvent* event)> GTOnClose;
    std::function<void(QWidget* sender, bool& canClose)> GTOnCloseQuery;
    std::function<void(QWidget* sender, QDropEvent* event)> GTOnDragDrop;
    std::function<void(QWidget* sender, QDragMoveEvent* event)> GTOnDragOver;
    std::function<void(QWidget*sender, QKeyEvent*event)> GTOnKeyDown, GTOnKeyPress, GTOnKeyUp;
    std::function<void(QWidget*sender, QMouseEvent*event)> GTOnMouseDown, GTOnMouseMove,
        GTOnMouseUp;

    // The create handling: fits the window to the screen and takes the snapshot. Runs once; the
    // window's first Polish or Show runs it if the window has not called it.
    void Create();

    // The window's client area as this component sees it.
    int ClientWidth() const;
    int ClientHeight() const;

    // Where the screen's size comes from; empty means the primary screen. Returns the previous one.
    using ScreenSizeFunction = std::function<QSize()>;
    static ScreenSizeFunction SetScreenSizeFunction(ScreenSizeFunction function);
    static QSize ScreenSize();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct ControlRecord {
        QPointer<QWidget> Control;
        QRect Bounds;
        bool HasFont = false;
        int FontHeight = 0;
    };
    struct WindowRecord {
        int ClientWidth = 0;
        int ClientHeight = 0;
        int FontHeight = 0;
    };
    // Left, top, right and bottom edges; right and bottom lie just outside the rectangle.
    struct Edges {
        int Left = 0, Top = 0, Right = 0, Bottom = 0;
    };

    // The window's events.
    void FormShow();
    void FormActivate();
    void FormDeactivate();
    void FormResize();
    bool FormClose(QCloseEvent* event);
    void PassOn(QEvent* event);

    // The steps of the scaling.
    QSize FittedClientSize() const;
    void HandleResize(bool fromScreenCheck);
    bool ApplyRtLimits();
    void CheckScreenChange();
    void KeepAspectRatio();
    void ScaleLayout();
    void CompensateNonClientHeight();
    void EnforceMinimumSize();
    long double FontFactor();
    void ScaleControls(long double fontFactor);
    void TakeSnapshot();
    void RecomputeLimits();
    void RestoreSnapshot();
    void RefocusActiveControl();

    // Window access.
    QWidget* ClientArea() const;
    QWidget* MenuWidget() const;
    int NonClientHeight(int width) const;
    QSize ClientSize() const { return {ClientWidth(), ClientHeight()}; }
    void SetClientWidth(int width);
    void SetClientHeight(int height);
    void SetClientSize(QSize size);
    bool IsMaximised() const;
    int WindowFontHeight() const;
    void SetWindowFontHeight(int height);
    std::vector<QWidget*> Controls() const;
    bool KeepsFont(const QWidget* control) const;
    int ScaledToScreen(int value, int designScreen, int screen) const;

    QWidget* window_;

    QString designW_, designH_;
    int designClientWidth_ = 0, designClientHeight_ = 0;
    bool sameSize_ = false;
    int rtMinimumWidth_ = 0, rtMinimumHeight_ = 0, rtMaximumWidth_ = 0, rtMaximumHeight_ = 0;
    int rtDisplayWidth_ = 0, rtDisplayHeight_ = 0;
    int ignoreTag_ = 1;
    bool enabled_ = false;

    // The size and font the current layout corresponds to.
    int referenceWidth_ = 0, referenceHeight_ = 0, referenceFontHeight_ = 0;
    bool hasSnapshot_ = false;
    WindowRecord snapshotWindow_;
    std::vector<ControlRecord> snapshotControls_;
    double aspectRatio_ = 0;
    QSize lastScreen_;
    int nonClientAtCreation_ = 0, nonClientCompensated_ = 0;
    int minimumWidth_ = 0, minimumHeight_ = 0;
    Edges limitRect_;
    long double widthRatio_ = 0, heightRatio_ = 0;
    QPointer<QWidget> activeControl_;

    bool created_ = false;
    bool active_ = false;
    bool busy_ = false;
    bool createdMaximised_ = false;
    bool firstLayoutPending_ = false;
    bool limitsHit_ = false;
    bool screenChangeForced_ = false;
    // The last scaling took the font factor from the width while maximised.
    bool maximisedFontRule_ = false;
    // Resize handlings running (they nest), and size changes of our own in progress: the resize
    // events these raise are not handled again.
    int resizeHandlings_ = 0;
    int ownChanges_ = 0;
    // The last mouse press landed on the window itself, so its release is a click.
    bool pressed_ = false;
};
