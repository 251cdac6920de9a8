#include "diagnostics/Notices.h"
#include "PluginProcessor.h"
#include "state/RandomWords.h"
#include "state/Version.h"

namespace
{
    /** The file a patch file name stands for, or a default File when the
        name would lead out of the patch folder ("a/b", "../x", "/x", "~x",
        "..") or names the folder itself. */
    juce::File patchFileIn (const juce::File& folder, const juce::String& fileName)
    {
        if (fileName.isEmpty() || fileName.containsChar ('/') || fileName.startsWithChar ('~')
             || fileName == "." || fileName == "..")
            return {};

        const auto file = folder.getChildFile (fileName);

        if (file.getParentDirectory() != folder || file.getFileName() != fileName)
            return {};

        return file;
    }

    /** Why patchFileIn refused a name, in words that fit the name. */
    juce::String refusalOf (const juce::String& fileName)
    {
        if (fileName.isEmpty())
            return "A patch needs a name, so nothing was saved. Try another name?";

        if (fileName == "." || fileName == "..")
            return "\"" + fileName + "\" names a folder, not a patch, so nothing was saved. Try another name?";

        return "Patch names can't contain \"/\" or start with \"~\", so nothing was saved. Try another name?";
    }

    juce::String capitalised (const juce::String& word)
    {
        return word.substring (0, 1).toUpperCase() + word.substring (1);
    }

    /** A whole-table index from a draw in [0, 1). */
    int indexFor (float draw, int size)
    {
        return juce::jlimit (0, size - 1, (int) std::floor ((float) size * draw));
    }
}

//==============================================================================
bool kvAP::savePatch (juce::String fileName)
{
    const auto file = patchFileIn (fileIO.productFolder, fileName);

    if (file == juce::File())
    {
        Notices::show ("Uhh..", refusalOf (fileName), "Okay...");
        return false;
    }

    const auto previousName = patchName;
    patchName = fileName.containsChar ('.') ? fileName.upToFirstOccurrenceOf (".", false, false) : juce::String();

    // No document means nothing to write: an empty file must never replace a good patch.
    const auto xml = buildPatchData();

    if (xml == nullptr)
    {
        patchName = previousName;
        Notices::show ("Uhh..", "There was an issue getting the patch data, so nothing was saved.", "Bummer...");
        return false;
    }

    if (! OAFileIO::writeTextFileAtomically (file, xml->toString()))
    {
        patchName = previousName;
        Notices::show ("Uhh..",
                       "The patch couldn't be written to " + file.getFullPathName()
                           + ". Maybe the disk is full or the folder is read-only?",
                       "Bummer...");
        return false;
    }

    logStateReport ("Save Patch Post");
    return true;
}

void kvAP::loadPatch (juce::String fileName, bool)
{
    loadPatchFile (patchFileIn (fileIO.productFolder, fileName));
}

bool kvAP::loadPatchFile (const juce::File& file)
{
    logStateReport ("Load Patch Pre");

    // Only files below the patch folder: the patch list finds them there.
    if (file == juce::File() || ! file.isAChildOf (fileIO.productFolder))
        return false;

    const auto fileName = file.getFileName();

    const auto read = OAFileIO::readTextFile (file);
    juce::String problem;

    switch (read.status)
    {
        case OAFileIO::ReadStatus::missing:    return false; // nothing to load, nothing to say
        case OAFileIO::ReadStatus::unreadable: problem = "the file can't be read (maybe you don't have permission to open it)"; break;
        case OAFileIO::ReadStatus::tooLarge:   problem = "the file is far too big to be a patch"; break;
        case OAFileIO::ReadStatus::notText:    problem = "the file is not a text file"; break;
        case OAFileIO::ReadStatus::ok:
        {
            // Applies only a real patch document, so a stray file can't wipe the sound.
            const auto applied = replaceState (read.text);

            if (applied.failed())
                problem = applied.getErrorMessage();

            break;
        }
    }

    if (problem.isNotEmpty())
    {
        Notices::show ("Uhh..",
                       "\"" + fileName + "\" couldn't be loaded: " + problem + ". Your current sound is untouched.",
                       "Bummer...");
        return false;
    }

    resetRenderValues();

    const auto document = juce::ValueTree::fromXml (read.text);
    const auto version = document["version"].toString();
    const auto mismatch = isVersionMismatch (version);

    patchName = document["patchName"].toString();
    logStateReport ("Load Patch Post");

    if (mismatch)
    {
        Notices::show ("Version Mismatch", versionMismatchText (version), "If you say so");
        logReport ("Version Mismatch");
    }

    updateAllParams();
    return true;
}

