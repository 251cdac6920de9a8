#pragma once

#include <juce_opengl/juce_opengl.h>

#include <atomic>
#include <memory>

/** The editor's background: a full-screen fragment shader that follows the
    output levels. It carries the OpenGL context, which the editor attaches
    to itself (and detaches when the background is switched off); the
    component itself is never shown. The renderer callbacks run on the
    framework's OpenGL thread.

    The shaders are written for GLSL 4.60. Where the context offers less
    (Mesa's software renderer, older drivers: 4.50) the same source is
    built again with the highest version line the context supports, down to
    4.10, which the layout qualifiers need. Without any, only the clear
    colour shows. */
class BgGLVis : public juce::Component,
                public juce::OpenGLRenderer
{
public:
    BgGLVis();

    /** Asks the context for one frame; the editor calls it on each tick of
        its display timer, so the background runs at that rate. */
    void requestFrame() { context.triggerRepaint(); }
    ~BgGLVis() override;

    void newOpenGLContextCreated() override;
    void renderOpenGL() override;
    void openGLContextClosing() override;

    static constexpr int preferredVersion = 460;
    static constexpr int oldestVersion = 410;

    /** The shader sources with the given "#version" line. */
    static juce::String vertexShaderSource (int version);
    static juce::String fragmentShaderSource (int version);

    /** The version lines to build with, in order: 460 first, then each GLSL
        version from 450 down to 410 that the context's language version
        (as glGetString reports it, e.g. 4.5) covers; all of them when the
        context reports none. */
    static juce::Array<int> versionsToTry (double languageVersion);

    std::unique_ptr<juce::OpenGLShaderProgram> shader;
    juce::uint32 programId = 0;

    /** Locations of the shader's uniforms; -1 when the shader lacks one. */
    struct UniformLocations
    {
        int resolution = -1, time = -1, random = -1,
            bgColour = -1, fgColour = -1, fgColour2 = -1,
            sampleL = -1, sampleR = -1, sampleAvg = -1;
    };

    UniformLocations uniforms;

    juce::OpenGLContext context;

    // Written by the editor before the context first renders.
    juce::Colour bgColour { juce::Colours::red };
    juce::Colour fgColour { juce::Colours::white };
    juce::Colour fgColour2 { juce::Colours::white };

    // The output levels, written by the editor's timer, read by every frame.
    std::atomic<float> sampleL { 0.0f }, sampleR { 0.0f }, sampleAvg { 0.0f };

    /** The version line the current shader was built with; 0 while there
        is none (no context, or no version compiled). */
    std::atomic<int> shaderVersion { 0 };

private:
    bool buildShader (int version);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BgGLVis)
};
