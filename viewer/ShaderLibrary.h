#pragma once

class QOpenGLShaderProgram;
class QString;

// The ten shader programs of the viewer, known by their fragment shader files. Each is linked
// from "UV.vert" and its fragment shader, read at run time from "shaders/" under the current
// working directory. The programs are shared by the whole process and live until it ends.
enum class ShaderProgram : int
{
    BilateralTonemapping, // "rgbe2rgba8BilateralTonemapping.frag"
    LinearTonemapping, // "rgbe2rgba8LinearTonemapping.frag"
    RgbeToFloat, // "rgbe2rf.frag"
    SimpleWarp, // "simpleWarp.frag"
    ReinhardTonemapping, // "ReinhardTonemapping.frag"
    TonemappingCurve, // "TonemappingCurveTonemapping.frag"
    DynamicReinhardTonemapping, // "DynamicReinhardTonemapping.frag"
    MinMaxLuminance, // "MinMaxLuminance.frag"
    MinMaxLuminanceLoop, // "MinMaxLuminanceLoop.frag"
    NormalizeLuminance, // "NormalizeLuminance.frag"
};

constexpr int shaderProgramCount = 10;

// The fragment shader file of a program, e.g. "simpleWarp.frag".
QString shaderFileName(ShaderProgram program);

// The shared program. Callers bind it, set uniforms and release it; they never relink it.
QOpenGLShaderProgram &shaderProgram(ShaderProgram program);

// Compiles and links all ten programs, in the order of the enumeration, with the GL context that
// is current. A missing file or a failed compile or link stops nothing: the toolkit warns with the
// driver's log and the program stays unlinked. Runs once per process; later calls do nothing, as
// the programs cannot be rebuilt.
void loadShaderPrograms();

// Whether a program linked, for tests and diagnostics.
bool isShaderProgramLinked(ShaderProgram program);
