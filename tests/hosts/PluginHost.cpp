// A small plug-in host built on the framework's own hosting classes (VST3 and
// LV2), to load the bundles the build produced the way a DAW does:
//
//   korvane_plugin_host vst3 PATH/Korvane.vst3
//   korvane_plugin_host lv2 PATH/LV2-folder URI
//   korvane_plugin_host abort vst3 PATH/Korvane.vst3
//   korvane_plugin_host abort lv2 PATH/LV2-folder URI
//   korvane_plugin_host analyse FILE.wav [FROM_SECONDS TO_SECONDS]
//
// The first two check the parameters (80), a state save/restore round trip
// into a second instance, a rendered note (level and pitch), and that the
// process handles every signal the same way before loading the bundle, while
// it plays and after unloading it: a plug-in must leave its host's crash
// handling alone. "abort" starts a second copy of this host that loads the
// plug-in, plays a note and then aborts, and checks that it dies of SIGABRT
// (exit status 134 in a shell) instead of hanging or being ended some other
// way. "analyse" measures a recording: peak_dbfs=... rms_dbfs=... frequency_hz=...
// Exit code 0 when every check passes, 1 otherwise.
#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <iostream>
#include <vector>

#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{
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

    double rms (const float* x, int n)
    {
        double sum = 0.0;
        for (int i = 0; i < n; ++i)
            sum += (double) x[i] * x[i];
        return n > 0 ? std::sqrt (sum / n) : 0.0;
    }

    double peak (const float* x, int n)
    {
        double p = 0.0;
        for (int i = 0; i < n; ++i)
            p = std::max (p, (double) std::abs (x[i]));
        return p;
    }

    /** Fundamental from rising zero crossings, interpolated between samples. */
    double frequency (const float* x, int n, double rate)
    {
        double first = -1.0, last = -1.0;
        int crossings = 0;

        for (int i = 1; i < n; ++i)
        {
            if (x[i - 1] < 0.0f && x[i] >= 0.0f)
            {
                const auto t = (i - 1) + (double) -x[i - 1] / ((double) x[i] - x[i - 1]);
                if (first < 0.0)
                    first = t;
                last = t;
                ++crossings;
            }
        }

        return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
    }

    /** Fundamental from the median distance of rising zero crossings, which
        ignores gaps between notes and the odd restart of a note. */
    double medianFrequency (const float* x, int n, double rate)
    {
        std::vector<double> periods;
        double last = -1.0;

        for (int i = 1; i < n; ++i)
        {
            if (x[i - 1] < 0.0f && x[i] >= 0.0f)
            {
                const auto t = (i - 1) + (double) -x[i - 1] / ((double) x[i] - x[i - 1]);
                if (last >= 0.0)
                    periods.push_back (t - last);
                last = t;
            }
        }

        if (periods.empty())
            return 0.0;

        std::nth_element (periods.begin(), periods.begin() + (long) periods.size() / 2, periods.end());
        return rate / periods[periods.size() / 2];
    }

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
        synth.enableAllBuses();
        synth.setRateAndBufferSizeDetails (sampleRate, blockSize);
        synth.prepareToPlay (sampleRate, blockSize);

        const auto channels = juce::jmax (synth.getTotalNumOutputChannels(), synth.getTotalNumInputChannels());
        check (synth.getTotalNumOutputChannels() == 2, "the plug-in has stereo output");

        const int totalBlocks = (int) (1.5 * sampleRate) / blockSize;
        juce::AudioBuffer<float> recording (2, totalBlocks * blockSize);
        juce::AudioBuffer<float> block (channels, blockSize);
        juce::MidiBuffer midi;
        bool finite = true;

        for (int b = 0; b < totalBlocks; ++b)
        {
            block.clear();
            midi.clear();

            if (b == 0)
                midi.addEvent (juce::MidiMessage::noteOn (1, 69, (juce::uint8) 100), 0);
            if (b == (int) (sampleRate / blockSize))
                midi.addEvent (juce::MidiMessage::noteOff (1, 69), 0);

            synth.processBlock (block, midi);

            for (int c = 0; c < 2; ++c)
            {
                const auto* x = block.getReadPointer (juce::jmin (c, channels - 1));
                for (int i = 0; i < blockSize; ++i)
                    finite = finite && std::isfinite (x[i]);
                recording.copyFrom (c, b * blockSize, x, blockSize);
            }
        }

        synth.releaseResources();

        const auto held = (int) (0.1 * sampleRate);
        const auto heldLength = (int) (0.8 * sampleRate);
        const auto level = dbfs (rms (recording.getReadPointer (0, held), heldLength));
        const auto pitch = frequency (recording.getReadPointer (0, held), heldLength, sampleRate);
        const auto tail = dbfs (peak (recording.getReadPointer (0, (int) (1.3 * sampleRate)), (int) (0.15 * sampleRate)));

        check (finite, "every rendered sample is finite");
        check (level > -40.0 && level < 0.0, "the held note sounds at " + juce::String (level, 1) + " dBFS RMS");
        check (std::abs (pitch - 440.0) < 1.0, "the held note plays at " + juce::String (pitch, 2) + " Hz (note 69)");
        check (std::abs (rms (recording.getReadPointer (0, held), heldLength) - rms (recording.getReadPointer (1, held), heldLength)) < 1.0e-3,
               "both channels sound alike (centre pan)");
        check (tail < -80.0, "after the release the output is silent (" + juce::String (tail, 1) + " dBFS)");

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
        std::cout << "     the child ended " << (aborting ? juce::String (millis) + " ms after abort()" : juce::String())
                  << " with exit status " << shellStatus
                  << (WIFSIGNALED (status) ? juce::String (" (") + strsignal (WTERMSIG (status)) + ")" : juce::String()) << std::endl;
        check (WIFSIGNALED (status) && WTERMSIG (status) == SIGABRT,
               "the child died of SIGABRT (exit status 134), its own crash, not a plug-in's handling of it");

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
                  << " frequency_hz=" << juce::String (medianFrequency (audio.getReadPointer (0), n, rate), 2) << std::endl;
        return 0;
    }
}

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    const juce::String mode = argc > 1 ? argv[1] : "";

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

    if (mode == "analyse" && (argc == 3 || argc == 5))
        return runAnalyse (argv[2], argc == 5 ? std::atof (argv[3]) : 0.0, argc == 5 ? std::atof (argv[4]) : 0.0);

    std::cerr << "usage: korvane_plugin_host [abort] vst3 BUNDLE | [abort] lv2 FOLDER URI | analyse FILE.wav [FROM TO]" << std::endl;
    return 2;
}
