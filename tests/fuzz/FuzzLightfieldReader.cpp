// libFuzzer target: any bytes as a whole .lf2d file, read the way the viewer reads it, from a file
// on disk, header first and then every view's images, without the upload to GL. A file must be
// refused with a configuration error when it is opened, or give exactly the grid's views, each
// image the bytes stored at its place in the file, and then the end-of-views error; never a crash,
// a hang, an allocation larger than the file or a view made of bytes that were not read.
#include "lightfield/LightfieldHeader.h"
#include "lightfield/LightfieldReader.h"

#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// The reader opens files by name, so each input goes through a file of this process's own, which
// parallel fuzzing jobs do not share. libFuzzer may end the process without running exit
// handlers, so the file is removed after every input; a crashing input leaves it behind.
std::string inputPath;

void writeInput(const std::uint8_t *data, std::size_t size)
{
    std::FILE *file = std::fopen(inputPath.c_str(), "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror(inputPath.c_str());
        std::abort();
    }
}

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "broken expectation: %s\n", what);
        std::abort();
    }
}

// Where the pixels start, as the header parser finds it: the oracle for the bytes the reader hands
// out. The reader has accepted the file, so the parser accepts the same bytes.
std::int64_t dataOffsetOf(const std::uint8_t *data, std::size_t size)
{
    std::istringstream stream(std::string(reinterpret_cast<const char *>(data), size));
    return readLightfieldHeader(stream, std::int64_t(size), "fuzz").dataOffset;
}

void readEveryView(LightfieldReader &reader, const std::uint8_t *data, std::size_t size)
{
    const int viewCount = reader.rows() * reader.columns();
    const int imagesPerView = reader.hasDisparity() ? 2 : 1;
    const std::int64_t viewBytes = reader.viewBytes();
    require(viewBytes == std::int64_t(reader.width()) * reader.height() * 4, "viewBytes");
    const std::int64_t dataOffset = dataOffsetOf(data, size);
    require(dataOffset + std::int64_t(viewCount) * imagesPerView * viewBytes <= std::int64_t(size),
            "the grid fits in the file");

    std::int64_t offset = dataOffset;
    for (int view = 0; view < viewCount; ++view) {
        int image = 0;
        reader.readNextViewImages([&](FeatureLayer layer, const std::vector<unsigned char> &bytes) {
            const FeatureLayer colour = reader.isHdr() ? RgbeImage : LdrRgb;
            require(layer == (image == 0 ? colour : RgbeDisparity), "layers in order");
            require(std::int64_t(bytes.size()) == viewBytes, "image size");
            require(std::memcmp(bytes.data(), data + offset, bytes.size()) == 0,
                    "image bytes as stored");
            offset += viewBytes;
            ++image;
        });
        require(image == imagesPerView && reader.viewsRead() == view + 1, "whole view read");
    }

    try {
        reader.readNextViewImages([](FeatureLayer, const std::vector<unsigned char> &) {
            require(false, "no view after the grid");
        });
    } catch (const std::string &message) {
        require(message == "No more lightfield-views available!", "end-of-views message");
        return;
    }
    require(false, "end of views raised");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    inputPath = (std::filesystem::temp_directory_path()
                 / ("fuzz-lightfield-reader-" + std::to_string(getpid()) + ".lf2d"))
                    .string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    writeInput(data, size);
    bool opened = false;
    try {
        LightfieldReader reader(QUrl::fromLocalFile(QString::fromStdString(inputPath)));
        opened = true;
        readEveryView(reader, data, size);
    } catch (const std::string &message) {
        // Refusing a file is expected, but only when it is opened: an accepted file that has not
        // changed since must give all its views.
        require(!message.empty(), "a message");
        require(!opened, "no error after the file was accepted");
    }
    std::remove(inputPath.c_str());
    return 0;
}
