// A small plug-in host built on the framework's own hosting classes (VST3 and
// LV2), to load the bundles the build produced the way a DAW does:
//
//   korvane_plugin_host vst3 PATH/Korvane.vst3
//   korvane_plugin_host lv2 PATH/LV2-folder URI
//   korvane_plugin_host abort vst3 PATH/Korvane.vst3
//   korvane_plugin_host abort lv2 PATH/LV2-folder URI
//   korvane_plugin_host analyse FILE.wav [FROM_SECONDS TO_SECONDS]
//   korvane_plugin_host editor vst3 PATH/Korvane.vst3 [SCREENSHOT_FOLDER]
//   korvane_plugin_host editor lv2 PATH/LV2-folder URI [SCREENSHOT_FOLDER]
//
// The first two check the parameters (80), a state save/restore round trip
// into a second instance, a rendered note (level and pitch), the MIDI the
// plug-in hands back, that the instance survives hostile host state (deeply
// nested, carrying a NaN) and NaN automation and keeps playing, and that the
// process handles every signal the same way before loading the bundle, while
// it plays and after unloading it: a plug-in must leave its host's crash
// handling alone. "abort" starts a second copy of this host that loads the
// plug-in, plays a note and then aborts, and checks that it dies of SIGABRT
// (exit status 134 in a shell) instead of hanging or being ended some other
// way. "analyse" measures a recording: peak_dbfs=... rms_dbfs=... frequency_hz=...
// "editor" opens the plug-in's editor in a window (an X display is needed)
// while an audio thread plays notes through the instance, checks its size and
// that it draws something (a screenshot of the first opening is written), and
// closes and opens it again, four times in all.
// Exit code 0 when every check passes, 1 otherwise. The host runs with a
// temporary HOME of its own, so the plug-ins never see the user's files.
#include "AudioAnalysis.h"
#include "HostX11.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>
#include <iostream>

