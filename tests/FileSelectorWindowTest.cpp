#include "app/FileSelectorWindow.h"
#include "support/DialogAnswer.h"
#include "viewer/LightfieldRenderer.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

// The selector window: its widgets and texts, its two states, and the file dialog it runs.
// Starting the viewer is covered with the viewer window.
class FileSelectorWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_directory;

    struct CloseCounter : QObject
    {
        int count = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            count += event->type() == QEvent::Close;
            return false;
        }
    };

    static QPushButton *button(FileSelectorWindow &window, const QString &text)
    {
        for (QPushButton *candidate : window.findChildren<QPushButton *>()) {
            if (candidate->text() == text)
                return candidate;
        }
        return nullptr;
    }

    static QLineEdit *pathField(FileSelectorWindow &window)
    {
        return window.findChild<QLineEdit *>();
    }

    QString touch(const QString &name)
    {
        const QString path = m_directory.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        return path;
    }

private slots:
    void layoutAndTexts()
    {
        FileSelectorWindow window;
        auto *layout = qobject_cast<QGridLayout *>(window.layout());
        QVERIFY(layout);
        struct Cell
        {
            QString text;
            int row, column, rowSpan, columnSpan;
        };
        const QList<Cell> cells = {{"Lightfield:", 0, 0, 1, 1},
                                   {"Browse lightfield (required)", 0, 1, 1, 2},
                                   {"&Browse...", 0, 3, 1, 1},
                                   {"&Start viewer", 1, 2, 1, 1},
                                   {"&Close", 1, 3, 1, 1}};
        QCOMPARE(layout->count(), cells.size());
        for (const Cell &cell : cells) {
            bool found = false;
            for (int index = 0; index < layout->count(); ++index) {
                QWidget *widget = layout->itemAt(index)->widget();
                QString text;
                if (auto *label = qobject_cast<QLabel *>(widget))
                    text = label->text();
                else if (auto *edit = qobject_cast<QLineEdit *>(widget))
                    text = edit->text();
                else if (auto *push = qobject_cast<QPushButton *>(widget))
                    text = push->text();
                if (text != cell.text)
                    continue;
                found = true;
                int row, column, rowSpan, columnSpan;
                layout->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
                QCOMPARE(QVector<int>({row, column, rowSpan, columnSpan}),
                         QVector<int>({cell.row, cell.column, cell.rowSpan, cell.columnSpan}));
                QCOMPARE(widget->parent(), &window);
                QCOMPARE(layout->itemAt(index)->alignment(), Qt::Alignment());
            }
            QVERIFY2(found, qPrintable(cell.text));
        }
        // The path field is a text, not a placeholder, and the user never edits it.
        QLineEdit *field = pathField(window);
        QVERIFY(!field->isEnabled());
        QVERIFY(field->placeholderText().isEmpty());
        QCOMPARE(field->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(field->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
        QVERIFY(!button(window, "&Start viewer")->isEnabled());
        QVERIFY(button(window, "&Browse...")->isEnabled());
        QVERIFY(button(window, "&Close")->isEnabled());
    }

    void metaObject()
    {
        const QMetaObject &meta = FileSelectorWindow::staticMetaObject;
        QCOMPARE(QString::fromLatin1(meta.className()), QStringLiteral("FileSelectorWindow"));
        QCOMPARE(meta.methodCount() - meta.methodOffset(), 2);
        const QMetaMethod browse = meta.method(meta.methodOffset());
        const QMetaMethod open = meta.method(meta.methodOffset() + 1);
        QCOMPARE(browse.methodSignature(), QByteArray("browseLightfield()"));
        QCOMPARE(open.methodSignature(), QByteArray("openLightfieldViewer()"));
        for (const QMetaMethod &slot : {browse, open}) {
            QCOMPARE(slot.methodType(), QMetaMethod::Slot);
            QCOMPARE(slot.access(), QMetaMethod::Private);
            QCOMPARE(slot.returnType(), int(QMetaType::Void));
        }
        QCOMPARE(meta.propertyCount() - meta.propertyOffset(), 0);
        QCOMPARE(meta.classInfoCount(), 0);
    }

    void dialogAndStates()
    {
        FileSelectorWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QPushButton *browse = button(window, "&Browse...");
        QPushButton *start = button(window, "&Start viewer");

        // A cancelled first dialog leaves the selector without a file.
        QString title;
        QStringList filters;
        QString directory;
        answerNextFileDialog(QString(), [&](QFileDialog *dialog) {
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            directory = dialog->directory().absolutePath();
        });
        QTest::mouseClick(browse, Qt::LeftButton);
        QCOMPARE(title, QStringLiteral("Open lightfield file"));
        QCOMPARE(filters, QStringList({"2D Lightfield (*.lf2d)"}));
        // "C:/" does not exist here; the dialog opens in the working directory.
        QCOMPARE(directory, QDir::currentPath());
        QCOMPARE(pathField(window)->text(), QStringLiteral("Browse lightfield (required)"));
        QVERIFY(!start->isEnabled());
        QVERIFY(window.selectedFile().isEmpty());

        // A chosen path with spaces and non-ASCII letters shows percent-encoded.
        const QString spaced = touch(QStringLiteral("my light field ü.lf2d"));
        answerNextFileDialog(spaced);
        QTest::mouseClick(browse, Qt::LeftButton);
        QCOMPARE(window.selectedFile(), QUrl::fromLocalFile(spaced));
        QCOMPARE(pathField(window)->text(),
                 QStringLiteral("file://")
                     + QString(spaced)
                           .replace(' ', "%20")
                           .replace(QStringLiteral("ü"), QStringLiteral("%C3%BC")));
        QVERIFY(start->isEnabled());

        // A later cancel keeps the earlier choice; a later choice replaces it.
        answerNextFileDialog(QString());
        QTest::mouseClick(browse, Qt::LeftButton);
        QCOMPARE(window.selectedFile(), QUrl::fromLocalFile(spaced));
        QVERIFY(start->isEnabled());
        const QString other = touch(QStringLiteral("other.lf2d"));
        answerNextFileDialog(other);
        QTest::mouseClick(browse, Qt::LeftButton);
        QCOMPARE(window.selectedFile(), QUrl::fromLocalFile(other));
        QCOMPARE(pathField(window)->text(), QUrl::fromLocalFile(other).toString());
    }

    void closeButtonClosesTheSelector()
    {
        FileSelectorWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        CloseCounter closes;
        window.installEventFilter(&closes);
        QTest::mouseClick(button(window, "&Close"), Qt::LeftButton);
        // Closed, not just hidden: closing the last window is what ends the program.
        QVERIFY(!window.isVisible());
        QCOMPARE(closes.count, 1);
    }
};

int main(int argc, char *argv[])
{
    QSurfaceFormat::setDefaultFormat(viewerSurfaceFormat());
    QApplication application(argc, argv);
    // The test decides when the application ends, not the last closed window.
    application.setQuitOnLastWindowClosed(false);
    FileSelectorWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "FileSelectorWindowTest.moc"
