#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>

#include <functional>

// Answers the next modal file dialog once it is open: chooses the path and accepts, or cancels
// when the path is empty. inspect sees the dialog first.
inline void answerNextFileDialog(const QString &path,
                                 std::function<void(QFileDialog *)> inspect = {})
{
    auto *poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, path, inspect] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        if (inspect)
            inspect(dialog);
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        // As a user would: go to the file's directory and type its name. selectFile alone leaves
        // the name field alone while it has the focus.
        dialog->selectFile(path);
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(QFileInfo(path).fileName());
        QMetaObject::invokeMethod(dialog, "accept");
    });
    poll->start();
}
