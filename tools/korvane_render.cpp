// korvane-render: renders Korvane offline, through the same processor the app
// and the plug-ins run (prepareToPlay, processBlock, output stage), into a WAV
// file. Bad input ends with one line on stderr and exit code 2, and never
// leaves an output file behind.
#include "diagnostics/Notices.h"
#include "state/OAFileIO.h"
#include "state/OAStringTools.h"
#include "processor/PluginProcessor.h"

#include "MidiScore.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>

#include <unistd.h>

namespace
{
    constexpr int exitBadInput = 2;
    constexpr int exitFailure = 1;
    constexpr juce::int64 maxPatchBytes = 1024 * 1024;

    const char* const usage =
        "usage: korvane-render --out FILE.wav (--midi FILE.mid | --notes N[,N...]) [options]\n"
        "\n"
        "  --out FILE.wav        stereo WAV to write (24-bit; 32-bit float with --float)\n"
        "  --patch FILE.kvn      patch to play (default: the built-in \"Init[OA]\")\n"
        "  --midi FILE.mid       standard MIDI file; its tempo map is honoured and the\n"
        "                        render runs on until the output is silent (at most --max-tail)\n"
        "  --notes 60,64,67      notes to hold from the start instead of a MIDI file\n"
        "  --velocity 1..127     velocity of --notes (default 100)\n"
        "  --hold SECONDS        how long --notes are held (default 1)\n"
        "  --seconds SECONDS     length of the render (default 2 with --notes; with --midi\n"
        "                        a fixed length instead of the silence rule)\n"
        "  --max-tail SECONDS    with --midi: longest tail after the last event (default 10)\n"
        "  --set ID=VALUE        parameter value, normalised 0..1 (repeatable)\n"
        "  --mod KEY=VALUE       waveform or modulation target, e.g. synth1_oscType=sawtooth_og,\n"
        "                        env1_mappedParam=cutoff (repeatable)\n"
        "  --sample-rate HZ      default 48000\n"
        "  --block-size N        default 512\n"
        "  --tempo BPM           the play head reports this tempo with the transport playing\n"
        "                        (default: the MIDI file's tempo map; none with --notes)\n"
        "  --float               write 32-bit float samples\n"
        "  --quiet               no progress bar (it is shown on a terminal for renders over 1 s)\n"
        "\n"
        "The last line on stdout reads:\n"
        "  seconds=... cpu_seconds=... realtime_factor=... peak_dbfs=... rms_dbfs=...\n";

    /** Bad input: reported as one line, exit code 2. */
    struct BadInput
    {
        juce::String message;
    };

    [[noreturn]] void bad (const juce::String& message) { throw BadInput { message }; }

    //==============================================================================
    double parseNumber (const juce::String& text, const juce::String& what)
    {
        const auto trimmed = text.trim();
        const auto* start = trimmed.toRawUTF8();
        char* end = nullptr;
        const auto value = std::strtod (start, &end);

        if (trimmed.isEmpty() || end == nullptr || *end != '\0' || ! std::isfinite (value))
            bad (what + " needs a number, got '" + text + "'");

        return value;
    }

    double parseInRange (const juce::String& text, const juce::String& what, double lo, double hi)
    {
        const auto v = parseNumber (text, what);

        if (v < lo || v > hi)
            bad (what + " must lie between " + juce::String (lo) + " and " + juce::String (hi) + ", got " + text);

        return v;
    }

    int parseInteger (const juce::String& text, const juce::String& what, int lo, int hi)
    {
        const auto v = parseInRange (text, what, lo, hi);

        if (v != std::floor (v))
            bad (what + " must be a whole number, got " + text);

        return (int) v;
    }

    std::pair<juce::String, juce::String> splitAssignment (const juce::String& text, const juce::String& option)
    {
        if (! text.containsChar ('=') || text.startsWithChar ('='))
            bad (option + " needs ID=VALUE, got '" + text + "'");

        return { text.upToFirstOccurrenceOf ("=", false, false).trim(),
                 text.fromFirstOccurrenceOf ("=", false, false).trim() };
    }

