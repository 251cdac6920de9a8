// The OpenGL background: its shader sources, the version fallback and a
// frame rendered in a real context (where the display offers one).

#include "UiTestSupport.h"
#include "ui/BgGLVis.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <vector>

TEST (BgGLVis, ShaderSourcesDifferOnlyInTheVersionLine)
{
    EXPECT_EQ (BgGLVis::vertexShaderSource (460),
               "#version 460\nlayout(location = 0) in vec4 position;\nlayout(location = 0) out vec2 fragPos;\nvoid main()\n{\n"
               "    gl_Position = position;\n    fragPos = position.xy;\n}\n");

    const auto fragment = BgGLVis::fragmentShaderSource (460);
    EXPECT_TRUE (fragment.startsWith ("#version 460\n"));

    for (auto* statement : { "uniform float time;", "uniform float random;", "uniform vec3 bgColour;", "uniform vec3 fgColour;",
                             "uniform vec3 fgColour2;", "uniform float sampleL;", "uniform float sampleR;", "uniform float sampleAvg;",
                             "layout(location = 0) in vec2 fragPos;", "layout(location = 0) out vec4 outcolour;",
                             "vec3 colour = bgColour;", "float a = fragPos.x - (-1.0 + sampleL);",
                             "float b = (1.0 - sampleR) - fragPos.x;", "colour = mix(fgColour, colour, a * 2.0);",
                             "colour = mix(fgColour, colour, b * 2.0);", "colour = mix(fgColour2, colour, fragPos.y);",
                             "colour *= 0.3  + (sampleAvg * 0.0);",
                             "colour = mix(bgColour, colour, sin(fragPos.y * 3.14 * 48.0 + (time * 10)));",
                             "colour = mix(bgColour * 0.8, colour, abs(fragPos.y) * 0.5);",
                             "colour = mix(bgColour * 0.8, colour, 1.0 - (abs(fragPos.x) * 0.25));",
                             "outcolour = vec4(colour, 1.0);" })
        EXPECT_TRUE (fragment.contains (statement)) << statement;

    for (auto v : { 450, 410 })
    {
        EXPECT_EQ (BgGLVis::vertexShaderSource (v), "#version " + juce::String (v) + "\n" + BgGLVis::vertexShaderSource (460).fromFirstOccurrenceOf ("\n", false, false));
        EXPECT_EQ (BgGLVis::fragmentShaderSource (v), "#version " + juce::String (v) + "\n" + fragment.fromFirstOccurrenceOf ("\n", false, false));
    }
}

TEST (BgGLVis, VersionsTriedAre460ThenWhatTheContextSupportsDownTo410)
{
    struct Case { double language; juce::Array<int> versions; };
    const Case cases[] {
        { 4.6, { 460, 450, 440, 430, 420, 410 } },
        { 4.5, { 460, 450, 440, 430, 420, 410 } },
        { 4.3, { 460, 430, 420, 410 } },
        { 4.1, { 460, 410 } },
        { 3.3, { 460 } },
        { 1.2, { 460 } },
        { 0.0, { 460, 450, 440, 430, 420, 410 } }, // nothing reported: try them all
    };

    for (const auto& c : cases)
        EXPECT_EQ (BgGLVis::versionsToTry (c.language), c.versions) << c.language;
}

namespace
{
    /** The background with a look at each frame it renders: GL errors and,
        on request, the pixels. */
    struct WatchedVis : BgGLVis
    {
        // The context stops calling this object's overrides before its members go.
        ~WatchedVis() override { context.detach(); }

        void newOpenGLContextCreated() override
        {
            drainErrors();
            BgGLVis::newOpenGLContextCreated();
            noteErrors();
        }

