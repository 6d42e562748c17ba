#pragma once

#include <QUrl>
#include <QWidget>

class QLineEdit;
class QPushButton;

// The program's first window: the user picks one .lf2d file and starts the viewer, which then
// replaces this window.
class FileSelectorWindow : public QWidget
{
    Q_OBJECT

public:
    explicit FileSelectorWindow(QWidget *parent = nullptr);
    ~FileSelectorWindow() override;

    QUrl selectedFile() const { return m_selectedFile; }

private slots:
    void browseLightfield();
    void openLightfieldViewer();

private:
    QUrl m_selectedFile; // empty until a dialog returned a file
    QLineEdit *m_pathField; // shows the selected URL, never editable
    QPushButton *m_startButton; // enabled once a file was selected
};