#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{
    using AudioAnalysis::peak;
    using AudioAnalysis::rms;

    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;
    constexpr int expectedParameters = 80;

    int failures = 0;

    void check (bool ok, const juce::String& what)
    {
        std::cout << (ok ? "ok   " : "FAIL ") << what << std::endl;
        failures += ok ? 0 : 1;
    }

    /** What the process does with each signal that can be caught. */
    struct SignalDispositions
    {
        std::vector<std::pair<int, struct sigaction>> actions;

        static SignalDispositions capture()
        {
            SignalDispositions d;

            for (int sig = 1; sig < SIGRTMIN; ++sig)
            {
                struct sigaction action {};

                if (sig != SIGKILL && sig != SIGSTOP && ::sigaction (sig, nullptr, &action) == 0)
                    d.actions.emplace_back (sig, action);
            }

            return d;
        }
    };

    bool sameMask (const sigset_t& a, const sigset_t& b)
    {
        for (int sig = 1; sig < SIGRTMIN; ++sig)
            if (sigismember (&a, sig) != sigismember (&b, sig))
                return false;

        return true;
    }

    bool sameAction (const struct sigaction& a, const struct sigaction& b)
    {
        const auto handlerOf = [] (const struct sigaction& x) {
            return (x.sa_flags & SA_SIGINFO) != 0 ? (void*) x.sa_sigaction : (void*) x.sa_handler;
        };

        return handlerOf (a) == handlerOf (b) && a.sa_flags == b.sa_flags && sameMask (a.sa_mask, b.sa_mask);
    }

    juce::String describe (const struct sigaction& a)
    {
        const auto* handler = (a.sa_flags & SA_SIGINFO) != 0 ? (void*) a.sa_sigaction : (void*) a.sa_handler;

        if (handler == (void*) SIG_DFL) return "default";
        if (handler == (void*) SIG_IGN) return "ignored";
        return "caught by " + juce::String::toHexString ((juce::pointer_sized_int) handler)
               + " (flags " + juce::String::toHexString ((int) a.sa_flags) + ")";
    }

    /** The six signals of a crash are named in the check, so that a run
        shows they were compared; any other signal that changed fails it too. */
    void checkDispositions (const SignalDispositions& before, const juce::String& when)
    {
        const auto now = SignalDispositions::capture();
        juce::StringArray changed;

        for (size_t i = 0; i < before.actions.size(); ++i)
        {
            const auto& [sig, action] = before.actions[i];
            const auto match = std::find_if (now.actions.begin(), now.actions.end(), [s = sig] (const auto& a) { return a.first == s; });

            if (match == now.actions.end() || ! sameAction (action, match->second))
                changed.add (juce::String ("SIG") + sigabbrev_np (sig) + ": " + describe (action) + " before, "
                             + (match == now.actions.end() ? juce::String ("unknown") : describe (match->second)) + " " + when);
        }

        for (const auto& line : changed)
            std::cout << "     " << line << std::endl;

        check (changed.isEmpty() && now.actions.size() == before.actions.size(),
               "SIGILL, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS and every other signal are handled as before loading the bundle, "
               + when);
    }

    double dbfs (double gain) { return gain > 0.0 ? 20.0 * std::log10 (gain) : -999.0; }

    /** The parameters a user sees: the host's bypass switch and hidden MIDI-controller
        stand-ins (VST3) are not the plug-in's own. */
    juce::Array<juce::AudioProcessorParameter*> ownParameters (juce::AudioPluginInstance& p)
    {
        juce::Array<juce::AudioProcessorParameter*> list;

        for (auto* param : p.getParameters())
            if (param != p.getBypassParameter() && ! param->getName (100).startsWith ("MIDI CC "))
                list.add (param);

        return list;
    }

    juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance& p, const juce::String& name)
    {
        for (auto* param : ownParameters (p))
            if (param->getName (100) == name)
                return param;

        return nullptr;
    }

    /** A few blocks of silence, as a running host would process, with the
        message thread given time in between. */
    void runSilentBlocks (juce::AudioPluginInstance& p)
    {
        p.enableAllBuses();
        p.setRateAndBufferSizeDetails (sampleRate, blockSize);
        p.prepareToPlay (sampleRate, blockSize);
        juce::AudioBuffer<float> silence (juce::jmax (2, p.getTotalNumOutputChannels()), blockSize);
        juce::MidiBuffer none;

        for (int i = 0; i < 8; ++i)
        {
            silence.clear();
            p.processBlock (silence, none);
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        }

        p.releaseResources();
    }

    std::unique_ptr<juce::AudioPluginInstance> instantiate (juce::AudioPluginFormat& format, const juce::PluginDescription& desc)
    {
        juce::String error;
        auto instance = format.createInstanceFromDescription (desc, sampleRate, blockSize, error);

        if (instance == nullptr)
            check (false, "create an instance: " + error);

        return instance;
    }

    struct Sound
    {
        bool finite = false, channelsAlike = false, noteCameBack = false;
        double levelDb = -999.0, pitch = 0.0, tailDb = -999.0;
    };

    /** Note 69 for a second, then its release; measured while held and after. */
    Sound renderNote (juce::AudioPluginInstance& synth)
    {
        synth.enableAllBuses();
        synth.setRateAndBufferSizeDetails (sampleRate, blockSize);
        synth.prepareToPlay (sampleRate, blockSize);

        const auto channels = juce::jmax (synth.getTotalNumOutputChannels(), synth.getTotalNumInputChannels());
        const int totalBlocks = (int) (1.5 * sampleRate) / blockSize;
        juce::AudioBuffer<float> recording (2, totalBlocks * blockSize);
        juce::AudioBuffer<float> block (channels, blockSize);
        juce::MidiBuffer midi;
        Sound sound;
        sound.finite = true;

        for (int b = 0; b < totalBlocks; ++b)
        {
            block.clear();
            midi.clear();

            if (b == 0)
                midi.addEvent (juce::MidiMessage::noteOn (1, 69, (juce::uint8) 100), 0);
            if (b == (int) (sampleRate / blockSize))
                midi.addEvent (juce::MidiMessage::noteOff (1, 69), 0);

            synth.processBlock (block, midi);

            if (b == 0)
                for (const auto metadata : midi)
                    sound.noteCameBack = sound.noteCameBack
                                      || (metadata.getMessage().isNoteOn() && metadata.getMessage().getNoteNumber() == 69);

            for (int c = 0; c < 2; ++c)
            {
                const auto* x = block.getReadPointer (juce::jmin (c, channels - 1));
                for (int i = 0; i < blockSize; ++i)
                    sound.finite = sound.finite && std::isfinite (x[i]);
                recording.copyFrom (c, b * blockSize, x, blockSize);
            }
        }

        synth.releaseResources();

        const auto held = (int) (0.1 * sampleRate);
        const auto heldLength = (int) (0.8 * sampleRate);
        sound.levelDb = dbfs (rms (recording.getReadPointer (0, held), heldLength));
        sound.pitch = AudioAnalysis::frequencyFromCrossings (recording.getReadPointer (0, held), heldLength, sampleRate);
        sound.tailDb = dbfs (peak (recording.getReadPointer (0, (int) (1.3 * sampleRate)), (int) (0.15 * sampleRate)));
        sound.channelsAlike = std::abs (rms (recording.getReadPointer (0, held), heldLength)
                                        - rms (recording.getReadPointer (1, held), heldLength)) < 1.0e-3;
        return sound;
    }

    struct RampRender
    {
        double firstDb = -999.0, lastDb = -999.0, longestBlockMs = 0.0;
        bool finite = true;
    };

    /** Note 69 held for two seconds, rendered on a thread of its own as a
        host's audio callback would; with ramp, the cutoff moves from the top
        down to 0 over the first second, set on that thread before each block (as
        the host's automation reaches the plug-in). */
    RampRender renderCutoffRamp (juce::AudioPluginInstance& synth, juce::AudioProcessorParameter& cutoff, bool ramp)
    {
        synth.enableAllBuses();
        synth.setRateAndBufferSizeDetails (sampleRate, blockSize);
        synth.prepareToPlay (sampleRate, blockSize);
        cutoff.setValueNotifyingHost (1.0f);

        const auto channels = juce::jmax (synth.getTotalNumOutputChannels(), synth.getTotalNumInputChannels());
        const int totalBlocks = (int) (2.0 * sampleRate) / blockSize;
        juce::AudioBuffer<float> recording (1, totalBlocks * blockSize);
        RampRender result;

        std::thread audio ([&]
        {
            juce::AudioBuffer<float> block (channels, blockSize);
            juce::MidiBuffer midi;
            midi.ensureSize (1024);

            for (int b = 0; b < totalBlocks; ++b)
            {
                block.clear();
                midi.clear();

                if (b == 0)
                    midi.addEvent (juce::MidiMessage::noteOn (1, 69, (juce::uint8) 100), 0);

                const auto start = std::chrono::steady_clock::now();

                if (ramp)
                    cutoff.setValue (juce::jmax (0.0f, 1.0f - 2.0f * (float) b / (float) totalBlocks));

                synth.processBlock (block, midi);
                const auto ms = std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count();
                result.longestBlockMs = juce::jmax (result.longestBlockMs, ms);

                const auto* x = block.getReadPointer (0);
                for (int i = 0; i < blockSize; ++i)
                    result.finite = result.finite && std::isfinite (x[i]);
                recording.copyFrom (0, b * blockSize, x, blockSize);
            }
        });

        audio.join();
        synth.releaseResources();

        const auto quarter = (int) (0.25 * sampleRate);
        result.firstDb = dbfs (rms (recording.getReadPointer (0, (int) (0.1 * sampleRate)), quarter));
        result.lastDb = dbfs (rms (recording.getReadPointer (0, recording.getNumSamples() - quarter), quarter));
        return result;
    }

    /** Host automation during playback reaches the sound: a cutoff ramp down
        to 0 takes a 440 Hz note far down, while the same render without the
        ramp keeps its level. The longest audio callback is reported, not judged. */
    void checkAutomation (juce::AudioPluginInstance& synth)
    {
        auto* cutoff = findParameter (synth, "Cutoff");
        check (cutoff != nullptr, "the plug-in has a Cutoff parameter");

        if (cutoff == nullptr)
            return;

        const auto flat = renderCutoffRamp (synth, *cutoff, false);
        const auto ramped = renderCutoffRamp (synth, *cutoff, true);
        const auto flatDrop = flat.firstDb - flat.lastDb, rampDrop = ramped.firstDb - ramped.lastDb;

        std::cout << "     automation: level falls by " << juce::String (flatDrop, 1) << " dB without the ramp, by "
                  << juce::String (rampDrop, 1) << " dB with a cutoff ramp to 0; longest audio callback "
                  << juce::String (juce::jmax (flat.longestBlockMs, ramped.longestBlockMs), 3) << " ms (reported, not judged); "
                  << juce::String (flat.firstDb, 1) << " / " << juce::String (flat.lastDb, 1) << ", "
                  << juce::String (ramped.firstDb, 1) << " / " << juce::String (ramped.lastDb, 1) << " dBFS" << std::endl;

        check (flat.finite && ramped.finite, "every sample rendered under automation is finite");
        check (std::abs (flatDrop) < 3.0, "without automation the held note keeps its level");
        check (rampDrop > flatDrop + 12.0, "a cutoff ramp sent during playback audibly changes the render");
    }

    /** Korvane's own host state around a document text: the framework's
        binary XML wrapper ("VC2!", the length, the text and a zero byte). */
    juce::MemoryBlock korvaneState (const std::string& text)
    {
        juce::MemoryBlock block;
        juce::MemoryOutputStream out (block, false);
        out.writeInt (0x21324356);
        out.writeInt ((int) text.size());
        out.write (text.data(), text.size());
        out.writeByte (0);
        out.flush();
        return block;
    }

    /** The state this host would hand the instance, with the plug-in's own
        part replaced by `inner`. A VST3 host keeps it as base64 in the
        "IComponent" element of its own XML; an LV2 host as a base64 literal in
        the state's Turtle text. Empty when the plug-in's part is not found. */
    juce::MemoryBlock withPluginStateReplaced (const juce::MemoryBlock& hostState, const juce::MemoryBlock& inner,
                                               const juce::String& formatName)
    {
        if (formatName == "VST3")
        {
            auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());
            auto* component = xml != nullptr ? xml->getChildByName ("IComponent") : nullptr;

            if (component == nullptr)
                return {};

            component->deleteAllTextElements();
            component->addTextElement (inner.toBase64Encoding());
            juce::MemoryBlock replaced;
            juce::AudioProcessor::copyXmlToBinary (*xml, replaced);
            return replaced;
        }

        // LV2: the quoted literal whose base64 holds the plug-in's own state.
        const auto text = hostState.toString();

        for (int start = text.indexOfChar ('"'); start >= 0; start = text.indexOfChar (start + 1, '"'))
        {
            const auto end = text.indexOfChar (start + 1, '"');

            if (end < 0)
                break;

            juce::MemoryBlock decoded;

            if (end - start > 16 && decoded.fromBase64Encoding (text.substring (start + 1, end))
                && decoded.getSize() > 4 && std::memcmp (decoded.getData(), "VC2!", 4) == 0)
            {
                const auto replaced = text.substring (0, start + 1) + inner.toBase64Encoding() + text.substring (end);
                return juce::MemoryBlock (replaced.toRawUTF8(), replaced.getNumBytesAsUTF8());
            }

            start = end;
        }

        return {};
    }

    /** What a corrupted or malicious project hands the plug-in: state nested
        100 000 levels deep (the framework's parser used to run out of stack),
        state whose cutoff is NaN, and NaN automation. The instance survives
        each and keeps playing its note. */
    void checkHostileState (juce::AudioPluginInstance& synth, const juce::MemoryBlock& goodState, const juce::String& formatName)
    {
        std::string deep = "<state patchName=\"Deep\">";
        for (int i = 0; i < 100000; ++i)
            deep += "<a>";

        const std::string withNaN = "<state patchName=\"NaN\"><PARAM id=\"cutoff\" value=\"nan\"/><PARAM id=\"masterVol\" value=\"inf\"/>"
                  "<PARAM id=\"res\" value=\"1e39\"/></state>";

        auto valuesOf = [&synth]
        {
            std::vector<float> values;
            for (auto* p : ownParameters (synth))
                values.push_back (p->getValue());
            return values;
        };

        struct Document { const char* what; std::string text; bool refused; };
        const Document documents[] {
            { "state nested 100 000 levels deep", deep, true },
            { "state with a NaN cutoff, an infinite master volume and a resonance of 1e39", withNaN, false },
        };

        for (const auto& [what, document, refused] : documents)
        {
            const auto hostile = withPluginStateReplaced (goodState, korvaneState (document), formatName);
            check (! hostile.isEmpty(), juce::String ("the host state can carry ") + what);

            if (hostile.isEmpty())
                continue;

            const auto before = valuesOf();
            synth.setStateInformation (hostile.getData(), (int) hostile.getSize());
            runSilentBlocks (synth);

            // Refused, nothing changes; taken, the non-finite values read as
            // missing (the defaults). An LV2 host keeps the port values of
            // the state it restored, which here came from the good state, so
            // only the VST3 host reads the plug-in's own values back.
            if (refused)
            {
                check (valuesOf() == before, juce::String ("the refused ") + what + " left every parameter as it was");
            }
            else if (auto* cutoff = formatName == "VST3" ? findParameter (synth, "Cutoff") : nullptr)
            {
                const auto* volume = findParameter (synth, "Master Volume");
                check (std::abs (cutoff->getValue() - cutoff->getDefaultValue()) < 0.0015f
                           && volume != nullptr && std::abs (volume->getValue() - volume->getDefaultValue()) < 0.0015f,
                       "the non-finite values read as missing: Cutoff " + juce::String (cutoff->getValue(), 3)
                           + ", Master Volume " + (volume != nullptr ? juce::String (volume->getValue(), 3) : juce::String ("?"))
                           + ", both their defaults");
            }

            const auto sound = renderNote (synth);
            check (sound.finite && sound.levelDb > -40.0 && sound.levelDb < 0.0 && std::abs (sound.pitch - 440.0) < 1.0,
                   juce::String ("after ") + what + " the note still plays (" + juce::String (sound.levelDb, 1) + " dBFS, "
                       + juce::String (sound.pitch, 2) + " Hz, " + (sound.finite ? "finite" : "NOT FINITE") + ")");
        }

        // Automation that sends NaN.
        constexpr auto nan = std::numeric_limits<float>::quiet_NaN();

        for (auto* name : { "Cutoff", "Master Volume", "Resonance", "OscA Voices" })
            if (auto* p = findParameter (synth, name))
                p->setValueNotifyingHost (nan);

        runSilentBlocks (synth);
        const auto sound = renderNote (synth);
        check (sound.finite && sound.levelDb > -40.0 && sound.levelDb < 0.0 && std::abs (sound.pitch - 440.0) < 1.0,
               "after NaN automation the note still plays (" + juce::String (sound.levelDb, 1) + " dBFS, "
                   + juce::String (sound.pitch, 2) + " Hz, " + (sound.finite ? "finite" : "NOT FINITE") + ")");
    }

    void checkPlugin (juce::AudioPluginFormat& format, const juce::PluginDescription& desc, const SignalDispositions& beforeLoading)
    {
        std::cout << "plug-in: " << desc.name << " (" << desc.pluginFormatName << ", " << desc.fileOrIdentifier << ")" << std::endl;
        check (desc.name.containsIgnoreCase ("Korvane"), "the plug-in calls itself Korvane");
        check (desc.isInstrument, "the plug-in is an instrument");

        auto first = instantiate (format, desc);

        if (first == nullptr)
            return;

        // Parameters.
        const auto params = ownParameters (*first);
        check (params.size() == expectedParameters, "the plug-in has " + juce::String (params.size()) + " parameters, expected 80 ("
                                                    + juce::String (first->getParameters().size()) + " with the host's own)");
        check (findParameter (*first, "Cutoff") != nullptr && findParameter (*first, "Master Volume") != nullptr,
               "the parameters carry their names (Cutoff, Master Volume)");

        // State round trip: change some values, save, restore into a fresh instance.
        const std::pair<const char*, float> changes[] = { { "Cutoff", 0.25f }, { "Resonance", 0.6f },
                                                          { "OscA Unison", 0.2f }, { "Master Volume", 0.35f } };
        for (const auto& [name, value] : changes)
            if (auto* p = findParameter (*first, name))
                p->setValueNotifyingHost (value);

        runSilentBlocks (*first);

        juce::MemoryBlock state;
        first->getStateInformation (state);
        check (state.getSize() > 100, "the state holds " + juce::String ((int) state.getSize()) + " bytes");

        auto second = instantiate (format, desc);

        if (second == nullptr)
            return;

        second->setStateInformation (state.getData(), (int) state.getSize());

        // An LV2 host hands parameter changes to the plug-in, and the plug-in
        // reports restored values back, in the audio callback.
        runSilentBlocks (*second);

        int differing = 0;
        const auto secondParams = ownParameters (*second);

        for (int i = 0; i < juce::jmin (params.size(), secondParams.size()); ++i)
            if (std::abs (params[i]->getValue() - secondParams[i]->getValue()) > 0.0015f)
            {
                if (differing++ < 5)
                    std::cout << "     " << params[i]->getName (100) << ": " << params[i]->getValue()
                              << " saved, " << secondParams[i]->getValue() << " restored" << std::endl;
            }

        check (differing == 0 && secondParams.size() == params.size(), "a second instance restores every parameter from the state");

        bool changedHeld = true;
        for (const auto& [name, value] : changes)
            if (auto* p = findParameter (*second, name))
                changedHeld = changedHeld && std::abs (p->getValue() - value) < 0.0015f;
        check (changedHeld, "the changed values came back");

        // Rendering: note 69 for a second, then its release.
        auto& synth = *second;
        const auto sound = renderNote (synth);
        check (synth.getTotalNumOutputChannels() == 2, "the plug-in has stereo output");
        check (sound.finite, "every rendered sample is finite");
        check (sound.noteCameBack, "the block's notes come back on the plug-in's MIDI output");
        check (sound.levelDb > -40.0 && sound.levelDb < 0.0, "the held note sounds at " + juce::String (sound.levelDb, 1) + " dBFS RMS");
        check (std::abs (sound.pitch - 440.0) < 1.0, "the held note plays at " + juce::String (sound.pitch, 2) + " Hz (note 69)");
        check (sound.channelsAlike, "both channels sound alike (centre pan)");
        check (sound.tailDb < -80.0, "after the release the output is silent (" + juce::String (sound.tailDb, 1) + " dBFS)");

        // Automation in an instance of its own, so that the later checks play the state's sound.
        if (auto automated = instantiate (format, desc))
            checkAutomation (*automated);

        checkHostileState (*second, state, desc.pluginFormatName);
        checkDispositions (beforeLoading, "after instantiating two instances and playing");
    }

    /** The bundle's one plug-in, found the way a DAW's scan finds it. */
    std::unique_ptr<juce::PluginDescription> findPlugin (juce::AudioPluginFormat& format, const juce::StringArray& where)
    {
        juce::OwnedArray<juce::PluginDescription> found;

        if (format.getName() == "LV2")
        {
            const auto uris = format.searchPathsForPlugins (juce::FileSearchPath (juce::File (where[0]).getFullPathName()), true);
            check (uris.contains (where[1]), "the LV2 folder offers " + where[1]);
            format.findAllTypesForFile (found, where[1]);
            check (found.size() == 1, "the URI names " + juce::String (found.size()) + " plug-in(s)");
        }
        else
        {
            format.findAllTypesForFile (found, juce::File (where[0]).getFullPathName());
            check (found.size() == 1, "the VST3 bundle holds " + juce::String (found.size()) + " plug-in(s)");
        }

        return found.isEmpty() ? nullptr : std::make_unique<juce::PluginDescription> (*found[0]);
    }

    std::unique_ptr<juce::AudioPluginFormat> makeFormat (const juce::String& kind)
    {
        if (kind == "vst3")
            return std::make_unique<juce::VST3PluginFormat>();

        return std::make_unique<juce::LV2PluginFormat>();
    }

    int runChecks (const juce::String& kind, const juce::StringArray& where)
    {
        const auto beforeLoading = SignalDispositions::capture();

        {
            auto format = makeFormat (kind);

            if (auto desc = findPlugin (*format, where))
                checkPlugin (*format, *desc, beforeLoading);
        }

        checkDispositions (beforeLoading, "after unloading");
        return failures == 0 ? 0 : 1;
    }

    const char* const abortMarker = "about to abort";

    /** The child's part of "abort": load, play a note, then abort the way a
        host does when it finds its own heap corrupted. */
    int playThenAbort (const juce::String& kind, const juce::StringArray& where)
    {
        auto format = makeFormat (kind);
        auto desc = findPlugin (*format, where);
        auto instance = desc != nullptr ? instantiate (*format, *desc) : nullptr;

        if (instance == nullptr)
            return 1;

        instance->enableAllBuses();
        instance->prepareToPlay (sampleRate, blockSize);
        juce::AudioBuffer<float> block (juce::jmax (2, instance->getTotalNumOutputChannels()), blockSize);
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);

        for (int b = 0; b < 32; ++b)
        {
            block.clear();
            instance->processBlock (block, midi);
            midi.clear();
        }

        // No core file from a crash made on purpose.
        const struct rlimit noCore { 0, 0 };
        ::setrlimit (RLIMIT_CORE, &noCore);

        std::cout << abortMarker << std::endl;
        std::abort();
    }

    /** Starts a copy of this program that loads the plug-in and aborts, and
        watches how it ends. A process that outlives the abort by ten seconds
        counts as hung (and is ended); the time it took is printed. */
    int runAbort (const char* self, const juce::String& kind, const juce::StringArray& where)
    {
        int pipeFds[2];

        if (::pipe (pipeFds) != 0)
            return 1;

        std::vector<std::string> args { self, "play-then-abort", kind.toStdString() };
        for (const auto& w : where)
            args.push_back (w.toStdString());

        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back (a.data());
        argv.push_back (nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_adddup2 (&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose (&actions, pipeFds[0]);

        pid_t child = -1;
        const auto spawned = posix_spawn (&child, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy (&actions);
        ::close (pipeFds[1]);

        if (spawned != 0)
        {
            check (false, "start the child host");
            return 1;
        }

        // Pass the child's output on until it says it is about to abort.
        using Clock = std::chrono::steady_clock;
        std::string pending;
        bool aborting = false;
        Clock::time_point abortedAt;

        while (! aborting)
        {
            struct pollfd readable { pipeFds[0], POLLIN, 0 };

            if (::poll (&readable, 1, 120000) <= 0)
                break;

            char chunk[512];
            const auto n = ::read (pipeFds[0], chunk, sizeof (chunk));

            if (n <= 0)
                break;

            pending.append (chunk, (size_t) n);

            for (auto nl = pending.find ('\n'); nl != std::string::npos; nl = pending.find ('\n'))
            {
                const auto line = pending.substr (0, nl);
                pending.erase (0, nl + 1);
                std::cout << "     child: " << line << std::endl;

                if (line == abortMarker)
                {
                    aborting = true;
                    abortedAt = Clock::now();
                }
            }
        }

        ::close (pipeFds[0]);
        check (aborting, "the child loaded the plug-in, played a note and called abort()");

        const auto deadline = (aborting ? abortedAt : Clock::now()) + std::chrono::seconds (10);
        int status = 0;
        pid_t ended = 0;

        while ((ended = ::waitpid (child, &status, WNOHANG)) == 0 && Clock::now() < deadline)
            ::usleep (1000);

        if (ended == 0)
        {
            ::kill (child, SIGKILL);
            ::waitpid (child, &status, 0);
            check (false, "the child still ran ten seconds after abort(): it hung");
            return 1;
        }

        const auto millis = (juce::int64) std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now() - abortedAt).count();
        const auto shellStatus = WIFSIGNALED (status) ? 128 + WTERMSIG (status) : WEXITSTATUS (status);
        std::cout << "     the child ended";
        if (aborting)
            std::cout << " " << millis << " ms after abort()";
        std::cout << " with exit status " << shellStatus;
        if (WIFSIGNALED (status))
            std::cout << " (" << strsignal (WTERMSIG (status)) << ")";
        std::cout << std::endl;
        check (WIFSIGNALED (status) && WTERMSIG (status) == SIGABRT,
               "the child died of SIGABRT (exit status 134), its own crash, not a plug-in's handling of it");

        return failures == 0 ? 0 : 1;
    }

    //==============================================================================
    // "editor"

    /** The plug-in's settings in the host's temporary home: no message box at
        the first start and no message of the day, as after a user's first run. */
    void writeQuietPluginSettings()
    {
        const auto file = juce::File::getSpecialLocation (juce::File::userHomeDirectory)
                              .getChildFile ("OrbelAudio").getChildFile ("Korvane.oasettings");
        file.getParentDirectory().createDirectory();
        file.replaceWithText ("<OrbelAudioSettings startupMsg=\"false\" updates=\"false\"/>\n");
    }

    /** What a host's audio callback does, about in real time: blocks of 512
        samples with a chord coming and going, while the editor is open. */
    class AudioThread : public juce::Thread
    {
    public:
        explicit AudioThread (juce::AudioPluginInstance& p) : juce::Thread ("host audio"), plugin (p) {}
        ~AudioThread() override { stopThread (5000); }

        void run() override
        {
            const auto channels = juce::jmax (2, plugin.getTotalNumOutputChannels(), plugin.getTotalNumInputChannels());
            juce::AudioBuffer<float> block (channels, blockSize);
            juce::MidiBuffer midi;

            for (int b = 0; ! threadShouldExit(); ++b)
            {
                block.clear();
                midi.clear();

                for (const int note : { 57, 61, 64 })
                {
                    if (b % 48 == 0)
                        midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), 0);
                    if (b % 48 == 40)
                        midi.addEvent (juce::MidiMessage::noteOff (1, note), 0);
                }

                plugin.processBlock (block, midi);

                bool ok = true;
                float blockPeak = 0.0f;
                for (int c = 0; c < channels; ++c)
                    for (int i = 0; i < blockSize; ++i)
                    {
                        const auto x = block.getSample (c, i);
                        ok = ok && std::isfinite (x);
                        blockPeak = std::max (blockPeak, std::abs (x));
                    }

                finite = finite && ok;
                if (ok && blockPeak > loudest)
                    loudest = blockPeak;
                ++blocks;

                wait (10); // a block lasts 10.7 ms
            }
        }

        juce::AudioPluginInstance& plugin;
        std::atomic<int> blocks { 0 };
        std::atomic<bool> finite { true };
        std::atomic<float> loudest { 0.0f };
    };

    /** The window a host puts a plug-in's editor in. */
    struct HostWindow : juce::DocumentWindow
    {
        explicit HostWindow (const juce::String& title)
            : juce::DocumentWindow (title, juce::Colours::darkgrey, juce::DocumentWindow::closeButton) {}

        void closeButtonPressed() override { setVisible (false); }
    };

    /** How much of the picture is not its most common colour, and how many
        colours it holds: a blank or single-colour window has neither. */
    struct PictureContent
    {
        double busyFraction = 0.0;
        int colours = 0;
    };

    PictureContent measurePicture (const juce::Image& image)
    {
        std::map<juce::uint32, int> counts;

        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                ++counts[image.getPixelAt (x, y).getARGB() | 0xff000000u];

        int most = 0;
        for (const auto& [colour, n] : counts)
            most = std::max (most, n);

        const auto total = std::max (1, image.getWidth() * image.getHeight());
        return { 1.0 - (double) most / total, (int) counts.size() };
    }

    int runEditorChecks (const juce::String& kind, const juce::StringArray& where, const juce::File& shots)
    {
        writeQuietPluginSettings();
        HostX11::countXErrors();

        auto format = makeFormat (kind);
        auto desc = findPlugin (*format, where);
        auto instance = desc != nullptr ? instantiate (*format, *desc) : nullptr;

        if (instance == nullptr)
            return 1;

        const auto what = desc->pluginFormatName + " editor";
        std::cout << "plug-in: " << desc->name << " (" << desc->pluginFormatName << ", " << desc->fileOrIdentifier << ")" << std::endl;
        check (instance->hasEditor(), "the " + desc->pluginFormatName + " instance says it has an editor");

        instance->enableAllBuses();
        instance->setRateAndBufferSizeDetails (sampleRate, blockSize);
        instance->prepareToPlay (sampleRate, blockSize);

        auto audio = std::make_unique<AudioThread> (*instance);
        audio->startThread();

        const auto scale = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() != nullptr
                               ? juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->scale : 1.0;
        const auto expectedW = juce::roundToInt (1119 * scale), expectedH = juce::roundToInt (700 * scale);
        std::cout << "     display scale " << scale << ", so the editor should be " << expectedW << " x " << expectedH << std::endl;

        constexpr int openings = 4;

        for (int round = 1; round <= openings; ++round)
        {
            const auto step = what + ", opening " + juce::String (round) + " of " + juce::String (openings) + ": ";
            const auto blocksBefore = audio->blocks.load();
            std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());
            check (editor != nullptr, step + "the instance made an editor");

            if (editor == nullptr)
                break;

            {
                HostWindow window ("Korvane " + desc->pluginFormatName);
                window.setContentNonOwned (editor.get(), true);
                window.setTopLeftPosition (20, 20);
                window.setVisible (true);

                // A second of the host's message loop, the audio thread playing on.
                juce::MessageManager::getInstance()->runDispatchLoopUntil (1000);

                auto* peer = window.getPeer();
                check (peer != nullptr && window.isShowing(), step + "the window is on the screen");
                check (editor->getWidth() == expectedW && editor->getHeight() == expectedH,
                       step + "the editor is " + juce::String (editor->getWidth()) + " x " + juce::String (editor->getHeight()));
                check (audio->blocks.load() - blocksBefore > 40,
                       step + juce::String (audio->blocks.load() - blocksBefore) + " audio blocks were processed while it was open");

                if (peer != nullptr)
                {
                    // The editor's area of the window, in the window's physical pixels.
                    const auto area = (window.getLocalArea (editor.get(), editor->getLocalBounds()).toDouble()
                                       * peer->getPlatformScaleFactor()).toNearestInt();
                    // Another test's window may lie over this one for a moment on the
                    // shared display: raised and grabbed again, for up to 3 s.
                    juce::Image picture;
                    PictureContent content;
                    bool drawn = false;

                    for (int attempt = 0; attempt < 10 && ! drawn; ++attempt)
                    {
                        if (attempt > 0)
                            juce::MessageManager::getInstance()->runDispatchLoopUntil (300);

                        window.toFront (false);
                        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
                        picture = HostX11::grabWindow (peer->getNativeHandle(), area);
                        content = measurePicture (picture);
                        drawn = picture.isValid() && content.busyFraction > 0.05 && content.colours > 50;

                        // The LV2 editor stays black here (below), so it is grabbed once.
                        if (kind != "vst3")
                            break;
                    }

                    const auto drawing = step + "the editor draws its panel (" + juce::String (content.colours) + " colours, "
                                         + juce::String (100.0 * content.busyFraction, 1) + " % away from the most common one)";

                    // The framework's LV2 host embeds the plug-in's X11 window at the right
                    // size but nothing is drawn into it here, while jalv shows the same UI
                    // (the lv2_ui_in_jalv test checks its pixels); so only the VST3 editor's
                    // pixels are judged in this host.
                    if (kind == "vst3" || drawn)
                        check (drawn, drawing);
                    else
                        std::cout << "note " << drawing << ": not judged for LV2 in this host" << std::endl;

                    if (round == 1 && picture.isValid())
                    {
                        shots.createDirectory();
                        const auto file = shots.getChildFile ("editor-in-test-host-" + kind + ".png");
                        file.deleteFile();
                        juce::FileOutputStream out (file);
                        juce::PNGImageFormat png;
                        check (out.openedOk() && png.writeImageToStream (picture, out), step + "screenshot written to " + file.getFullPathName());
                    }
                }

                window.setContentNonOwned (nullptr, false);
            }

            editor.reset();
            juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
            check (instance->getActiveEditor() == nullptr, step + "closed, the instance has no editor left");
        }

        audio->stopThread (5000);
        check (audio->finite.load(), "every sample the instance played while its editor came and went is finite");
        check (audio->loudest.load() > 0.01f, "the chord sounded (peak " + juce::String (audio->loudest.load(), 3) + ")");
        audio.reset();

        instance->releaseResources();
        instance.reset();
        format.reset();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (200);
        std::cout << "     " << HostX11::unknownPropertyNameCount() << " window properties were asked for by a name"
                     " this display does not know (there is no window manager to define it)" << std::endl;
        check (HostX11::xErrorCount() == 0, juce::String (HostX11::xErrorCount()) + " other X errors");

        return failures == 0 ? 0 : 1;
    }

    int runAnalyse (const juce::String& path, double from, double to)
    {
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (juce::File (path).createInputStream().release(), true));

        if (reader == nullptr)
        {
            std::cerr << "cannot read " << path << " as WAV" << std::endl;
            return 1;
        }

        const auto rate = reader->sampleRate;
        const auto start = (juce::int64) (from * rate);
        const auto end = to > from ? juce::jmin (reader->lengthInSamples, (juce::int64) (to * rate)) : reader->lengthInSamples;
        const auto n = (int) juce::jmax ((juce::int64) 0, end - start);
        juce::AudioBuffer<float> audio ((int) reader->numChannels, n);
        reader->read (&audio, 0, n, start, true, true);

        double p = 0.0, sum = 0.0;
        for (int c = 0; c < audio.getNumChannels(); ++c)
        {
            p = std::max (p, peak (audio.getReadPointer (c), n));
            const auto r = rms (audio.getReadPointer (c), n);
            sum += r * r;
        }

        std::cout << "channels=" << audio.getNumChannels() << " seconds=" << juce::String (n / rate, 3)
                  << " peak_dbfs=" << juce::String (dbfs (p), 2)
                  << " rms_dbfs=" << juce::String (dbfs (std::sqrt (sum / juce::jmax (1, audio.getNumChannels()))), 2)
                  << " frequency_hz=" << juce::String (AudioAnalysis::medianFrequencyFromCrossings (audio.getReadPointer (0), n, rate), 2) << std::endl;
        return 0;
    }
}

