#pragma once

#include <iterator>

class QOpenGLShaderProgram;
class QString;

// The shader programs of the viewer, known by their fragment shader files. Each is linked from
// "UV.vert" and its fragment shader, read at run time from "shaders/" under the current working
// directory. The programs are shared by the whole process and live until it ends.
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
};

struct ShaderProgramFile
{
    ShaderProgram program;
    const char *fragmentFile;
};

// Every program with its fragment shader, in the order they are loaded. To add a program, add
// its enumerator above and its row here; the registry and its tests follow this table.
inline constexpr ShaderProgramFile shaderProgramFiles[] = {
    {ShaderProgram::BilateralTonemapping, "rgbe2rgba8BilateralTonemapping.frag"},
    {ShaderProgram::LinearTonemapping, "rgbe2rgba8LinearTonemapping.frag"},
    {ShaderProgram::RgbeToFloat, "rgbe2rf.frag"},
    {ShaderProgram::SimpleWarp, "simpleWarp.frag"},
    {ShaderProgram::ReinhardTonemapping, "ReinhardTonemapping.frag"},
    {ShaderProgram::TonemappingCurve, "TonemappingCurveTonemapping.frag"},
    {ShaderProgram::DynamicReinhardTonemapping, "DynamicReinhardTonemapping.frag"},
    {ShaderProgram::MinMaxLuminance, "MinMaxLuminance.frag"},
    {ShaderProgram::MinMaxLuminanceLoop, "MinMaxLuminanceLoop.frag"},
    {ShaderProgram::NormalizeLuminance, "NormalizeLuminance.frag"},
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

// Compiles and links all programs, in the order of the table, with the GL context that is current.
// A missing file or a failed compile or link stops nothing: the toolkit warns with the driver's
// log and the program stays unlinked. Runs once per process; later calls do nothing, as the
// programs cannot be rebuilt.
void loadShaderPrograms();

// Whether a program linked, for tests and diagnostics.
bool isShaderProgramLinked(ShaderProgram program);
