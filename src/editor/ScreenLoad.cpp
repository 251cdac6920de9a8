#include "ScreenLoad.h"

#include "ScreenParts.h"

#include "processor/PluginProcessor.h"
#include "ui/OAActionMsg.h"

#include <algorithm>
#include <vector>

namespace
{
    /** The name a patch file is listed under: its file name without ".kvn". */
    juce::String listedNameOf (const juce::File& file)
    {
        return file.getFileName().replace (".kvn", "");
    }

    /** The name loadByName matches: the file name before the first ".kvn". */
    juce::String baseNameOf (const juce::File& file)
    {
        return file.getFileName().upToFirstOccurrenceOf (".kvn", false, false);
    }
}

ScreenLoad::ScreenLoad (kvAP& owner)
    : processor (&owner)
{
    theme.initColours();
    theme.currentTheme = "standard";

    // "Init[OA]" first, then the other built-in patches by name.
    std::vector<juce::String> others;

    for (const auto& entry : processor->builtInPatches)
        if (entry.first != "Init[OA]")
            others.push_back (entry.first);

    std::sort (others.begin(), others.end(), [] (const juce::String& a, const juce::String& b) { return a.compare (b) < 0; });

    builtInNames.add ("Init[OA]");

    for (const auto& name : others)
        builtInNames.add (name);

    addAndMakeVisible (closeBtn);
    closeBtn.addListener (this);

    addAndMakeVisible (viewport);
    viewport.setScrollBarsShown (true, false);
    viewport.setViewedComponent (&list, false);
}

ScreenLoad::~ScreenLoad()
{
    closeBtn.removeListener (this);
    viewport.setViewedComponent (nullptr, false);
}

void ScreenLoad::buildPatchList (OAFileIO io)
{
    patchFiles.clear();

    // Hidden entries are the program's own half-finished work (an interrupted
    // factory install); links are followed, but never round in a circle.
    const auto folder = io.productFolder;

    if (folder.isDirectory())
    {
        for (const auto& entry : juce::RangedDirectoryIterator (folder, true, "*.kvn",
                                                                juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles,
                                                                juce::File::FollowSymlinks::noCycles))
        {
            if (patchFiles.size() >= maxListedFiles)
                break;

            patchFiles.add (entry.getFile());
        }
    }

    // The search returns files in the file system's own order, which differs
    // from machine to machine; list the folder's own patches first, then each
    // subfolder's (the factory bank among them), by name.
    struct ByFolderThenName
    {
        juce::File root;

        int compareElements (const juce::File& a, const juce::File& b) const
        {
            const bool aTop = a.getParentDirectory() == root, bTop = b.getParentDirectory() == root;
            if (aTop != bTop)
                return aTop ? -1 : 1;
            return a.getRelativePathFrom (root).compareNatural (b.getRelativePathFrom (root));
        }
    };

    ByFolderThenName order { folder };
    patchFiles.sort (order, true);

    list.removeAllChildren();
    entryButtons.clear();

    auto addEntry = [this] (const juce::String& text)
    {
        auto* button = entryButtons.add (new juce::TextButton (text));
        button->addListener (this);
        list.addAndMakeVisible (button);
    };

    for (const auto& name : builtInNames)
        addEntry ("__" + name + "__");

    for (const auto& file : patchFiles)
        addEntry (listedNameOf (file));

    layOutList();
    repaint();
}

void ScreenLoad::layOutList()
{
    layOutListButtons (entryButtons, list, getWidth(), metrics);
}

bool ScreenLoad::loadByName (juce::String name, OAFileIO io)
{
    buildPatchList (io);

    if (builtInNames.contains (name))
    {
        processor->loadDefaultPatch (name);
        return true;
    }

    // The patch the editor's reset asks for was saved into the folder itself,
    // so a file there comes first; otherwise the first one listed.
    const juce::File* match = nullptr;

    for (const auto& file : patchFiles)
    {
        if (baseNameOf (file) != name)
            continue;

        if (match == nullptr || (file.getParentDirectory() == io.productFolder
                                  && match->getParentDirectory() != io.productFolder))
            match = &file;
    }

    if (match == nullptr)
        return false;

    return processor->loadPatchFile (*match);
}

void ScreenLoad::buttonClicked (juce::Button* button)
{
    if (button == &closeBtn)
    {
        sendActionMessage (OAActionMsg ("loadScreen", "exit", -1).message);
        return;
    }

    const auto index = entryButtons.indexOf (static_cast<juce::TextButton*> (button));

    if (index < 0)
        return;

    sendActionMessage (OAActionMsg ("loadScreen", "loaded_patch", -1).message);

    if (index < builtInNames.size())
        processor->loadDefaultPatch (builtInNames[index]);
    else if (const auto fileIndex = index - builtInNames.size(); fileIndex < patchFiles.size())
        processor->loadPatchFile (patchFiles.getReference (fileIndex)); // the file listed, wherever it lies

    sendActionMessage (OAActionMsg ("loadScreen", "exit", -1).message);
}

void ScreenLoad::resized()
{
    const auto w = getWidth();
    closeBtn.setBounds (w - metrics.spacing - 100, metrics.spacing - 3, 100, 2 * metrics.unit);
    viewport.setBounds (0, metrics.gridTop + 16, w, getHeight() - 2 * metrics.gridTop);
    layOutList();
}

void ScreenLoad::paint (juce::Graphics& g)
{
    paintScreenHeader (g, *this, metrics, theme.getBg (1), theme.getMain (1), theme.getBg2 (1), "Load Patch");
}