    //==============================================================================
    struct Options
    {
        juce::File out;
        std::optional<juce::File> patch, midi;
        std::vector<int> notes;
        int velocity = 100;
        double hold = 1.0;
        std::optional<double> seconds;
        double maxTail = 10.0;
        std::vector<std::pair<juce::String, juce::String>> sets, mods;
        double sampleRate = 48000.0;
        int blockSize = 512;
        std::optional<double> tempo;
        bool floatSamples = false;
        bool quiet = false;
        bool help = false;
    };

    juce::File fileArgument (const juce::String& path)
    {
        return juce::File::getCurrentWorkingDirectory().getChildFile (path);
    }

    Options parseArguments (const juce::StringArray& args)
    {
        Options o;
        bool haveOut = false;

        for (int i = 0; i < args.size(); ++i)
        {
            auto arg = args[i];
            juce::String inlineValue;
            bool hasInlineValue = false;

            if (arg.startsWith ("--") && arg.containsChar ('='))
            {
                inlineValue = arg.fromFirstOccurrenceOf ("=", false, false);
                arg = arg.upToFirstOccurrenceOf ("=", false, false);
                hasInlineValue = true;
            }

            auto value = [&]() -> juce::String
            {
                if (hasInlineValue)
                    return inlineValue;

                if (i + 1 >= args.size())
                    bad (arg + " needs a value");

                return args[++i];
            };

            auto flag = [&]
            {
                if (hasInlineValue)
                    bad (arg + " takes no value");
            };

            if (arg == "--help" || arg == "-h")        { flag(); o.help = true; }
            else if (arg == "--out")                   { o.out = fileArgument (value()); haveOut = true; }
            else if (arg == "--patch")                 { o.patch = fileArgument (value()); }
            else if (arg == "--midi")                  { o.midi = fileArgument (value()); }
            else if (arg == "--notes")
            {
                const auto list = value();
                auto pieces = juce::StringArray::fromTokens (list, ",", "");

                if (pieces.isEmpty())
                    bad ("--notes needs a list of MIDI note numbers, e.g. 60,64,67");

                for (const auto& piece : pieces)
                    o.notes.push_back (parseInteger (piece, "--notes", 0, 127));
            }
            else if (arg == "--velocity")              { o.velocity = parseInteger (value(), "--velocity", 1, 127); }
            else if (arg == "--hold")                  { o.hold = parseInRange (value(), "--hold", 0.0, 3600.0); }
            else if (arg == "--seconds")               { o.seconds = parseInRange (value(), "--seconds", 0.001, 3600.0); }
            else if (arg == "--max-tail")              { o.maxTail = parseInRange (value(), "--max-tail", 0.0, 600.0); }
            else if (arg == "--set")                   { o.sets.push_back (splitAssignment (value(), "--set")); }
            else if (arg == "--mod")                   { o.mods.push_back (splitAssignment (value(), "--mod")); }
            else if (arg == "--sample-rate")           { o.sampleRate = parseInteger (value(), "--sample-rate", 8000, 192000); }
            else if (arg == "--block-size")            { o.blockSize = parseInteger (value(), "--block-size", 1, 16384); }
            else if (arg == "--tempo")                 { o.tempo = parseInRange (value(), "--tempo", 1.0, 999.0); }
            else if (arg == "--float")                 { flag(); o.floatSamples = true; }
            else if (arg == "--quiet")                 { flag(); o.quiet = true; }
            else if (arg.startsWith ("-"))             bad ("unknown option " + arg + " (see --help)");
            else                                       bad ("unexpected argument '" + arg + "' (see --help)");
        }

        if (o.help)
            return o;

        if (! haveOut)
            bad ("no output file: give --out FILE.wav");

        if (o.midi && ! o.notes.empty())
            bad ("give either --midi or --notes, not both");

        if (! o.midi && o.notes.empty())
            bad ("nothing to play: give --midi FILE.mid or --notes 60,64,67");

        return o;
    }

