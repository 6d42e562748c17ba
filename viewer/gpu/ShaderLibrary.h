#pragma once

#include <iterator>

class QOpenGLShaderProgram;
class QString;
class QStringList;

// The shader programs of the viewer, known by their fragment shader files. Each is linked from
// its vertex shader, "UV.vert" unless the table names another, and its fragment shader, read at
// run time. A file is taken from "shaders/" under the
// current working directory when it is there, so that a shader being worked on wins over the
// installed one, and otherwise from the first of installedShaderDirectories() that has it. The
// programs are shared by the whole process and live until it ends.
enum class ShaderProgram : int
{
    BilateralTonemapping,
    LinearTonemapping,
    RgbeToFloat,
    SimpleWarp,
    ReinhardTonemapping,
    TonemappingCurve,
    DynamicReinhardTonemapping,
    MinMaxLuminance,
    MinMaxLuminanceLoop,
    NormalizeLuminance,
    NearestView,
    SearchBounds,
    NearbyDisparity,
    SampledOutlinesWarp,
    Refocus,
    SynthesisedDisparity,
    ReinhardTonemappingGivenContrast,
    ReinhardTonemappingOfRgbe,
    ReinhardTonemappingOfRgbeStretched,
    TonemappingCurveOfRgbe,
    DynamicReinhardTonemappingOnBaseColumn,
    DynamicReinhardTonemappingOnBaseRow,
    DynamicReinhardTonemappingOnBaseView,
};

struct ShaderProgramFile
{
    ShaderProgram program;
    const char *fragmentFile;
    // Macros defined for this program only, after the file's "#version" line, separated by
    // spaces: several programs may be variants of one source, each compiled with what it needs
    // and no more.
    const char *variant = nullptr;
    // The vertex stage: "UV.vert", which every pass's quad needs, or a file that also works out
    // what the fragment shader would otherwise derive from its uniforms at every pixel.
    const char *vertexFile = "UV.vert";
};

// Every program with its fragment shader, in the order they are loaded. To add a program, add
// its enumerator above and its row here; the registry and its tests follow this table.
inline constexpr ShaderProgramFile shaderProgramFiles[] = {
    {ShaderProgram::BilateralTonemapping, "rgbe2rgba8BilateralTonemapping.frag"},
    {ShaderProgram::LinearTonemapping, "rgbe2rgba8LinearTonemapping.frag"},
    {ShaderProgram::RgbeToFloat, "rgbe2rf.frag"},
    {ShaderProgram::SimpleWarp, "simpleWarp.frag"},
    {ShaderProgram::ReinhardTonemapping, "ReinhardTonemapping.frag", nullptr,
     "ReinhardTonemapping.vert"},
    {ShaderProgram::TonemappingCurve, "TonemappingCurveTonemapping.frag", nullptr,
     "TonemappingCurveTonemapping.vert"},
    {ShaderProgram::DynamicReinhardTonemapping, "DynamicReinhardTonemapping.frag", nullptr,
     "DynamicReinhardTonemapping.vert"},
    {ShaderProgram::MinMaxLuminance, "MinMaxLuminance.frag"},
    {ShaderProgram::MinMaxLuminanceLoop, "MinMaxLuminanceLoop.frag"},
    {ShaderProgram::NormalizeLuminance, "NormalizeLuminance.frag"},
    {ShaderProgram::NearestView, "simpleWarp.frag", "NEAREST_VIEW"},
    {ShaderProgram::SearchBounds, "simpleWarp.frag", "SEARCH_BOUNDS"},
    {ShaderProgram::NearbyDisparity, "simpleWarp.frag", "NEARBY_DISPARITY"},
    {ShaderProgram::SampledOutlinesWarp, "simpleWarp.frag", "SAMPLED_OUTLINES"},
    {ShaderProgram::Refocus, "simpleWarp.frag", "REFOCUS"},
    {ShaderProgram::SynthesisedDisparity, "simpleWarp.frag", "SYNTHESISED_DISPARITY"},
    {ShaderProgram::ReinhardTonemappingGivenContrast, "ReinhardTonemapping.frag", "GIVEN_CONTRAST",
     "ReinhardTonemapping.vert"},
    {ShaderProgram::ReinhardTonemappingOfRgbe, "ReinhardTonemapping.frag",
     "GIVEN_CONTRAST RGBE_INPUT", "ReinhardTonemapping.vert"},
    {ShaderProgram::ReinhardTonemappingOfRgbeStretched, "ReinhardTonemapping.frag",
     "GIVEN_CONTRAST RGBE_INPUT FIXED_STRETCH", "ReinhardTonemapping.vert"},
    {ShaderProgram::TonemappingCurveOfRgbe, "TonemappingCurveTonemapping.frag", "RGBE_INPUT",
     "TonemappingCurveTonemapping.vert"},
    {ShaderProgram::DynamicReinhardTonemappingOnBaseColumn, "DynamicReinhardTonemapping.frag",
     "ON_BASE_COLUMN", "DynamicReinhardTonemapping.vert"},
    {ShaderProgram::DynamicReinhardTonemappingOnBaseRow, "DynamicReinhardTonemapping.frag",
     "ON_BASE_ROW", "DynamicReinhardTonemapping.vert"},
    {ShaderProgram::DynamicReinhardTonemappingOnBaseView, "DynamicReinhardTonemapping.frag",
     "ON_BASE_COLUMN ON_BASE_ROW", "DynamicReinhardTonemapping.vert"},
};

inline constexpr int shaderProgramCount = int(std::size(shaderProgramFiles));

// The registry indexes the table by enumerator.
constexpr bool shaderTableFollowsEnumeration()
{
    for (int index = 0; index < shaderProgramCount; ++index) {
        if (int(shaderProgramFiles[index].program) != index)
            return false;
    }
    return true;
}
static_assert(shaderTableFollowsEnumeration(),
              "shaderProgramFiles must list the programs in order");

// The fragment shader file of a program, e.g. "simpleWarp.frag".
QString shaderFileName(ShaderProgram program);

// The shared program. Callers bind it, set uniforms and release it; they never relink it.
QOpenGLShaderProgram &shaderProgram(ShaderProgram program);

// Where the shaders installed with the program lie, searched in this order for a file that
// "shaders/" under the working directory lacks: "shaders" next to the executable (a build tree)
// and the project's data directory beside the executable's (an installed tree:
// /usr/bin/viewer-curve reads /usr/share/lightfield-viewer/shaders). Absolute paths.
QStringList installedShaderDirectories();

// Replaces those directories, for tests whose executable lies elsewhere than the programs'.
void setInstalledShaderDirectories(const QStringList &directories);

// Compiles and links all programs, in the order of the table, with the GL context that is current.
// A file found in no directory, one that cannot be read, and a program that does not compile or
// link raise a configuration error naming the file and the directories searched, or the driver's
// log: a pass drawn with an unlinked program would fall back to fixed-function texturing and show
// a wrong picture as if it were right. Runs once per process, as the programs cannot be rebuilt;
// later calls raise the first call's error again, if it had one.
void loadShaderPrograms();

// Whether a program linked, for tests and diagnostics.
bool isShaderProgramLinked(ShaderProgram program);