int main (int argc, char** argv)
{
    const juce::String mode = argc > 1 ? argv[1] : "";

    // A home of its own: the plug-ins read and may write their settings there.
    // The child of "abort" dies without cleaning up, so it uses its parent's.
    if (mode != "play-then-abort")
    {
        std::string home = "/tmp/korvane-host-home-XXXXXX";

        if (mkdtemp (home.data()) == nullptr)
            return 2;

        setenv ("HOME", home.c_str(), 1);
        std::atexit ([] { if (const auto* h = std::getenv ("HOME")) juce::File (h).deleteRecursively(); });
    }

    juce::ScopedJuceInitialiser_GUI juce;

    const auto where = [&] (int first) { return juce::StringArray (argv + first, argc - first); };
    const auto formatArgsAt = [&] (int first) {
        const juce::String kind = argc > first ? argv[first] : "";
        return (kind == "vst3" && argc == first + 2) || (kind == "lv2" && argc == first + 3);
    };

    if (formatArgsAt (1))
        return runChecks (argv[1], where (2));

    if (mode == "abort" && formatArgsAt (2))
        return runAbort (argv[0], argv[2], where (3));

    if (mode == "play-then-abort" && formatArgsAt (2))
        return playThenAbort (argv[2], where (3));

    if (mode == "editor" && (formatArgsAt (2) || (argc > 3 && juce::String (argv[2]) == "vst3" && argc == 5)
                             || (argc > 3 && juce::String (argv[2]) == "lv2" && argc == 6)))
    {
        const auto count = juce::String (argv[2]) == "vst3" ? 1 : 2;
        const auto shots = argc > 3 + count ? juce::File::getCurrentWorkingDirectory().getChildFile (argv[3 + count])
                                            : juce::File::getCurrentWorkingDirectory();
        return runEditorChecks (argv[2], juce::StringArray (argv + 3, count), shots);
    }

    if (mode == "analyse" && (argc == 3 || argc == 5))
        return runAnalyse (argv[2], argc == 5 ? std::atof (argv[3]) : 0.0, argc == 5 ? std::atof (argv[4]) : 0.0);

    std::cerr << "usage: korvane_plugin_host [abort] vst3 BUNDLE | [abort] lv2 FOLDER URI | analyse FILE.wav [FROM TO]\n"
                 "       korvane_plugin_host editor vst3 BUNDLE [SHOTS] | editor lv2 FOLDER URI [SHOTS]" << std::endl;
    return 2;
}
