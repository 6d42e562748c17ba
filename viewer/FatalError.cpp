#include "FatalError.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cstdio>

namespace {

std::function<void(const QString &)> &handler()
{
    static std::function<void(const QString &)> installed;
    return installed;
}

bool hasDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return qobject_cast<QApplication *>(QCoreApplication::instance())
        && platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace

void reportFatalError(const QString &message)
{
    if (handler()) {
        handler()(message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    if (hasDisplay()) {
        // The dialog is the last window; closing it must not end the program with status 0.
        QGuiApplication::setQuitOnLastWindowClosed(false);
        QMessageBox::critical(nullptr, QStringLiteral("Lightfield viewer"), message);
    }
    QCoreApplication::exit(1);
}

void setFatalErrorHandler(std::function<void(const QString &)> newHandler)
{
    handler() = std::move(newHandler);
}