        void renderOpenGL() override
        {
            using namespace juce::gl;
            drainErrors();
            BgGLVis::renderOpenGL();
            noteErrors();

            GLint viewport[4] {};
            glGetIntegerv (GL_VIEWPORT, viewport);

            {
                const std::lock_guard<std::mutex> sl (lock);
                width = viewport[2];
                height = viewport[3];
                pixels.resize ((size_t) juce::jmax (0, width * height * 4));

                if (! pixels.empty())
                    glReadPixels (0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
            }

            noteErrors();
            ++frames;
        }

        static void drainErrors()
        {
            for (int i = 0; i < 100 && juce::gl::glGetError() != juce::gl::GL_NO_ERROR; ++i) {}
        }

        void noteErrors()
        {
            const auto e = juce::gl::glGetError();
            if (e != juce::gl::GL_NO_ERROR)
                firstError.compare_exchange_strong (noError, (int) e);
        }

        /** The pixel at (x, y) from the top left of the last frame. */
        juce::Colour pixelAt (int x, int y)
        {
            const std::lock_guard<std::mutex> sl (lock);
            const auto row = height - 1 - y;
            if (x < 0 || x >= width || row < 0 || row >= height)
                return {};
            const auto* p = pixels.data() + ((size_t) row * (size_t) width + (size_t) x) * 4;
            return juce::Colour (p[0], p[1], p[2]);
        }

        juce::Image lastFrame()
        {
            const std::lock_guard<std::mutex> sl (lock);
            juce::Image image (juce::Image::RGB, juce::jmax (1, width), juce::jmax (1, height), true);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                {
                    const auto* p = pixels.data() + ((size_t) (height - 1 - y) * (size_t) width + (size_t) x) * 4;
                    image.setPixelAt (x, y, juce::Colour (p[0], p[1], p[2]));
                }
            return image;
        }

        std::atomic<int> frames { 0 };
        std::atomic<int> firstError { 0 };
        int noError = 0;

        std::mutex lock;
        int width = 0, height = 0;
        std::vector<juce::uint8> pixels;
    };
}

TEST (BgGLVis, BuildsItsShaderAndRendersFramesWithoutErrors)
{
    ignoreXErrorsLikeTheStandalone();

    juce::Component host;
    host.setOpaque (false);
    host.setBounds (0, 0, 320, 200);
    host.addToDesktop (0);
    host.setVisible (true);

    WatchedVis vis;
    vis.bgColour = juce::Colours::red;
    vis.fgColour = juce::Colours::white;
    vis.fgColour2 = juce::Colours::white;
    vis.context.attachTo (host);

    // Frames come when asked for (the editor asks on each tick of its timer).
    if (! runMessagesUntil ([&] { vis.requestFrame(); return vis.frames >= 3; }, 15000))
    {
        vis.context.detach();
        GTEST_SKIP() << "no OpenGL context under this display (no GLX?): the background shows only its clear colour there";
    }

    const auto version = vis.shaderVersion.load();
    std::cout << "[          ] shader built with #version " << version << std::endl;
    EXPECT_GE (version, BgGLVis::oldestVersion) << "no version line compiled";
    EXPECT_LE (version, BgGLVis::preferredVersion);
    EXPECT_NE (vis.programId, 0u);
    EXPECT_GE (vis.uniforms.bgColour, 0);
    EXPECT_GE (vis.uniforms.sampleL, 0);
    EXPECT_EQ (vis.uniforms.resolution, -1) << "the shader declares none";
    EXPECT_EQ (vis.firstError.load(), 0) << "GL error 0x" << std::hex << vis.firstError.load();

    // On the middle row every term but the background falls away: 0.8 of bgColour.
    const auto centre = vis.pixelAt (160, 100);
    EXPECT_NEAR (centre.getRed(), 204, 12);
    EXPECT_LT (centre.getGreen(), 20);
    EXPECT_LT (centre.getBlue(), 20);

    // With both levels at 1 the white bands meet in the middle; the left edge is never the clear colour.
    vis.sampleL = 1.0f;
    vis.sampleR = 1.0f;
    vis.sampleAvg = 1.0f;
    const auto seen = vis.frames.load();
    ASSERT_TRUE (runMessagesUntil ([&] { vis.requestFrame(); return vis.frames >= seen + 3; }, 10000));
    EXPECT_NE (vis.pixelAt (2, 40), juce::Colours::black);
    EXPECT_EQ (vis.firstError.load(), 0);

    if (const auto* dir = std::getenv ("KORVANE_SCREENSHOT_DIR"))
    {
        vis.sampleL = 0.6f;
        vis.sampleR = 0.3f;
        vis.bgColour = juce::Colour (0xff20242c);
        vis.fgColour = juce::Colour (0xff3c4658);
        vis.fgColour2 = juce::Colour (0xffe0a030);
        const auto n = vis.frames.load();
        runMessagesUntil ([&] { vis.requestFrame(); return vis.frames >= n + 3; }, 10000);
        juce::File file (juce::File (dir).getChildFile ("displays-bgvis.png"));
        file.deleteFile();
        juce::FileOutputStream out (file);
        if (out.openedOk())
            juce::PNGImageFormat().writeImageToStream (vis.lastFrame(), out);
    }

    // Detaching frees the shader; attaching again builds it anew.
    vis.context.detach();
    EXPECT_EQ (vis.shaderVersion.load(), 0);
    EXPECT_EQ (vis.shader, nullptr);

    const auto before = vis.frames.load();
    vis.context.attachTo (host);
    ASSERT_TRUE (runMessagesUntil ([&] { vis.requestFrame(); return vis.frames >= before + 2; }, 15000));
    EXPECT_EQ (vis.shaderVersion.load(), version);
    EXPECT_EQ (vis.firstError.load(), 0);
    vis.context.detach();
}
