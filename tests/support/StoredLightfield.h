#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <sstream>
#include <stdexcept>

// A .lf2d file as bytes, for tests that check what a tool wrote texel by texel.
struct Lightfield
{
    QString header; // the nine values, single spaces between them
    int width = 0;
    int height = 0;
    int columns = 0;
    int rows = 0;
    bool hdr = false;
    bool hasDisparity = false;
    int maxDisparity = 0;
    QByteArray bytes;
    std::size_t dataOffset = 0;

    std::size_t imageBytes() const { return std::size_t(width) * height * 4; }

    // The texel at (x, y), y counted from the top, of the colour or disparity image of the view at
    // (column, row); rows are stored bottom row first.
    const std::uint8_t *texel(int column, int row, int x, int y, bool disparity = false) const
    {
        const std::size_t image = (std::size_t(row) * columns + column) * (hasDisparity ? 2 : 1);
        const std::size_t pixel = std::size_t(height - 1 - y) * width + x;
        return reinterpret_cast<const std::uint8_t *>(bytes.constData()) + dataOffset
            + (image + disparity) * imageBytes() + pixel * 4;
    }
};

// Reads the header the way the viewer does: nine integers, then exactly one separator byte.
inline Lightfield readLightfield(const QString &path)
{
    QFile file(path);
    Lightfield lightfield;
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot open " + path.toStdString());
    lightfield.bytes = file.readAll();
    std::istringstream stream(lightfield.bytes.left(200).toStdString());
    std::array<int, 9> values {};
    for (int &value : values)
        stream >> value;
    if (!stream || stream.get() != '\n')
        throw std::runtime_error("malformed header in " + path.toStdString());
    lightfield.dataOffset = std::size_t(stream.tellg());
    QStringList texts;
    for (int value : values)
        texts << QString::number(value);
    lightfield.header = texts.join(' ');
    lightfield.width = values[0];
    lightfield.height = values[1];
    lightfield.columns = values[3];
    lightfield.rows = values[3] > 0 ? values[2] / values[3] : 0;
    lightfield.hdr = values[6] != 0;
    lightfield.hasDisparity = values[7] != 0;
    lightfield.maxDisparity = values[8];
    return lightfield;
}
