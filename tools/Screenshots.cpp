// korvane-screenshots: the pictures of the window in docs/screenshots, drawn
// from the editor itself so they can be made again whenever the window
// changes (`make screenshots` runs it on a virtual display with a home folder
// of its own):
//
//   korvane-screenshots [FOLDER]      (default docs/screenshots)
//
// front-panel.png   the front panel at 100 %
// osc-screen.png    the waveform screen for oscillator 1
// scope-note.png    the front panel while a chord sounds, the oscilloscope drawing it
// scope-closeup.png the oscilloscope of scope-note.png at twice the size
//
// The shader background is drawn by the graphics card and is no part of a
// component snapshot, so the editor paints its own plain background here.
#include "diagnostics/Notices.h"
#include "editor/PluginEditor.h"
#include "processor/PluginProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <iostream>

namespace juce
{
    // The framework's own step of its dispatch loop (the library is built
    // without modal loops, so runDispatchLoopUntil is not there).
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace
{
    bool writePng (const juce::Image& image, const juce::File& file)
    {
        file.deleteFile();
        juce::FileOutputStream out (file);
        juce::PNGImageFormat png;
        const auto ok = image.isValid() && out.openedOk() && png.writeImageToStream (image, out);
        std::cout << (ok ? "wrote " : "could not write ") << file.getFullPathName() << " (" << image.getWidth() << " x "
                  << image.getHeight() << ")" << std::endl;
        return ok;
    }

    /** Delivers whatever the message queue holds (repaints, async updates). */
    void runPendingMessages()
    {
        for (int i = 0; i < 1000 && juce::dispatchNextMessageOnSystemQueue (true); ++i) {}
    }

    /** Blocks of audio with the notes held, so the scope's queues fill. */
    void playChord (kvAP& proc, int blocks)
    {
        juce::AudioBuffer<float> block (2, 512);
        juce::MidiBuffer midi;

        for (int b = 0; b < blocks; ++b)
        {
            block.clear();
            midi.clear();

            if (b == 0)
                for (const int note : { 45, 57, 64 })
                    midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), 0);

            proc.processBlock (block, midi);
        }
    }
}

int main (int argc, char** argv)
{
    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (argc > 1 ? argv[1] : "docs/screenshots");

    juce::ScopedJuceInitialiser_GUI juce;
    Notices::setHandler (Notices::toStandardError());

    // Nothing from the network and no message box: the message of the day
    // is asked of a port where nothing listens, and the one-time message is off.
    setenv ("no_proxy", "127.0.0.1", 1);
    setenv ("NO_PROXY", "127.0.0.1", 1);
    OAMotdScreen::setBaseUrl ("http://127.0.0.1:1/");

    bool ok = folder.createDirectory().wasOk();
    {
        kvAP proc;
        proc.settings.values["startupMsg"] = "false";
        proc.settings.values["updates"] = "false";
        proc.settings.values["showBgVis"] = "false";

        // A brighter waveform than the default sine, for the scope.
        proc.setModMapEntry ("synth1_oscType", "sawtooth_og");
        proc.setRateAndBufferSizeDetails (48000.0, 512);
        proc.prepareToPlay (48000.0, 512);

        kvAPE editor (proc);
        editor.timerCallback(); // takes the plain background
        runPendingMessages();

        editor.setCurrentScreen ("main");
        editor.timerCallback();
        runPendingMessages();
        ok = writePng (editor.createComponentSnapshot (editor.getLocalBounds()), folder.getChildFile ("front-panel.png")) && ok;

        editor.oscScreen.targetKey = "synth1_oscType";
        editor.oscScreen.buildList();
        editor.setCurrentScreen ("osc");
        editor.timerCallback();
        runPendingMessages();
        ok = writePng (editor.createComponentSnapshot (editor.getLocalBounds()), folder.getChildFile ("osc-screen.png")) && ok;

        editor.setCurrentScreen ("main");
        playChord (proc, 24);
        for (int i = 0; i < 4; ++i)
        {
            playChord (proc, 0);
            editor.scope.timerCallback();
            editor.timerCallback();
        }
        runPendingMessages();
        ok = writePng (editor.createComponentSnapshot (editor.getLocalBounds()), folder.getChildFile ("scope-note.png")) && ok;

        const auto scopeArea = editor.getLocalArea (&editor.scope, editor.scope.getLocalBounds()).expanded (8);
        ok = writePng (editor.createComponentSnapshot (scopeArea, true, 2.0f), folder.getChildFile ("scope-closeup.png")) && ok;

        proc.releaseResources();
    }

    return ok ? 0 : 1;
}
