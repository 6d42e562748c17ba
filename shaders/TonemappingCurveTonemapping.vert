#version 330 compatibility

// The vertex stage of "TonemappingCurveTonemapping.frag": the curve's log-luminance axis, worked
// out once a corner here rather than once a pixel there. The corners all agree, so flat outputs
// carry it.

uniform float minimumLuminance;
uniform float maximumLuminance;

out vec2 uv;
// ln minimumLuminance and the axis's length, ln maximumLuminance − ln minimumLuminance.
flat out vec2 curveAxis;

void main()
{
    gl_Position = gl_Vertex;
    uv = gl_MultiTexCoord0.st;
    float lnMinimum = log(minimumLuminance);
    curveAxis = vec2(lnMinimum, log(maximumLuminance) - lnMinimum);
}
