#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <string>

// Deterministic bytes that differ from texel to texel, so a misplaced byte shows.
inline QByteArray patternBytes(int count, int seed)
{
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i)
        bytes[i] = char((i * 7 + seed * 31 + (i / 5) * 3) & 0xFF);
    return bytes;
}

inline bool writeBytes(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size();
}

// Writes a file of the test's own into the directory and returns its path.
inline QString writeTestFile(const QTemporaryDir &directory, const QString &name,
                             const QByteArray &content)
{
    const QString path = directory.filePath(name);
    if (!writeBytes(path, content))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// The message of the configuration error that the action raises, or an empty string.
inline QString configurationErrorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const std::string &message) {
        return QString::fromStdString(message);
    }
    return QString();
}