    //==============================================================================
    juce::String readCapped (const juce::File& file, juce::int64 cap, const juce::String& what)
    {
        if (! file.existsAsFile())
            bad (what + " " + file.getFullPathName() + " does not exist");

        if (file.getSize() > cap)
            bad (what + " " + file.getFullPathName() + " is too large (more than " + juce::String (cap / 1024) + " KiB)");

        juce::FileInputStream in (file);

        if (! in.openedOk())
            bad ("cannot read " + what + " " + file.getFullPathName() + ": " + in.getStatus().getErrorMessage());

        juce::MemoryBlock data;
        in.readIntoMemoryBlock (data, (ssize_t) cap);

        // The same rule as the app's own patch loading: well-formed UTF-8, no zero bytes.
        auto decoded = OAFileIO::decodeText (data.getData(), data.getSize());

        if (decoded.status != OAFileIO::ReadStatus::ok)
            bad (what + " " + file.getFullPathName() + " is not a text file");

        return decoded.text;
    }

    MidiScore readMidiFile (const juce::File& file, double sampleRate)
    {
        if (! file.existsAsFile())
            bad ("MIDI file " + file.getFullPathName() + " does not exist");

        if (file.getSize() > MidiScoreLimits::maxFileBytes)
            bad ("MIDI file " + file.getFullPathName() + " is too large");

        juce::FileInputStream in (file);

        if (! in.openedOk())
            bad ("cannot read MIDI file " + file.getFullPathName() + ": " + in.getStatus().getErrorMessage());

        MidiScore score;
        const auto result = readMidiScore (in, sampleRate, score);

        if (result.failed())
            bad ("MIDI file " + file.getFullPathName() + " " + result.getErrorMessage());

        return score;
    }

    //==============================================================================
    void applyPatch (kvAP& proc, const juce::File& file)
    {
        const auto text = readCapped (file, maxPatchBytes, "patch");
        const auto result = proc.replaceState (text);

        if (result.failed())
            bad ("patch " + file.getFullPathName() + " is not a Korvane patch: " + result.getErrorMessage());
    }

    void applySets (kvAP& proc, const Options& o)
    {
        for (const auto& [id, text] : o.sets)
        {
            if (proc.paramMan.paramsById.count (id) == 0)
                bad ("--set: unknown parameter id '" + id + "'");

            const auto v = parseInRange (text, "--set " + id, 0.0, 1.0);
            proc.apvts.getParameter (id)->setValueNotifyingHost ((float) v);
        }
    }

    void applyMods (kvAP& proc, const Options& o)
    {
        for (const auto& [key, value] : o.mods)
        {
            const auto map = proc.getModMap();

            if (map.count (key) == 0)
            {
                juce::StringArray keys;
                for (const auto& entry : map)
                    keys.add (entry.first);

                bad ("--mod: unknown key '" + key + "' (keys: " + keys.joinIntoString (", ") + ")");
            }

            if (key.endsWith ("_oscType"))
            {
                bool known = false;

                for (auto* shape : proc.waveManager.waveforms)
                    known = known || shape->id == value;

                if (! known)
                    bad ("--mod " + key + ": unknown waveform id '" + value + "'");
            }
            else if (proc.paramMan.paramsById.count (value) == 0)
            {
                bad ("--mod " + key + ": unknown parameter id '" + value + "' (\"dummy\" means none)");
            }

            proc.setModMapEntry (key, value);
        }
    }

    //==============================================================================
    class Progress
    {
    public:
        Progress (bool enabled, juce::int64 total) : show (enabled), totalSamples (total) {}

        void update (juce::int64 done)
        {
            if (! show || totalSamples <= 0)
                return;

            const auto percent = (int) juce::jlimit ((juce::int64) 0, (juce::int64) 100, done * 100 / totalSamples);

            if (percent == lastPercent)
                return;

            lastPercent = percent;
            constexpr int width = 40;
            const auto filled = percent * width / 100;
            std::fprintf (stderr, "\rrendering [%s%s] %3d%%",
                          std::string ((size_t) filled, '#').c_str(),
                          std::string ((size_t) (width - filled), '.').c_str(), percent);
            std::fflush (stderr);
        }

        void finish()
        {
            if (show && lastPercent >= 0)
            {
                update (totalSamples);
                std::fputc ('\n', stderr);
            }
        }

    private:
        bool show;
        juce::int64 totalSamples;
        int lastPercent = -1;
    };

    juce::String formatDb (double gain)
    {
        return gain > 0.0 ? juce::String (20.0 * std::log10 (gain), 2) : juce::String ("-inf");
    }

