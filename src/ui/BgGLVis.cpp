// To be completed: the shader, its uniforms and the full-screen geometry (members and interface only so far).
#include "BgGLVis.h"

BgGLVis::BgGLVis()
{
    context.setRenderer (this);
    context.attachTo (*this);
}

BgGLVis::~BgGLVis()
{
    context.detach();
}

void BgGLVis::newOpenGLContextCreated() {}

void BgGLVis::renderOpenGL()
{
    using namespace juce::gl;
    glClearColor (0.0f, 0.0f, 0.0f, 1.0f);
    glClear (GL_COLOR_BUFFER_BIT);
}

void BgGLVis::openGLContextClosing()
{
    shader.reset();
}
