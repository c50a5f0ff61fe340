#include "app/display_loss.h"

#include "runtime/message_box.h"
#include "runtime/signal_delivery.h"
#include "runtime/system_log.h"
#include "serial/platform/message_window.h"

#include <QCoreApplication>
#include <QString>
#include <QtGlobal>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Made before the exit handler is registered, so destroyed only after it ran.
std::function<void()>& Stop() {
    static std::function<void()> stop;
    return stop;
}

QtMessageHandler previousHandler = nullptr;
std::atomic<bool> stopping{false};

bool TellsDisplayLoss(const QString& message) {
    return message.contains(QStringLiteral("X11 connection broke")) ||
           message.contains(QStringLiteral("Wayland connection broke"));
}

void StopNow(const std::string& why, LogLevel level = LogLevel::Error) {
    if (stopping.exchange(true) || !Stop())
        return;
    // The broken connection must not be read again while the ports close.
    PumpOnlyPortMessages();
    const std::string text = why + ": every report line that came is written, held lines are saved";
    SystemLog(level, text);
    std::fprintf(stderr, "tolvane: %s\n", text.c_str());
    Stop()();
    std::fflush(nullptr);
}

void HandleQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtDebugMsg && type != QtInfoMsg && IsMainThread() && !stopping &&
        TellsDisplayLoss(message) && Stop()) {
        if (type != QtFatalMsg)
            previousHandler(type, context, message);
        StopNow("the display was lost");
        std::_Exit(1);
    }
    previousHandler(type, context, message);
}

// A logout, a shutdown or a kill: the program ends as when its display goes, with status 0.
void EndBySignal(int number) {
    if (!Stop()) {
        QCoreApplication::quit();
        return;
    }
    StopNow(std::string("ended by SIG") + sigabbrev_np(number), LogLevel::Notice);
    std::_Exit(0);
}

void StopAtExit() {
    if (IsMainThread())
        StopNow("ended while its windows were open");
}

} // namespace

DisplayLossGuard::DisplayLossGuard(std::function<void()> stop) {
    Stop() = std::move(stop);
    static const bool registered = std::atexit(StopAtExit) == 0;
    (void)registered;
    previousHandler = qInstallMessageHandler(HandleQtMessage);
    terminationSignals_ = std::make_unique<SignalDelivery>(
        std::initializer_list<int>{SIGTERM, SIGINT, SIGHUP}, EndBySignal);
}

DisplayLossGuard::~DisplayLossGuard() {
    terminationSignals_.reset();
    qInstallMessageHandler(previousHandler);
    Stop() = {};
}
