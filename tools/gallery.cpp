// The factory bank's gallery: every factory patch played on its category's
// phrase through the processor (as korvane-render plays a MIDI file),
// measured, written as audio, and drawn; plus one sheet of the 28 waveforms.
// `make gallery` runs it.
//
//   korvane-gallery --patches resources/factory --docs docs/gallery --audio build/gallery
//
// Writes into --docs: README.md (the balance table and the patch pages),
// waveforms.png and patches/<name>.png; into --audio: <name>.wav (24-bit).
// Everything is drawn with the framework's own image classes.
#include "FactoryRecipes.h"
#include "Phrases.h"
#include "SoundMeasures.h"

#include "diagnostics/Notices.h"
#include "processor/PluginProcessor.h"
#include "synth/WaveManager.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <iostream>

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;
    constexpr juce::int64 noiseSeed = 1;

    struct Failure
    {
        juce::String message;
    };

    //==============================================================================
    // Colours and text
    const juce::Colour background (0xff15171c), panel (0xff1e2128), grid (0xff343944), label (0xffa9b0bd),
                       titleColour (0xffe9ecf2), waveColour (0xff4fc3b0), heldColour (0x2266aaff),
                       noteColour (0xffe0a040), spectrumColour (0xff7fa8ff), markerColour (0xffff7a6b),
                       windowColour (0x55ffcc66);

    juce::Typeface::Ptr typeface;

    /** DejaVu Sans when the system has it (Debian's fonts-dejavu-core), so
        that the pictures look the same on every machine that has it. */
    void loadTypeface()
    {
        const juce::File dejaVu ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
        juce::MemoryBlock data;

        if (dejaVu.loadFileAsData (data))
            typeface = juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize());
    }

    juce::Font font (float height)
    {
        return typeface != nullptr ? juce::Font (typeface).withHeight (height) : juce::Font (height);
    }

    void text (juce::Graphics& g, const juce::String& s, juce::Rectangle<int> area, float height,
               juce::Colour colour, juce::Justification just = juce::Justification::centredLeft)
    {
        g.setColour (colour);
        g.setFont (font (height));
        g.drawText (s, area, just, false);
    }

    juce::String slug (const juce::String& name)
    {
        return name.toLowerCase().retainCharacters ("abcdefghijklmnopqrstuvwxyz0123456789 ").trim().replace (" ", "-");
    }

    juce::String decibels (double db)
    {
        return db < -100.0 ? juce::String ("< -100") : juce::String (db, 1);
    }

    void writePng (const juce::Image& image, const juce::File& file)
    {
        file.getParentDirectory().createDirectory();
        juce::MemoryOutputStream out;
        juce::PNGImageFormat png;

        if (! png.writeImageToStream (image, out))
            throw Failure { "cannot encode " + file.getFullPathName() };

        // Replaced only when different, so that an unchanged picture keeps its file.
        juce::MemoryBlock old;

        if (file.loadFileAsData (old) && old == out.getMemoryBlock())
            return;

        if (! file.replaceWithData (out.getData(), out.getDataSize()))
            throw Failure { "cannot write " + file.getFullPathName() };
    }

    //==============================================================================
    // The waveform sheet: one cycle of each shape at its default parameters and
    // at the corners of the parameter range it reads.
    struct ParamCase
    {
        float p1, p2;
        const char* title;
    };

    const ParamCase sheetCases[] = {
        { 0.5f, 0.25f, "default (p1 0.5, p2 0.25)" },
        { 0.0f, 0.0f, "p1 0, p2 0" },
        { 1.0f, 0.0f, "p1 1, p2 0" },
        { 0.0f, 1.0f, "p1 0, p2 1" },
        { 1.0f, 1.0f, "p1 1, p2 1" },
    };

    void drawCycle (juce::Graphics& g, Waveform& shape, float p1, float p2, juce::Rectangle<int> cell)
    {
        g.setColour (panel);
        g.fillRect (cell);

        const auto area = cell.reduced (4).toFloat();
        constexpr float range = 1.6f; // SineStringB reaches 1.5
        const auto yFor = [&] (float v) { return area.getCentreY() - v / range * area.getHeight() * 0.5f; };

        g.setColour (grid);
        g.drawHorizontalLine ((int) yFor (0.0f), area.getX(), area.getRight());
        g.setColour (grid.withAlpha (0.6f));

        for (auto v : { 1.0f, -1.0f })
            for (float x = area.getX(); x < area.getRight(); x += 6.0f)
                g.drawHorizontalLine ((int) yFor (v), x, juce::jmin (x + 3.0f, area.getRight()));

        juce::Path curve;
        const auto points = (int) area.getWidth() * 2;

        for (int i = 0; i <= points; ++i)
        {
            const auto phase = juce::MathConstants<double>::twoPi * i / points;
            float params[2] { p1, p2 };
            const auto v = juce::jlimit (-range, range, shape.wave (phase, params, 0.0f));
            const auto x = area.getX() + area.getWidth() * (float) i / (float) points;

            if (i == 0)
                curve.startNewSubPath (x, yFor (v));
            else
                curve.lineTo (x, yFor (v));
        }

        g.setColour (waveColour);
        g.strokePath (curve, juce::PathStrokeType (1.5f));
    }

    juce::Image drawWaveformSheet()
    {
        WaveManager shapes;
        constexpr int labelWidth = 190, cellWidth = 150, cellHeight = 60, gap = 6, header = 58, margin = 12;
        const auto numRows = shapes.waveforms.size();
        const auto width = margin * 2 + labelWidth + 5 * (cellWidth + gap);
        const auto height = header + numRows * (cellHeight + gap) + margin;

        juce::Image image (juce::Image::RGB, width, height, true);
        juce::Graphics g (image);
        g.fillAll (background);

        text (g, "Korvane's 28 waveforms: one cycle each, at the default and at the extreme shape parameters",
              { margin, 6, width - 2 * margin, 22 }, 16.0f, titleColour);

        for (int c = 0; c < 5; ++c)
            text (g, sheetCases[c].title, { margin + labelWidth + c * (cellWidth + gap), 30, cellWidth, 20 }, 12.0f, label,
                  juce::Justification::centred);

        for (int row = 0; row < numRows; ++row)
        {
            auto& shape = *shapes.waveforms[row];
            const auto y = header + row * (cellHeight + gap);
            const auto uses1 = shape.acceptsParam1(), uses2 = shape.acceptsParam2();

            text (g, juce::String (row) + "  " + shape.getName(), { margin, y + 8, labelWidth - 8, 20 }, 14.0f, titleColour);
            const auto reads = uses1 && uses2 ? "p1, p2" : (uses1 ? "p1" : (uses2 ? "p2" : "no parameters"));
            text (g, "\"" + shape.getId() + "\"  " + reads, { margin, y + 30, labelWidth - 8, 18 }, 11.0f, label);

            for (int c = 0; c < 5; ++c)
            {
                const auto& pc = sheetCases[c];
                const auto cell = juce::Rectangle<int> (margin + labelWidth + c * (cellWidth + gap), y, cellWidth, cellHeight);

                // Only the corners of the parameters the shape reads.
                const auto shown = c == 0 || (uses1 && uses2) || (uses1 && pc.p2 == 0.0f) || (uses2 && pc.p1 == 0.0f);

                if (! shown)
                    continue;

                drawCycle (g, shape, pc.p1, pc.p2, cell);
            }
        }

        return image;
    }

    //==============================================================================
    // A patch picture: the phrase's waveform envelope with its notes, and its spectrum.
    juce::Image drawPatchPicture (const Factory::Recipe& recipe, const Factory::Phrase& phrase,
                                  const juce::AudioBuffer<float>& audio, const Factory::SoundMeasures& m)
    {
        constexpr int width = 960, height = 300;
        juce::Image image (juce::Image::RGB, width, height, true);
        juce::Graphics g (image);
        g.fillAll (background);

        text (g, recipe.name + "   " + Factory::categoryName (recipe.category), { 12, 6, 460, 24 }, 17.0f, titleColour);
        text (g, "peak " + decibels (m.peakDb) + " dBFS   RMS " + decibels (m.rmsDb) + " dBFS   centroid "
                     + juce::String (juce::roundToInt (m.centroidHz)) + " Hz",
              { 470, 6, width - 482, 24 }, 13.0f, label, juce::Justification::centredRight);

        // Waveform envelope over time.
        const juce::Rectangle<int> wavePanel (12, 38, 620, 250);
        g.setColour (panel);
        g.fillRect (wavePanel);

        const auto rollHeight = 34;
        const auto waveArea = wavePanel.withTrimmedBottom (rollHeight + 18).reduced (0, 6);
        const auto rollArea = wavePanel.withTop (wavePanel.getBottom() - rollHeight - 16).withHeight (rollHeight);
        const auto totalSeconds = (double) audio.getNumSamples() / sampleRate;
        const auto xForSeconds = [&] (double s) { return (float) (wavePanel.getX() + s / totalSeconds * wavePanel.getWidth()); };
        const auto yForValue = [&] (float v) { return (float) waveArea.getCentreY() - v * (float) waveArea.getHeight() * 0.5f; };

        // The held span, for sustained sounds the part that must keep sounding.
        g.setColour (heldColour);
        g.fillRect (juce::Rectangle<float>::leftTopRightBottom (xForSeconds (Factory::Phrase::secondsFor (phrase.heldFromBeat)), (float) waveArea.getY(),
                                                                 xForSeconds (Factory::Phrase::secondsFor (phrase.heldToBeat)), (float) waveArea.getBottom()));

        g.setColour (grid);
        g.drawHorizontalLine ((int) yForValue (0.0f), (float) wavePanel.getX(), (float) wavePanel.getRight());

        // The level window: peaks belong between the dashed lines.
        for (auto db : { Factory::highestPeakDb, Factory::lowestPeakDb })
        {
            const auto v = (float) juce::Decibels::decibelsToGain (db);

            for (auto sign : { 1.0f, -1.0f })
            {
                g.setColour (windowColour);

                for (float x = (float) wavePanel.getX(); x < (float) wavePanel.getRight(); x += 8.0f)
                    g.drawHorizontalLine ((int) yForValue (sign * v), x, juce::jmin (x + 4.0f, (float) wavePanel.getRight()));
            }

            text (g, juce::String ((int) db) + " dBFS", { wavePanel.getRight() - 70, (int) yForValue (v) - 14, 66, 12 }, 10.0f,
                  windowColour.withAlpha (1.0f), juce::Justification::centredRight);
        }

        g.setColour (waveColour);

        for (int x = 0; x < wavePanel.getWidth(); ++x)
        {
            const auto start = (int) ((juce::int64) x * audio.getNumSamples() / wavePanel.getWidth());
            const auto end = (int) ((juce::int64) (x + 1) * audio.getNumSamples() / wavePanel.getWidth());
            float lo = 0.0f, hi = 0.0f;

            for (int i = start; i < end; ++i)
            {
                float v = 0.0f;

                for (int c = 0; c < audio.getNumChannels(); ++c)
                    v += audio.getSample (c, i);

                v /= (float) audio.getNumChannels();
                lo = juce::jmin (lo, v);
                hi = juce::jmax (hi, v);
            }

            g.drawVerticalLine (wavePanel.getX() + x, yForValue (juce::jmin (1.0f, hi)), yForValue (juce::jmax (-1.0f, lo)) + 1.0f);
        }

        // The notes of the phrase, as a small piano roll.
        int lowest = 127, highest = 0;

        for (const auto& n : phrase.notes)
            lowest = juce::jmin (lowest, n.note), highest = juce::jmax (highest, n.note);

        g.setColour (noteColour);

        for (const auto& n : phrase.notes)
        {
            const auto span = juce::jmax (1, highest - lowest);
            const auto y = (float) rollArea.getBottom() - 4.0f - (float) (n.note - lowest) / (float) span * (float) (rollArea.getHeight() - 8);
            g.fillRect (juce::Rectangle<float>::leftTopRightBottom (xForSeconds (Factory::Phrase::secondsFor (n.startBeat)), y - 1.5f,
                                                                     xForSeconds (Factory::Phrase::secondsFor (n.startBeat + n.lengthBeats)), y + 1.5f));
        }

        for (int s = 0; s <= (int) totalSeconds; ++s)
        {
            const auto x = (int) xForSeconds (s);
            g.setColour (grid);
            g.drawVerticalLine (x, (float) wavePanel.getBottom() - 16.0f, (float) wavePanel.getBottom() - 10.0f);
            text (g, juce::String (s) + " s", { x + 2, wavePanel.getBottom() - 16, 40, 14 }, 10.0f, label);
        }

        // Spectrum: average magnitude, log frequency, dB below its highest bin.
        const juce::Rectangle<int> specPanel (648, 38, 300, 250);
        g.setColour (panel);
        g.fillRect (specPanel);
        const auto specArea = specPanel.reduced (6).withTrimmedBottom (14);
        const auto xForHz = [&] (double hz)
        {
            return (float) specArea.getX() + (float) (std::log10 (hz / 20.0) / std::log10 (1000.0)) * (float) specArea.getWidth();
        };

        double maxMagnitude = 1.0e-12;

        for (auto v : m.spectrum)
            maxMagnitude = juce::jmax (maxMagnitude, (double) v);

        constexpr double floorDb = -80.0;
        const auto yForDb = [&] (double db)
        {
            return (float) specArea.getY() + (float) (juce::jlimit (floorDb, 0.0, db) / floorDb) * (float) specArea.getHeight();
        };

        for (auto hz : { 100.0, 1000.0, 10000.0 })
        {
            g.setColour (grid);
            g.drawVerticalLine ((int) xForHz (hz), (float) specArea.getY(), (float) specArea.getBottom());
            text (g, hz >= 1000.0 ? juce::String ((int) (hz / 1000.0)) + " kHz" : juce::String ((int) hz) + " Hz",
                  { (int) xForHz (hz) + 2, specArea.getBottom() + 1, 50, 12 }, 10.0f, label);
        }

        for (auto db : { -20.0, -40.0, -60.0 })
        {
            g.setColour (grid.withAlpha (0.5f));
            g.drawHorizontalLine ((int) yForDb (db), (float) specArea.getX(), (float) specArea.getRight());
            text (g, juce::String ((int) db) + " dB", { specArea.getX() + 2, (int) yForDb (db) - 12, 44, 11 }, 9.0f, label);
        }

        juce::Path spectrum;
        bool started = false;

        for (size_t k = 1; k < m.spectrum.size(); ++k)
        {
            const auto hz = (double) k * m.binHz;

            if (hz < 20.0 || hz > 20000.0)
                continue;

            const auto db = juce::Decibels::gainToDecibels ((double) m.spectrum[k] / maxMagnitude, floorDb);
            const auto point = juce::Point<float> (xForHz (hz), yForDb (db));

            if (! started)
                spectrum.startNewSubPath (point), started = true;
            else
                spectrum.lineTo (point);
        }

        g.setColour (spectrumColour);
        g.strokePath (spectrum, juce::PathStrokeType (1.2f));

        if (m.centroidHz > 20.0)
        {
            g.setColour (markerColour);
            g.drawVerticalLine ((int) xForHz (m.centroidHz), (float) specArea.getY(), (float) specArea.getBottom());
            text (g, "centroid", { (int) xForHz (m.centroidHz) + 3, specArea.getY() + 2, 60, 12 }, 10.0f, markerColour);
        }

        return image;
    }

    //==============================================================================
    void writeWav (const juce::AudioBuffer<float>& audio, const juce::File& file)
    {
        file.getParentDirectory().createDirectory();
        file.deleteFile();
        auto stream = std::make_unique<juce::FileOutputStream> (file);

        if (! stream->openedOk())
            throw Failure { "cannot write " + file.getFullPathName() };

        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), sampleRate, 2, 24, {}, 0));

        if (writer == nullptr)
            throw Failure { "cannot write a WAV file" };

        stream.release();

        if (! writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples()))
            throw Failure { "writing " + file.getFullPathName() + " failed" };
    }

    struct Entry
    {
        const Factory::Recipe* recipe;
        Factory::SoundMeasures measures;
        juce::String slug;
    };

    /** Loads the patch file as the app does and plays its category's phrase. */
    juce::AudioBuffer<float> play (const Factory::Recipe& recipe, const juce::File& patches)
    {
        const auto file = patches.getChildFile (recipe.name + ".kvn");

        if (! file.existsAsFile())
            throw Failure { "no patch file " + file.getFullPathName() + " (run make factory)" };

        kvAP proc;
        proc.setPlayConfigDetails (0, 2, sampleRate, blockSize);
        proc.setRateAndBufferSizeDetails (sampleRate, blockSize);
        proc.prepareToPlay (sampleRate, blockSize);

        proc.fileIO.productFolder = patches;
        proc.loadPatch (file.getFileName());
        proc.updateOscTypes();

        if (proc.patchName != recipe.name)
            throw Failure { file.getFullPathName() + " did not load" };

        Factory::seedNoise (proc, noiseSeed);
        return Factory::renderPhrase (proc, Factory::phraseFor (recipe.category), sampleRate, blockSize);
    }

    juce::String row (const juce::StringArray& cells)
    {
        return "| " + cells.joinIntoString (" | ") + " |\n";
    }

    juce::String markdown (const std::vector<Entry>& entries, const juce::File& docs, const juce::File& audio)
    {
        const auto audioLink = [&] (const Entry& e)
        {
            return audio.getChildFile (e.slug + ".wav").getRelativePathFrom (docs);
        };

        juce::String md;
        md << "# Factory sounds\n\n"
           << "Korvane ships " << (int) entries.size() << " designed patches in eight categories. On the first start the app and "
           << "the plug-ins copy them into the subfolder `Factory` of the patch folder (`~/OrbelAudio/Korvane/Factory` by "
           << "default), where they can be edited, saved and deleted like any other patch; the folder is filled again only "
           << "when it is gone. They are installed with the app under `share/korvane/factory` as well, and "
           << "`korvane-render --patch` plays them from there.\n\n"
           << "Everything on this page is written by `make gallery` (`tools/gallery.cpp`): it loads every patch of "
           << "`resources/factory` with the processor's own `loadPatch`, plays its category's phrase through the "
           << "processor as `korvane-render` plays a MIDI file (48 kHz, blocks of 512, 120 bpm, the transport running, "
           << "limiter off), measures the result and draws it with the framework's image classes. The rendered audio "
           << "goes to the build folder (the links below work after `make gallery`); it is not part of the repository. "
           << "The patch files themselves are written by `make factory` from the recipes in "
           << "`tools/factory/Recipes.cpp`.\n\n"
           << "## Waveforms\n\n"
           << "One cycle of each of the 28 shapes at its default shape parameters and at the corners of the parameters it "
           << "reads (dashed lines at " << juce::String::fromUTF8 ("±") << "1).\n\n"
           << "![The 28 waveforms](waveforms.png)\n\n"
           << "## Balance\n\n"
           << "Every patch peaks between " << Factory::lowestPeakDb << " and " << Factory::highestPeakDb << " dBFS on its "
           << "phrase. RMS is taken from the first note-on to the last note-off; the centroid is that of the phrase's "
           << "average spectrum; attack runs from the first note-on until the level is within 3 dB of its highest; "
           << "*held end* is the level over the last 100 ms of the held span below the highest level, *held floor* the "
           << "quietest 100 ms while held (sustained patches only; it must stay above " << Factory::sustainedFloorDb
           << " dB); tail runs from the last note-off until the level stays 40 dB down.\n\n"
           << row ({ "Patch", "Category", "Peak dBFS", "RMS dBFS", "Centroid Hz", "Attack s", "Held end dB", "Held floor dB", "Tail s", "Audio" })
           << row ({ "---", "---", "---:", "---:", "---:", "---:", "---:", "---:", "---:", "---" });

        for (const auto& e : entries)
        {
            const auto& m = e.measures;
            md << row ({ "[" + e.recipe->name + "](#" + e.slug + ")", Factory::categoryName (e.recipe->category),
                         decibels (m.peakDb), decibels (m.rmsDb), juce::String (juce::roundToInt (m.centroidHz)),
                         juce::String (m.attackSeconds, 2), decibels (m.heldEndDb),
                         e.recipe->isSustained ? decibels (m.heldFloorDb) : juce::String::fromUTF8 ("—"),
                         juce::String (m.tailSeconds, 2), "[wav](" + audioLink (e) + ")" });
        }

        md << "\n## The phrases\n\n";

        for (int c = 0; c < Factory::numCategories; ++c)
        {
            const auto category = (Factory::Category) c;
            md << "- **" << Factory::categoryName (category) << "**: " << Factory::phraseFor (category).description << ".\n";
        }

        for (int c = 0; c < Factory::numCategories; ++c)
        {
            const auto category = (Factory::Category) c;
            md << "\n## " << Factory::categoryName (category) << "\n\n";

            // How the category's patches differ from each other, measured.
            juce::StringArray differences;

            for (size_t i = 0; i < entries.size(); ++i)
                for (size_t j = i + 1; j < entries.size(); ++j)
                    if (entries[i].recipe->category == category && entries[j].recipe->category == category)
                        differences.add (entries[i].recipe->name + " / " + entries[j].recipe->name + ": "
                                         + Factory::clearDifference (entries[i].measures, entries[j].measures));

            md << "Measured differences: " << differences.joinIntoString ("; ") << ".\n";

            for (const auto& e : entries)
            {
                if (e.recipe->category != category)
                    continue;

                md << "\n### " << e.recipe->name << "\n\n"
                   << e.recipe->idea << (e.recipe->isSustained ? " (sustained)" : "") << ". "
                   << "[Listen](" << audioLink (e) << ").\n\n"
                   << "![" << e.recipe->name << "](patches/" << e.slug << ".png)\n";
            }
        }

        return md;
    }

    struct Options
    {
        juce::File patches, docs, audio;
    };

    Options parse (int argc, char** argv)
    {
        Options o;
        const auto cwd = juce::File::getCurrentWorkingDirectory();

        for (int i = 1; i + 1 < argc; i += 2)
        {
            const juce::String option (argv[i]);
            const auto value = cwd.getChildFile (juce::String::fromUTF8 (argv[i + 1]));

            if (option == "--patches")    o.patches = value;
            else if (option == "--docs")  o.docs = value;
            else if (option == "--audio") o.audio = value;
            else throw Failure { "unknown option " + option };
        }

        if (o.patches == juce::File() || o.docs == juce::File() || o.audio == juce::File() || argc % 2 == 0)
            throw Failure { "usage: korvane-gallery --patches DIR --docs DIR --audio DIR" };

        return o;
    }
}

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    std::vector<Notice> notices;
    Notices::setHandler ([&notices] (const Notice& n) { notices.push_back (n); });

    try
    {
        const auto options = parse (argc, argv);
        loadTypeface();

        writePng (drawWaveformSheet(), options.docs.getChildFile ("waveforms.png"));

        std::vector<Entry> entries;
        bool balanced = true;

        for (const auto& recipe : Factory::recipes())
        {
            const auto& phrase = Factory::phraseFor (recipe.category);
            const auto audio = play (recipe, options.patches);
            Entry e { &recipe, Factory::measure (audio, phrase, sampleRate), slug (recipe.name) };

            if (! notices.empty())
                throw Failure { recipe.name + " loaded with a notice: " + notices.front().text };

            writeWav (audio, options.audio.getChildFile (e.slug + ".wav"));
            writePng (drawPatchPicture (recipe, phrase, audio, e.measures), options.docs.getChildFile ("patches").getChildFile (e.slug + ".png"));

            const auto& m = e.measures;
            const auto inWindow = m.finite && m.peakDb >= Factory::lowestPeakDb && m.peakDb <= Factory::highestPeakDb;
            const auto sounds = ! recipe.isSustained || m.heldFloorDb >= Factory::sustainedFloorDb;
            balanced = balanced && inWindow && sounds;

            std::cout << juce::String (recipe.name).paddedRight (' ', 18) << juce::String (Factory::categoryName (recipe.category)).paddedRight (' ', 13)
                      << "peak " << decibels (m.peakDb).paddedLeft (' ', 6) << "  rms " << decibels (m.rmsDb).paddedLeft (' ', 6)
                      << "  centroid " << juce::String (juce::roundToInt (m.centroidHz)).paddedLeft (' ', 5)
                      << "  attack " << juce::String (m.attackSeconds, 2) << "  held end " << decibels (m.heldEndDb)
                      << "  floor " << decibels (m.heldFloorDb) << "  tail " << juce::String (m.tailSeconds, 2)
                      << "  wobble " << juce::String (m.wobbleDb, 1)
                      << (inWindow ? "" : "  OUTSIDE THE LEVEL WINDOW") << (sounds ? "" : "  DROPS OUT WHILE HELD") << std::endl;

            entries.push_back (std::move (e));
        }

        for (size_t i = 0; i < entries.size(); ++i)
            for (size_t j = i + 1; j < entries.size(); ++j)
                if (entries[i].recipe->category == entries[j].recipe->category
                     && Factory::clearDifference (entries[i].measures, entries[j].measures).isEmpty())
                {
                    std::cout << "too alike: " << entries[i].recipe->name << " and " << entries[j].recipe->name << std::endl;
                    balanced = false;
                }

        const auto readme = options.docs.getChildFile ("README.md");

        if (! readme.replaceWithText (markdown (entries, options.docs, options.audio), false, false, "\n"))
            throw Failure { "cannot write " + readme.getFullPathName() };

        std::cout << "gallery written to " << options.docs.getFullPathName() << ", audio to " << options.audio.getFullPathName() << std::endl;

        if (! balanced)
        {
            std::cerr << "korvane-gallery: the bank is not balanced (see above)" << std::endl;
            return 1;
        }

        return 0;
    }
    catch (const Failure& f)
    {
        std::cerr << "korvane-gallery: " << f.message << std::endl;
        return 1;
    }
}