void kvAP::loadDefaultPatch (juce::String name, bool)
{
    resetRenderValues();
    logStateReport ("Load Patch Pre");

    const auto& text = builtInPatches.at (name);
    const auto document = juce::ValueTree::fromXml (text);
    const auto version = document["version"].toString();
    const auto mismatch = isVersionMismatch (version);

    const auto applied = replaceState (text);
    jassert (applied.wasOk()); // the built-in patches are ours
    juce::ignoreUnused (applied);

    patchName = document["patchName"].toString();

    for (const auto& [key, value] : getModMap())
        setModMapEntry (key, document[key].toString());
    logStateReport ("Load Patch Post");

    // The built-in patch is older than every release; say it only in the log.
    if (mismatch)
        logReport ("Version Mismatch");

    updateAllParams();
}

void kvAP::randomizePatch()
{
    auto& r = random;
    juce::XmlElement patch ("XMLRandomPatch");

    // One switch per oscillator section: a random unison count with one
    // voice per layer (30 %), or a single layer with a random voice count.
    const auto switchA = r.nextFloat();
    const auto switchB = r.nextFloat();
    const auto panSpread = 0.3f * r.nextFloat();

    for (const auto& param : paramMan.params)
    {
        const auto& id = param.paramId;
        const auto& group = param.group;
        float value = 0.0f;

        if (group == "global_masterVolume")
            value = 0.75f;
        else if (group == "global_velocity")
            value = 1.0f;
        else if (id == "synth1_unison")
            value = switchA > 0.7f ? r.nextFloat() : 0.0f;
        else if (id == "synth2_unison")
            value = switchB > 0.7f ? r.nextFloat() : 0.0f;
        else if (id == "synth1_voices")
            value = switchA > 0.7f ? 0.0f : r.nextFloat();
        else if (id == "synth2_voices")
            value = switchB > 0.7f ? 0.0f : r.nextFloat();
        else if (id == "synth2_tune")
            value = 0.5f;
        else
        {
            const auto draw = r.nextFloat();

            if (id == "synth1_tune")
                value = draw > 0.5f ? 0.5f : 0.25f; // as it is, or an octave down
            else if (id == "synth1_microtune" || id == "synth2_microtune")
                value = 0.33f * draw + 0.33f;
            else if (group == "synth_noise" || id == "fx_overdrive" || group == "glide" || group == "global_filterMaxQ")
                value = 0.25f * draw;
            else if (id == "synth1_pan")
                value = 0.5f + panSpread;
            else if (id == "synth2_pan")
                value = 0.5f - panSpread;
            else
                value = draw;
        }

        auto* child = patch.createNewChildElement ("PARAM");
        child->setAttribute ("id", id);
        child->setAttribute ("value", (double) value);
    }

    auto& waveDraws = waveManager.rng;

    for (auto* key : { "synth1_oscType", "synth2_oscType", "lfo1_oscType", "lfo2_oscType" })
        patch.setAttribute (key, waveManager.waveforms[indexFor (waveDraws.nextFloat(), waveManager.waveforms.size())]->getId());

    auto& targetDraws = paramMan.random;

    for (auto* key : { "env1_mappedParam", "env2_mappedParam", "lfo1_mappedParam", "lfo2_mappedParam" })
        patch.setAttribute (key, paramMan.params[(size_t) indexFor (targetDraws.nextFloat(), (int) paramMan.params.size())].paramId);

    juce::Random nameDraws;
    const auto& words = RandomWords::getWords();
    const auto first = nameDraws.nextInt();
    const auto second = nameDraws.nextInt();
    const auto number = nameDraws.nextInt();

    patchName = capitalised (words[(size_t) std::abs (first % RandomWords::numWords)])
              + capitalised (words[(size_t) std::abs (second % RandomWords::numWords)])
              + juce::String (std::abs (number % 99));
    patch.setAttribute ("patchName", patchName);
    patch.setAttribute ("version", Korvane::versionText);

    bulkUpdate = true;
    const auto applied = replaceState (patch.toString());
    jassert (applied.wasOk());
    juce::ignoreUnused (applied);

    updateAllParams();
    logStateReport ("randomize patch post");
}

//==============================================================================
void kvAP::logReport (juce::String text)
{
    bugReporter.addEntry (text + bugReporter.lineBreak);
}

void kvAP::logStateReport (juce::String label)
{
    bugReporter.addStateEntry (label, buildPatchDataString());
}

juce::File kvAP::writeReport (juce::String kind)
{
    outputGuard.reportNewOccurrences();

    // Every report first adds a track entry to the run's log (the host's
    // track name and colour, or "none"), so that reports from several
    // instances can be told apart; the entry stays in the log, so a later
    // report holds it too.
    juce::String name ("none"), colour ("none");

    {
        const juce::ScopedLock sl (trackPropertiesLock);

        if (trackName.has_value())
            name = *trackName;

        if (trackColour.has_value())
            colour = trackColour->toDisplayString (true);
    }

    const auto& lineBreak = bugReporter.lineBreak;
    bugReporter.addEntry ("Track Name: " + name + lineBreak + "Track Colour: " + colour + lineBreak);
    return bugReporter.writeReport (kind);
}
