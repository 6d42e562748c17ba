// libFuzzer target: any bytes as the start of a .lf2d file. Parsing must end in a header whose
// sizes are consistent with the file, or in a configuration error; never in a crash, a hang or an
// unchecked size.
#include "lightfield/LightfieldHeader.h"

#include <climits>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    std::istringstream stream(bytes);
    try {
        const LightfieldHeader header = readLightfieldHeader(stream, std::int64_t(size), "fuzz");
        const bool consistent = header.width >= 1 && header.height >= 1 && header.columns >= 1
            && header.rows >= 1 && header.viewSpacing >= 1 && header.maxDisparity >= 0
            && header.viewBytes == std::int64_t(header.width) * header.height * 4
            && header.viewBytes <= INT_MAX && header.dataOffset >= 1
            && header.dataOffset <= std::int64_t(size) && header.gridBytes() >= 0
            && header.gridBytes() <= std::int64_t(size) - header.dataOffset
            && std::int64_t(header.rows) * header.columns <= header.viewCount;
        if (!consistent)
            std::abort();
    } catch (const std::string &message) {
        if (message.empty())
            std::abort();
    }
    return 0;
}
