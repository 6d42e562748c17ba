#pragma once

#include "FeatureLayers.h"
#include "LightfieldHeader.h"

#include <QUrl>

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Opens a .lf2d file and hands out its views one at a time, in file order (row by row, column by
// column), as freshly uploaded textures. Reading and uploading are separate layers: the
// constructor and readNextViewImages only read and check the file and need no OpenGL context, so
// they can be tested and fuzzed on their own; nextView needs the viewer's context to be current.
class LightfieldReader
{
public:
    // Raises a configuration error naming the file when it cannot be opened, its header is
    // malformed or it holds fewer bytes than the grid needs.
    explicit LightfieldReader(QUrl file);
    ~LightfieldReader();
    LightfieldReader(const LightfieldReader &) = delete;
    LightfieldReader &operator=(const LightfieldReader &) = delete;

    // What nextView does with a view's disparity image.
    enum class DisparityImage
    {
        Uploaded, // as the RgbeDisparity layer
        BytesOnly, // only read, into lastDisparityBytes(), for a caller that converts it itself
    };

    // The next view: LdrRgb (8-bit files) or RgbeImage (RGBE files), plus RgbeDisparity when the
    // file has disparity and it is to be uploaded. After rows × columns views it raises "No more
    // lightfield-views available!".
    FeatureLayers nextView(DisparityImage disparity = DisparityImage::Uploaded);

    // Receives one image of a view exactly as stored: viewBytes() bytes of RGBA8888 or RGBE, rows
    // bottom-up. The buffer is reused for the next view, so a sink copies what it keeps.
    using ImageSink =
        std::function<void(FeatureLayer layer, const std::vector<unsigned char> &bytes)>;
    // Reads the next view without OpenGL and hands each of its images to sink as soon as it is
    // read: the colour image (LdrRgb or RgbeImage), then RgbeDisparity when the file has
    // disparity, each in a buffer of its own. Counts the view as nextView does, and
    // raises the same errors: "No more lightfield-views available!" after the
    // grid, and "is truncated" when the file has shrunk since it was opened. nextView is this plus
    // an upload per image.
    void readNextViewImages(const ImageSink &sink);

    // The colour image of the view read last, exactly as stored (see ImageSink); empty before
    // the first. Valid until the next view is read: the statistics a plane stage takes of a view
    // cost less on these bytes than on a texture read back.
    const std::vector<unsigned char> &lastColourBytes() const { return m_buffer; }
    // The same for the view's disparity image; empty for files without disparity.
    const std::vector<unsigned char> &lastDisparityBytes() const { return m_disparityBuffer; }

    const LightfieldHeader &header() const { return m_header; }
    int width() const { return m_header.width; }
    int height() const { return m_header.height; }
    int rows() const { return m_header.rows; }
    int columns() const { return m_header.columns; }
    int viewSpacing() const { return m_header.viewSpacing; }
    int reservedValue() const { return m_header.reservedValue; }
    int maxDisparity() const { return m_header.maxDisparity; }
    bool isHdr() const { return m_header.isHdr; }
    bool hasDisparity() const { return m_header.hasDisparity; }
    int viewsRead() const { return m_viewsRead; }
    std::int64_t viewBytes() const { return m_header.viewBytes; }
    const std::string &fileName() const { return m_fileName; }

private:
    void requireViewsLeft() const;
    void requireTextureSizeWithinDriverLimit() const;
    void readImage(std::vector<unsigned char> &buffer);
    OwnedTexture upload(const std::vector<unsigned char> &bytes) const;

    LightfieldHeader m_header;
    std::unique_ptr<std::ifstream> m_stream;
    int m_viewsRead = 0;
    std::string m_fileName; // local path, for messages
    // The colour and the disparity image of one view, reused: a fresh buffer per image would be
    // zero-filled and, at its size, mapped afresh from the system every time.
    std::vector<unsigned char> m_buffer;
    std::vector<unsigned char> m_disparityBuffer;
};
