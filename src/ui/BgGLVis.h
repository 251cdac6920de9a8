// To be completed: the shader, its uniforms and the full-screen geometry (members and interface only so far).
#pragma once

#include <juce_opengl/juce_opengl.h>

#include <atomic>
#include <memory>

/** The editor's background: a full-screen fragment shader that follows the
    output levels. It carries the OpenGL context, which the editor attaches
    to itself (and detaches when the background is switched off); the
    component itself is never shown. The renderer callbacks run on the
    framework's OpenGL thread. */
class BgGLVis : public juce::Component,
                public juce::OpenGLRenderer
{
public:
    BgGLVis();
    ~BgGLVis() override;

    void newOpenGLContextCreated() override;
    void renderOpenGL() override;
    void openGLContextClosing() override;

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

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BgGLVis)
};
