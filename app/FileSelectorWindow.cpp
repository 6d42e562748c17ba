#include "FileSelectorWindow.h"

#include "viewer/LightfieldRenderer.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

FileSelectorWindow::FileSelectorWindow(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QGridLayout(this);
    auto *label = new QLabel(tr("Lightfield:"));
    m_pathField = new QLineEdit(QStringLiteral("Browse lightfield (required)"));
    m_pathField->setEnabled(false);
    m_pathField->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *browseButton = new QPushButton(tr("&Browse..."), this);
    m_startButton = new QPushButton(tr("&Start viewer"), this);
    auto *closeButton = new QPushButton(tr("&Close"), this);

    layout->addWidget(label, 0, 0);
    layout->addWidget(m_pathField, 0, 1, 1, 2);
    layout->addWidget(browseButton, 0, 3);
    layout->addWidget(m_startButton, 1, 2);
    layout->addWidget(closeButton, 1, 3);

    connect(browseButton, &QPushButton::clicked, this, &FileSelectorWindow::browseLightfield);
    connect(m_startButton, &QPushButton::clicked, this, &FileSelectorWindow::openLightfieldViewer);
    m_startButton->setEnabled(false);
    connect(closeButton, SIGNAL(clicked()), this, SLOT(close()));
}

FileSelectorWindow::~FileSelectorWindow() = default;

void FileSelectorWindow::browseLightfield()
{
    const QUrl chosen = QFileDialog::getOpenFileUrl(this, tr("Open lightfield file"),
                                                    QUrl::fromLocalFile(QStringLiteral("C:/")),
                                                    tr("2D Lightfield (*.lf2d)"));
    // A cancelled dialog changes nothing.
    if (chosen.isEmpty())
        return;
    m_selectedFile = chosen;
    m_pathField->setText(QString::fromLatin1(chosen.toEncoded()));
    m_startButton->setEnabled(true);
}

void FileSelectorWindow::openLightfieldViewer()
{
    hide();
    // A file that is refused leaves the selector hidden, for the program to end with.
    if (openViewerWindow(m_selectedFile))
        close();
}
