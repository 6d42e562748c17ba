#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

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