    //==============================================================================
    int render (const Options& o)
    {
        // A folder that is missing or not writable is bad input, found before any work.
        const auto folder = o.out.getParentDirectory();

        if (! folder.isDirectory())
            bad ("cannot write " + o.out.getFullPathName() + ": folder " + folder.getFullPathName() + " does not exist");

        if (o.out.isDirectory())
            bad ("cannot write " + o.out.getFullPathName() + ": it is a folder");

        kvAP proc;
        proc.setPlayConfigDetails (0, 2, o.sampleRate, o.blockSize);
        proc.setRateAndBufferSizeDetails (o.sampleRate, o.blockSize);
        proc.prepareToPlay (o.sampleRate, o.blockSize);

        std::optional<MidiScore> score;

        if (o.midi)
            score = readMidiFile (*o.midi, o.sampleRate);

        if (o.patch)
            applyPatch (proc, *o.patch);
        else
            proc.replaceState (juce::String::fromUTF8 (kvAP::getDefaultPatchXml()));

        applySets (proc, o);
        applyMods (proc, o);

        // As after a patch load: every value re-applied, waveforms pushed to the voices.
        proc.updateAllParams();
        proc.updateOscTypes();

        std::unique_ptr<RenderPlayHead> playHead;

        if (o.tempo)
            playHead = std::make_unique<RenderPlayHead> (TempoMap::fixed (*o.tempo), o.sampleRate);
        else if (score)
            playHead = std::make_unique<RenderPlayHead> (score->tempo, o.sampleRate);

        proc.setPlayHead (playHead.get());

        // Events: the file's, or the held notes and their release.
        std::vector<TimedMessage> events;
        juce::int64 fixedLength = -1;
        juce::int64 lastEventSample = 0;

        if (score)
        {
            events = score->events;
            lastEventSample = events.back().sample;

            if (o.seconds)
                fixedLength = (juce::int64) std::llround (*o.seconds * o.sampleRate);
        }
        else
        {
            const auto releaseAt = (juce::int64) std::llround (o.hold * o.sampleRate);

            for (auto note : o.notes)
                events.push_back ({ 0, juce::MidiMessage::noteOn (1, note, (juce::uint8) o.velocity) });

            for (auto note : o.notes)
                events.push_back ({ releaseAt, juce::MidiMessage::noteOff (1, note) });

            fixedLength = (juce::int64) std::llround (o.seconds.value_or (2.0) * o.sampleRate);
        }

        const auto tailCap = (juce::int64) std::llround (o.maxTail * o.sampleRate);
        // The tail after the last event is short and unknown: the bar counts up to that event.
        const auto expectedLength = fixedLength >= 0 ? fixedLength : lastEventSample;

        // Written to a temporary file beside the target and moved into place
        // only when everything went well.
        juce::TemporaryFile temp (o.out);
        std::unique_ptr<juce::AudioFormatWriter> writer;

        {
            auto stream = std::make_unique<juce::FileOutputStream> (temp.getFile());

            if (! stream->openedOk())
                bad ("cannot write " + o.out.getFullPathName() + ": " + stream->getStatus().getErrorMessage());

            juce::WavAudioFormat wav;
            writer.reset (wav.createWriterFor (stream.get(), o.sampleRate, 2, o.floatSamples ? 32 : 24, {}, 0));

            if (writer == nullptr)
                bad ("cannot write a WAV file at " + juce::String (o.sampleRate) + " Hz");

            stream.release(); // the writer owns it now
        }

        // The bar redraws itself in place, which only makes sense on a terminal.
        Progress progress (! o.quiet && isatty (STDERR_FILENO) && expectedLength > (juce::int64) o.sampleRate, expectedLength);

        juce::AudioBuffer<float> block (2, o.blockSize);
        juce::MidiBuffer midi;
        size_t nextEvent = 0;
        juce::int64 position = 0;
        juce::int64 quietRun = 0;
        const auto quietNeeded = (juce::int64) (0.1 * o.sampleRate);
        constexpr float silence = 1.0e-5f; // -100 dBFS
        double peak = 0.0, sumSquares = 0.0;

        const auto cpuStart = std::clock();

        for (;;)
        {
            juce::int64 length = o.blockSize;

            if (fixedLength >= 0)
            {
                length = juce::jmin (length, fixedLength - position);

                if (length <= 0)
                    break;
            }
            else if (position > lastEventSample && (quietRun >= quietNeeded || position - lastEventSample >= tailCap))
            {
                break;
            }

            const auto n = (int) length;
            block.setSize (2, n, false, false, true);
            block.clear();
            midi.clear();

            while (nextEvent < events.size() && events[nextEvent].sample < position + n)
            {
                const auto& e = events[nextEvent++];
                midi.addEvent (e.message, (int) juce::jmax ((juce::int64) 0, e.sample - position));
            }

            if (playHead != nullptr)
                playHead->setPosition (position);

            const auto silencedBefore = proc.outputGuard.getSilencedBlocks();
            proc.processBlock (block, midi);

            // The output guard sends such a block out as silence; a render must not hide it.
            if (proc.outputGuard.getSilencedBlocks() != silencedBefore)
                throw std::runtime_error ("the processor produced a non-finite sample in the block at "
                                          + std::to_string ((double) position / o.sampleRate) + " s");

            float blockPeak = 0.0f;

            for (int c = 0; c < 2; ++c)
            {
                const auto* x = block.getReadPointer (c);

                for (int i = 0; i < n; ++i)
                {
                    if (! std::isfinite (x[i]))
                        throw std::runtime_error ("the processor produced a non-finite sample at "
                                                  + std::to_string ((double) (position + i) / o.sampleRate) + " s");

                    blockPeak = juce::jmax (blockPeak, std::abs (x[i]));
                    sumSquares += (double) x[i] * x[i];
                }
            }

            peak = juce::jmax (peak, (double) blockPeak);
            quietRun = blockPeak < silence ? quietRun + n : 0;

            if (! writer->writeFromAudioSampleBuffer (block, 0, n))
                throw std::runtime_error ("writing " + o.out.getFullPathName().toStdString() + " failed (disk full?)");

            position += n;
            progress.update (position);
        }

        const auto cpuSeconds = (double) (std::clock() - cpuStart) / CLOCKS_PER_SEC;
        progress.finish();
        proc.setPlayHead (nullptr);

        if (! writer->flush())
            throw std::runtime_error ("writing " + o.out.getFullPathName().toStdString() + " failed");

        writer.reset();

        if (! temp.overwriteTargetFileWithTemporary())
            throw std::runtime_error ("cannot move the render into place at " + o.out.getFullPathName().toStdString());

        const auto seconds = (double) position / o.sampleRate;
        const auto rms = position > 0 ? std::sqrt (sumSquares / (2.0 * (double) position)) : 0.0;

        std::cout << "seconds=" << juce::String (seconds, 3)
                  << " cpu_seconds=" << juce::String (cpuSeconds, 3)
                  << " realtime_factor=" << (cpuSeconds > 0.0 ? juce::String (seconds / cpuSeconds, 2) : juce::String ("inf"))
                  << " peak_dbfs=" << formatDb (peak)
                  << " rms_dbfs=" << formatDb (rms) << std::endl;
        return 0;
    }
}

int main (int argc, char** argv)
{
    juce::StringArray args;

    for (int i = 1; i < argc; ++i)
    {
        if (! OAStringTools::isWellFormedUtf8 (argv[i], std::strlen (argv[i])))
        {
            std::cerr << "korvane-render: argument " << i << " is not UTF-8 text" << std::endl;
            return exitBadInput;
        }

        args.add (juce::String::fromUTF8 (argv[i]));
    }

    juce::ScopedJuceInitialiser_GUI juce;
    Notices::setHandler (Notices::toStandardError());

    try
    {
        const auto options = parseArguments (args);

        if (options.help)
        {
            std::cout << usage;
            return 0;
        }

        return render (options);
    }
    catch (const BadInput& e)
    {
        std::cerr << "korvane-render: " << e.message << std::endl;
        return exitBadInput;
    }
    catch (const std::exception& e)
    {
        std::cerr << "korvane-render: " << e.what() << std::endl;
        return exitFailure;
    }
}
