#include "BgGLVis.h"

namespace
{
    const char* const vertexShaderBody =
        "layout(location = 0) in vec4 position;\n"
        "layout(location = 0) out vec2 fragPos;\n"
        "void main()\n"
        "{\n"
        "    gl_Position = position;\n"
        "    fragPos = position.xy;\n"
        "}\n";

    const char* const fragmentShaderBody =
        "uniform float time;\n"
        "uniform float random;\n"
        "uniform vec3 bgColour;\n"
        "uniform vec3 fgColour;\n"
        "uniform vec3 fgColour2;\n"
        "uniform float sampleL;\n"
        "uniform float sampleR;\n"
        "uniform float sampleAvg;\n"
        "layout(location = 0) in vec2 fragPos;\n"
        "layout(location = 0) out vec4 outcolour;\n"
        "void main()\n"
        "{\n"
        "    vec3 colour = bgColour;\n"
        "    float a = fragPos.x - (-1.0 + sampleL);\n"
        "    float b = (1.0 - sampleR) - fragPos.x;\n"
        "    colour = mix(fgColour, colour, a * 2.0);\n"
        "    colour = mix(fgColour, colour, b * 2.0);\n"
        "    colour = mix(fgColour2, colour, fragPos.y);\n"
        "    colour *= 0.3  + (sampleAvg * 0.0);\n"
        "    colour = mix(bgColour, colour, sin(fragPos.y * 3.14 * 48.0 + (time * 10)));\n"
        "    colour = mix(bgColour * 0.8, colour, abs(fragPos.y) * 0.5);\n"
        "    colour = mix(bgColour * 0.8, colour, 1.0 - (abs(fragPos.x) * 0.25));\n"
        "    outcolour = vec4(colour, 1.0);\n"
        "}\n";

    juce::String versionLine (int version)
    {
        return "#version " + juce::String (version) + "\n";
    }

    constexpr GLfloat fullScreen[] = { -1.0f, -1.0f, 1.0f, -1.0f, -1.0f, 1.0f,
                                       1.0f, -1.0f, 1.0f, 1.0f, -1.0f, 1.0f };
}

BgGLVis::BgGLVis()
{
    context.setRenderer (this);
    // Frames are asked for by the editor's display timer (framesPerSecond):
    // left to run freely, the context renders as fast as the driver lets it,
    // which without vertical sync (software GL, remote displays) fills cores.
    context.setContinuousRepainting (false);
    context.attachTo (*this);
}

BgGLVis::~BgGLVis()
{
    context.detach();
}

juce::String BgGLVis::vertexShaderSource (int version)
{
    return versionLine (version) + vertexShaderBody;
}

juce::String BgGLVis::fragmentShaderSource (int version)
{
    return versionLine (version) + fragmentShaderBody;
}

juce::Array<int> BgGLVis::versionsToTry (double languageVersion)
{
    juce::Array<int> versions { preferredVersion };
    const auto supported = juce::roundToInt (languageVersion * 100.0);

    for (int v = 450; v >= oldestVersion; v -= 10)
        if (supported <= 0 || v <= supported)
            versions.add (v);

    return versions;
}

bool BgGLVis::buildShader (int version)
{
    auto program = std::make_unique<juce::OpenGLShaderProgram> (context);

    if (! program->addVertexShader (vertexShaderSource (version))
        || ! program->addFragmentShader (fragmentShaderSource (version))
        || ! program->link())
        return false;

    shader = std::move (program);
    return true;
}

void BgGLVis::newOpenGLContextCreated()
{
    using namespace juce::gl;

    shader.reset();
    programId = 0;
    uniforms = {};
    shaderVersion = 0;

    for (auto version : versionsToTry (juce::OpenGLShaderProgram::getLanguageVersion()))
    {
        if (buildShader (version))
        {
            shaderVersion = version;
            break;
        }
    }

    if (shader != nullptr)
    {
        programId = shader->getProgramID();

        const auto locate = [this] (const char* name)
        {
            return (int) juce::gl::glGetUniformLocation (programId, name);
        };

        uniforms.resolution = locate ("resolution");
        uniforms.time = locate ("time");
        uniforms.random = locate ("random");
        uniforms.bgColour = locate ("bgColour");
        uniforms.fgColour = locate ("fgColour");
        uniforms.fgColour2 = locate ("fgColour2");
        uniforms.sampleL = locate ("sampleL");
        uniforms.sampleR = locate ("sampleR");
        uniforms.sampleAvg = locate ("sampleAvg");
    }

    glDisable (GL_DEBUG_OUTPUT);
}

void BgGLVis::renderOpenGL()
{
    using namespace juce::gl;

    glClearColor (0.0f, 0.0f, 0.0f, 1.0f);
    glClear (GL_COLOR_BUFFER_BIT);

    // No shader built: the clear colour is all there is.
    if (shader == nullptr)
        return;

    glUseProgram (programId);

    const auto setColour = [] (int location, juce::Colour c)
    {
        if (location >= 0)
            glUniform3f (location, c.getFloatRed(), c.getFloatGreen(), c.getFloatBlue());
    };

    const auto setFloat = [] (int location, float value)
    {
        if (location >= 0)
            glUniform1f (location, value);
    };

    if (uniforms.resolution >= 0)
        glUniform2f (uniforms.resolution, (GLfloat) getWidth(), (GLfloat) getHeight());

    setFloat (uniforms.time, (float) (juce::Time::getMillisecondCounterHiRes() * 0.001));
    setFloat (uniforms.random, juce::Random::getSystemRandom().nextFloat());
    setColour (uniforms.bgColour, bgColour);
    setColour (uniforms.fgColour, fgColour);
    setColour (uniforms.fgColour2, fgColour2);
    setFloat (uniforms.sampleL, sampleL.load());
    setFloat (uniforms.sampleR, sampleR.load());
    setFloat (uniforms.sampleAvg, sampleAvg.load());

    GLuint buffer = 0;
    glGenBuffers (1, &buffer);
    glBindBuffer (GL_ARRAY_BUFFER, buffer);
    glBufferData (GL_ARRAY_BUFFER, (GLsizeiptr) sizeof (fullScreen), fullScreen, GL_STATIC_DRAW);

    const auto position = glGetAttribLocation (programId, "position");

    if (position >= 0)
    {
        glEnableVertexAttribArray ((GLuint) position);
        glVertexAttribPointer ((GLuint) position, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
        glDrawArrays (GL_TRIANGLES, 0, 6);
        glDisableVertexAttribArray ((GLuint) position);
    }

    glBindBuffer (GL_ARRAY_BUFFER, 0);
    glDeleteBuffers (1, &buffer);
}

void BgGLVis::openGLContextClosing()
{
    shader.reset();
    programId = 0;
    shaderVersion = 0;
}
