// The overlay screens (load, save, waveform, target, settings) and the
// mapping panel, each on its own, driven by clicks as a person would.

#include "FileTestSupport.h"
#include "ProcessorFixture.h"
#include "UiTestSupport.h"
#include "editor/AutomationMappingGroup.h"
#include "editor/ScreenLoad.h"
#include "editor/ScreenMap.h"
#include "editor/ScreenOsc.h"
#include "editor/ScreenSave.h"
#include "editor/ScreenSettings.h"
#include "state/FactoryBank.h"

#include <gtest/gtest.h>

#include <future>
#include <set>
#include <thread>

using namespace FileTests;

namespace
{
    class Screens : public CleanHome {};

    // The sizes the editor gives its overlays.
    constexpr int narrowW = 471, narrowH = 572; // save, load, settings
    constexpr int wideW = 991, wideH = 572;     // target, waveform

    /** A click as the mouse makes it, with everything it sets off delivered. */
    void click (juce::Button& button)
    {
        button.triggerClick();
        runPendingMessages();
    }

    juce::StringArray textsOf (const juce::OwnedArray<juce::TextButton>& buttons)
    {
        juce::StringArray texts;
        for (auto* b : buttons)
            texts.add (b->getButtonText());
        return texts;
    }

    juce::TextButton* buttonWithText (juce::OwnedArray<juce::TextButton>& buttons, const juce::String& text)
    {
        for (auto* b : buttons)
            if (b->getButtonText() == text)
                return b;
        return nullptr;
    }

    /** Saves the current sound with the given cutoff as name + ".kvn" in the patch folder. */
    juce::File savePatchWithCutoff (kvAP& proc, const juce::String& name, float cutoff)
    {
        proc.apvts.getParameter ("cutoff")->setValueNotifyingHost (cutoff);
        EXPECT_TRUE (proc.savePatch (name + ".kvn"));
        return patchFolder().getChildFile (name + ".kvn");
    }

    void moveInto (const juce::File& file, const juce::String& relativePath)
    {
        const auto target = patchFolder().getChildFile (relativePath);
        ASSERT_TRUE (target.getParentDirectory().createDirectory());
        ASSERT_TRUE (file.moveFileTo (target));
    }

    bool nearRgb (juce::Colour a, juce::Colour b, int tolerance = 3)
    {
        return std::abs (a.getRed() - b.getRed()) <= tolerance && std::abs (a.getGreen() - b.getGreen()) <= tolerance
            && std::abs (a.getBlue() - b.getBlue()) <= tolerance;
    }

    /** Every file below a folder (hidden ones too), as paths relative to it. */
    std::set<juce::String> allFilesBelow (const juce::File& folder)
    {
        std::set<juce::String> names;
        for (const auto& f : folder.findChildFiles (juce::File::findFiles, true, "*", juce::File::FollowSymlinks::no))
            names.insert (f.getRelativePathFrom (folder));
        return names;
    }
}

//==============================================================================
// Load screen

TEST_F (Screens, LoadListHasTheBuiltInsFirstThenEveryPatchBelowTheFolder)
{
    kvAP proc;
    ASSERT_EQ (FactoryBank::installInto (patchFolder()).outcome, FactoryBank::Outcome::copied);
    savePatchWithCutoff (proc, "Mine", 0.3f);
    moveInto (savePatchWithCutoff (proc, "Soft Pad", 0.4f), "Pads/Deeper/Soft Pad.kvn");
    writeText (patchFolder().getChildFile ("notes.txt"), "not a patch");
    // What an interrupted factory install leaves: hidden, never listed.
    writeText (patchFolder().getChildFile (".Factory.1234/Ghost.kvn"), "<state/>");

    ScreenLoad screen (proc);
    screen.setSize (narrowW, narrowH);

    // Before any build only the close button and the viewport are there.
    EXPECT_TRUE (screen.entryButtons.isEmpty());

    for (int build = 0; build < 2; ++build)
    {
        SCOPED_TRACE (build);
        screen.buildPatchList (proc.fileIO);

        const auto texts = textsOf (screen.entryButtons);
        const int expected = 1 + (int) FactoryBank::documents().size() + 2;
        ASSERT_EQ (texts.size(), expected);
        EXPECT_EQ (screen.list.getNumChildComponents(), expected); // one set of buttons, however often built
        EXPECT_EQ (texts[0], "__Init[OA]__");
        EXPECT_EQ (screen.builtInNames, juce::StringArray ("Init[OA]"));

        std::set<juce::String> listed (texts.begin() + 1, texts.end());
        std::set<juce::String> wanted { "Mine", "Soft Pad" };
        for (const auto& doc : FactoryBank::documents())
            wanted.insert (doc.fileName.upToLastOccurrenceOf (".kvn", false, false));
        EXPECT_EQ (listed, wanted);
        EXPECT_EQ (screen.patchFiles.size(), expected - 1);

        // The folder's own patches first, then the subfolders' by path.
        EXPECT_EQ (texts[1], "Mine");
        juce::StringArray paths;
        for (int i = 1; i < screen.patchFiles.size(); ++i)
            paths.add (screen.patchFiles[i].getRelativePathFrom (patchFolder()));
        auto sorted = paths;
        sorted.sortNatural();
        EXPECT_EQ (paths, sorted);
        EXPECT_TRUE (paths[0].startsWith ("Factory/"));
        EXPECT_EQ (paths[paths.size() - 1], "Pads/Deeper/Soft Pad.kvn");

        for (int i = 0; i < screen.entryButtons.size(); ++i)
            EXPECT_EQ (screen.entryButtons[i]->getBounds(), juce::Rectangle<int> (109, 32 * i, narrowW - 219, 32));
        EXPECT_EQ (screen.list.getBounds(), juce::Rectangle<int> (0, 0, narrowW, 32 * expected));
    }

    EXPECT_EQ (screen.closeBtn.getBounds(), juce::Rectangle<int> (narrowW - 110, 7, 100, 32));
    EXPECT_EQ (screen.viewport.getBounds(), juce::Rectangle<int> (0, 66, narrowW, narrowH - 100));
}

TEST_F (Screens, LoadListWithoutPatchFilesHoldsOnlyTheInitPatch)
{
    kvAP proc;
    ScreenLoad screen (proc);
    screen.setSize (narrowW, narrowH);

    // No patch folder at all, then an empty one.
    for (int pass = 0; pass < 2; ++pass)
    {
        SCOPED_TRACE (pass);
        screen.buildPatchList (proc.fileIO);
        EXPECT_EQ (textsOf (screen.entryButtons), juce::StringArray ("__Init[OA]__"));
        ASSERT_TRUE (patchFolder().createDirectory());
    }
}

TEST_F (Screens, LoadListSurvivesALinkBackToThePatchFolder)
{
    kvAP proc;
    savePatchWithCutoff (proc, "Mine", 0.3f);
    ASSERT_TRUE (patchFolder().createSymbolicLink (patchFolder().getChildFile ("loop"), true));

    ScreenLoad screen (proc);
    screen.setSize (narrowW, narrowH);
    screen.buildPatchList (proc.fileIO);

    EXPECT_LE (screen.entryButtons.size(), 3);
    EXPECT_TRUE (textsOf (screen.entryButtons).contains ("Mine"));
}

TEST_F (Screens, ClickingAnEntryLoadsTheFileThatWasListed)
{
    ProcessorRig rig;
    auto& proc = rig.proc;
    ASSERT_EQ (FactoryBank::installInto (patchFolder()).outcome, FactoryBank::Outcome::copied);

    // Two files of the same name, one in a subfolder, and one only in a subfolder.
    savePatchWithCutoff (proc, "Lead", 0.2f);
    moveInto (savePatchWithCutoff (proc, "Deep Lead", 0.6f), "Leads/Lead.kvn");
    moveInto (savePatchWithCutoff (proc, "Only Here", 0.7f), "Leads/Only Here.kvn");
    proc.apvts.getParameter ("cutoff")->setValueNotifyingHost (0.95f);

    ScreenLoad screen (proc);
    screen.setSize (narrowW, narrowH);
    ActionRecorder recorder;
    screen.addActionListener (&recorder);
    screen.buildPatchList (proc.fileIO);

    struct Case { const char* relativePath; const char* patchName; float cutoff; };
    const Case cases[] = {
        { "Leads/Lead.kvn", "Deep Lead", 0.6f },
        { "Lead.kvn", "Lead", 0.2f },
        { "Leads/Only Here.kvn", "Only Here", 0.7f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.relativePath);
        const auto index = screen.patchFiles.indexOf (patchFolder().getChildFile (c.relativePath));
        ASSERT_GE (index, 0);
        recorder.messages.clear();

        click (*screen.entryButtons[screen.builtInNames.size() + index]);

        EXPECT_EQ (proc.patchName, c.patchName);
        EXPECT_NEAR (proc.getParamValue ("cutoff"), c.cutoff, 1.0e-3f);
        EXPECT_EQ (recorder.messages, juce::StringArray ("loadScreen.loaded_patch.-1", "loadScreen.exit.-1"));
    }

    // A factory patch loads from the factory folder.
    const auto& first = FactoryBank::documents().front();
    const auto factoryIndex = screen.patchFiles.indexOf (patchFolder().getChildFile (FactoryBank::folderName).getChildFile (first.fileName));
    ASSERT_GE (factoryIndex, 0);
    click (*screen.entryButtons[screen.builtInNames.size() + factoryIndex]);
    EXPECT_EQ (proc.patchName, first.fileName.upToLastOccurrenceOf (".kvn", false, false));

    // The built-in entry brings the init patch back.
    recorder.messages.clear();
    click (*screen.entryButtons[0]);
    EXPECT_EQ (proc.patchName, "Init[OA]");
    EXPECT_NEAR (proc.getParamValue ("cutoff"), 0.9f, 1.0e-3f);
    EXPECT_EQ (recorder.messages, juce::StringArray ("loadScreen.loaded_patch.-1", "loadScreen.exit.-1"));

    // Closing loads nothing.
    recorder.messages.clear();
    click (screen.closeBtn);
    EXPECT_EQ (recorder.messages, juce::StringArray ("loadScreen.exit.-1"));
    EXPECT_EQ (proc.patchName, "Init[OA]");
    EXPECT_TRUE (notices.empty());

    screen.removeActionListener (&recorder);
}

TEST_F (Screens, AnEntryWhoseFileIsGoneOrBrokenLeavesTheSound)
{
    ProcessorRig rig;
    auto& proc = rig.proc;
    const auto gone = savePatchWithCutoff (proc, "Gone", 0.2f);
    const auto broken = savePatchWithCutoff (proc, "Broken", 0.3f);
    proc.apvts.getParameter ("cutoff")->setValueNotifyingHost (0.55f);
    proc.patchName = "Current";

    ScreenLoad screen (proc);
    screen.setSize (narrowW, narrowH);
    ActionRecorder recorder;
    screen.addActionListener (&recorder);
    screen.buildPatchList (proc.fileIO);
    const auto goneIndex = screen.patchFiles.indexOf (gone);
    const auto brokenIndex = screen.patchFiles.indexOf (broken);
    ASSERT_GE (goneIndex, 0);
    ASSERT_GE (brokenIndex, 0);

    ASSERT_TRUE (gone.deleteFile());
    writeText (broken, "<state patchName=\"half");

    click (*screen.entryButtons[screen.builtInNames.size() + goneIndex]);
    EXPECT_TRUE (notices.empty()); // nothing to load, nothing to say
    click (*screen.entryButtons[screen.builtInNames.size() + brokenIndex]);
    EXPECT_EQ (notices.size(), 1u);

    EXPECT_EQ (proc.patchName, "Current");
    EXPECT_NEAR (proc.getParamValue ("cutoff"), 0.55f, 1.0e-3f);
    // The screen closes either way.
    EXPECT_EQ (recorder.messages.size(), 4);
    EXPECT_EQ (recorder.messages[3], "loadScreen.exit.-1");
    screen.removeActionListener (&recorder);
}

TEST_F (Screens, LoadByNameFindsBuiltInsAndFilesAnywhereBelowTheFolder)
{
    ProcessorRig rig;
    auto& proc = rig.proc;
    ASSERT_EQ (FactoryBank::installInto (patchFolder()).outcome, FactoryBank::Outcome::copied);
    moveInto (savePatchWithCutoff (proc, "Sub Copy", 0.6f), "Leads/Lead.kvn");
    savePatchWithCutoff (proc, "Lead", 0.2f);
    proc.apvts.getParameter ("cutoff")->setValueNotifyingHost (0.95f);

    ScreenLoad screen (proc);
    screen.setSize (narrowW, narrowH);

    // The file in the folder itself wins over the one in the subfolder.
    EXPECT_TRUE (screen.loadByName ("Lead", proc.fileIO));
    EXPECT_EQ (proc.patchName, "Lead");
    EXPECT_NEAR (proc.getParamValue ("cutoff"), 0.2f, 1.0e-3f);

    // A factory patch, which lives in a subfolder only.
    const auto factoryName = FactoryBank::documents().back().fileName.upToLastOccurrenceOf (".kvn", false, false);
    EXPECT_TRUE (screen.loadByName (factoryName, proc.fileIO));
    EXPECT_EQ (proc.patchName, factoryName);

    EXPECT_TRUE (screen.loadByName ("Init[OA]", proc.fileIO));
    EXPECT_EQ (proc.patchName, "Init[OA]");

    proc.apvts.getParameter ("cutoff")->setValueNotifyingHost (0.33f);
    for (auto* name : { "Nothing Like It", "init[oa]", "", "Lead.kvn", "Leads/Lead" })
    {
        SCOPED_TRACE (name);
        EXPECT_FALSE (screen.loadByName (name, proc.fileIO));
        EXPECT_EQ (proc.patchName, "Init[OA]");
        EXPECT_NEAR (proc.getParamValue ("cutoff"), 0.33f, 1.0e-3f);
    }

    // The list was rebuilt by each call, once.
    EXPECT_EQ (screen.list.getNumChildComponents(), 1 + (int) FactoryBank::documents().size() + 2);
    EXPECT_TRUE (notices.empty());
}

TEST_F (Screens, OnlyFilesBelowThePatchFolderLoad)
{
    ProcessorRig rig;
    auto& proc = rig.proc;
    const auto inside = savePatchWithCutoff (proc, "Inside", 0.2f);
    const auto outside = home().getChildFile ("Elsewhere/Outside.kvn");
    ASSERT_TRUE (outside.getParentDirectory().createDirectory());
    ASSERT_TRUE (inside.copyFileTo (outside));
    const auto sibling = makerFolder().getChildFile ("Korvane2/Inside.kvn"); // a look-alike folder name
    ASSERT_TRUE (sibling.getParentDirectory().createDirectory());
    ASSERT_TRUE (inside.copyFileTo (sibling));
    proc.apvts.getParameter ("cutoff")->setValueNotifyingHost (0.8f);
    proc.patchName = "Current";

    for (const auto& file : { outside, sibling, patchFolder(), juce::File() })
    {
        SCOPED_TRACE (file.getFullPathName());
        EXPECT_FALSE (proc.loadPatchFile (file));
        EXPECT_EQ (proc.patchName, "Current");
        EXPECT_NEAR (proc.getParamValue ("cutoff"), 0.8f, 1.0e-3f);
    }

    EXPECT_TRUE (proc.loadPatchFile (inside));
    EXPECT_EQ (proc.patchName, "Inside");
    EXPECT_TRUE (notices.empty());
}

//==============================================================================
// Save screen

TEST_F (Screens, SaveWritesTheTypedNameAndCloses)
{
    kvAP proc;
    proc.patchName = "Starting Name";
    ScreenSave screen (proc);
    screen.setSize (narrowW, narrowH);
    ActionRecorder recorder;
    screen.addActionListener (&recorder);

    EXPECT_EQ (screen.nameEditor.getText(), "Starting Name");
    EXPECT_EQ (screen.nameEditor.getName(), "Patch Name");
    EXPECT_EQ (screen.nameEditor.getBounds(), juce::Rectangle<int> (10, 130, 400, 40));
    EXPECT_EQ (screen.saveBtn.getBounds(), juce::Rectangle<int> (narrowW / 2 - 50, 251, 100, 32));
    EXPECT_EQ (screen.closeBtn.getBounds(), juce::Rectangle<int> (narrowW - 110, 7, 100, 32));

    proc.apvts.getParameter ("res")->setValueNotifyingHost (0.42f);
    screen.nameEditor.setText ("My Bass", true);
    click (screen.saveBtn);

    const auto file = patchFolder().getChildFile ("My Bass.kvn");
    ASSERT_TRUE (file.existsAsFile());
    EXPECT_EQ (proc.patchName, "My Bass");
    auto xml = juce::parseXML (textOf (file));
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getStringAttribute ("patchName"), "My Bass");
    EXPECT_EQ (recorder.messages, juce::StringArray ("saveScreen.exit.-1"));

    // Saved patches show up in the load list and load back.
    ScreenLoad load (proc);
    load.setSize (narrowW, narrowH);
    load.buildPatchList (proc.fileIO);
    EXPECT_TRUE (textsOf (load.entryButtons).contains ("My Bass"));
    proc.apvts.getParameter ("res")->setValueNotifyingHost (0.9f);
    EXPECT_TRUE (load.loadByName ("My Bass", proc.fileIO));
    EXPECT_NEAR (proc.getParamValue ("res"), 0.42f, 1.0e-3f);

    // Closing writes nothing.
    recorder.messages.clear();
    screen.nameEditor.setText ("Not Saved", true);
    click (screen.closeBtn);
    EXPECT_EQ (recorder.messages, juce::StringArray ("saveScreen.exit.-1"));
    EXPECT_FALSE (patchFolder().getChildFile ("Not Saved.kvn").exists());
    EXPECT_TRUE (notices.empty());
    screen.removeActionListener (&recorder);
}

TEST_F (Screens, SaveRefusesNamesThatAreNoPatchFileInTheFolder)
{
    kvAP proc;
    ASSERT_TRUE (proc.savePatch ("Keep.kvn"));

    // The notices the processor gives for names it refuses, to compare with.
    auto refusalFor = [&] (const juce::String& fileName)
    {
        notices.clear();
        EXPECT_FALSE (proc.savePatch (fileName));
        return notices.empty() ? juce::String() : notices.front().text;
    };

    const auto emptyText = refusalFor ("");
    const auto slashText = refusalFor ("a/b.kvn");

    ScreenSave screen (proc);
    screen.setSize (narrowW, narrowH);
    ActionRecorder recorder;
    screen.addActionListener (&recorder);

    const auto before = allFilesBelow (home());

    struct Case { const char* typed; juce::String notice; };
    const Case cases[] = {
        { "", emptyText },
        { "   ", emptyText },
        { ".", refusalFor (".") },
        { "..", refusalFor ("..") },
        { "a/b", slashText },
        { "../Escaped", {} },
        { "/tmp/Escaped", slashText },
        { "~Escaped", slashText },
        { "~/Escaped", slashText },
        { ".hidden", {} }, // a notice of its own
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.typed);
        notices.clear();
        recorder.messages.clear();
        screen.nameEditor.setText (c.typed, true);
        click (screen.saveBtn);

        ASSERT_EQ (notices.size(), 1u);
        EXPECT_EQ (notices[0].title, "Uhh..");
        if (c.notice.isNotEmpty())
        {
            EXPECT_EQ (notices[0].text, c.notice);
        }
        EXPECT_TRUE (recorder.messages.isEmpty()); // the screen stays open for another name
        EXPECT_EQ (allFilesBelow (home()), before);
        EXPECT_EQ (screen.nameEditor.getText(), c.typed);
    }

    EXPECT_FALSE (juce::File ("/tmp/Escaped.kvn").exists());
    screen.removeActionListener (&recorder);
}

//==============================================================================
// Waveform screen

TEST_F (Screens, OscScreenListsEachCategoryAndLightsItsButton)
{
    kvAP proc;
    ScreenOsc screen (proc);
    screen.setSize (wideW, wideH);

    struct Case { int position; const char* text; const char* filter; };
    const Case cases[] = {
        { 5, "Misc", "misc" }, { 0, "Sines", "sine" }, { 1, "Squares", "square" },
        { 2, "Pulse", "pulse" }, { 3, "Saw", "saw" }, { 4, "Triangles", "tri" },
    };

    auto expectList = [&] (const juce::String& filter)
    {
        juce::StringArray names, ids;
        for (auto* w : proc.waveManager.waveforms)
            if (w->getSection().contains (filter))
            {
                names.add (w->getName());
                ids.add (w->getId());
            }

        EXPECT_FALSE (names.isEmpty());
        EXPECT_EQ (textsOf (screen.listButtons), names);
        EXPECT_EQ (screen.listIds, ids);
        EXPECT_EQ (screen.listContent.getNumChildComponents(), names.size());
        EXPECT_EQ (screen.listContent.getHeight(), 32 * names.size());
    };

    // After construction: the sines, "Sines" lit.
    EXPECT_EQ (screen.filter, "sine");
    EXPECT_EQ (screen.selectedCategory, &screen.categoryButtons[0]);
    expectList ("sine");

    int total = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text);
        auto& button = screen.categoryButtons[(size_t) c.position];
        EXPECT_EQ (button.getButtonText(), c.text);
        EXPECT_EQ (button.getBounds(), juce::Rectangle<int> (19 + 110 * c.position, 75, 100, 48));

        click (button);
        EXPECT_EQ (screen.filter, c.filter);
        expectList (c.filter);
        total += screen.listButtons.size();

        for (int p = 0; p < ScreenOsc::numCategories; ++p)
            EXPECT_EQ (screen.categoryButtons[(size_t) p].findColour (juce::TextButton::buttonColourId),
                       p == c.position ? screen.theme.getBg2 (5) : screen.theme.getBg (3));
        EXPECT_EQ (screen.listButtons[0]->getBounds(), juce::Rectangle<int> (109, 0, wideW - 219, 32));
    }

    // Every waveform is in exactly one category.
    EXPECT_EQ (total, proc.waveManager.waveforms.size());

    EXPECT_EQ (screen.viewport.getBounds(), juce::Rectangle<int> (0, 150, wideW, wideH - 200));
    EXPECT_EQ (screen.closeButton.getBounds(), juce::Rectangle<int> (wideW - 110, 7, 100, 32));

    // A filter nothing matches gives an empty list.
    screen.filter = "no such section";
    screen.buildList();
    EXPECT_TRUE (screen.listButtons.isEmpty());
    EXPECT_EQ (screen.listContent.getHeight(), 0);
    renderComponent (screen);
}

TEST_F (Screens, ChoosingAWaveformMapsItAndCloses)
{
    ProcessorRig rig;
    auto& proc = rig.proc;
    ScreenOsc screen (proc);
    screen.setSize (wideW, wideH);
    ActionRecorder recorder;
    screen.addActionListener (&recorder);

    const auto sineSound = rig.renderHeld ({ 57 }, 9600);
    const auto before = proc.getModMap();

    screen.targetKey = "synth1_oscType";
    EXPECT_EQ (screen.headerText(), "Oscillator A -> " + before.at ("synth1_oscType"));

    click (screen.categoryButtons[3]); // "Saw"
    auto* saw = buttonWithText (screen.listButtons, "Sawtooth OG*");
    ASSERT_NE (saw, nullptr);
    click (*saw);

    EXPECT_EQ (proc.getModMap ("synth1_oscType"), "sawtooth_og");
    EXPECT_EQ (recorder.messages, juce::StringArray ("oscScreen.exit.-1"));
    EXPECT_EQ (screen.headerText(), "Oscillator A -> sawtooth_og");

    auto after = proc.getModMap();
    after["synth1_oscType"] = before.at ("synth1_oscType");
    EXPECT_EQ (after, before); // nothing else changed

    // What the editor does on the exit message: the voices play the new shape.
    proc.updateOscTypes();
    const auto sawSound = rig.renderHeld ({ 57 }, 9600);
    float difference = 0.0f;
    for (int i = 4800; i < 9600; ++i)
        difference += std::abs (sawSound.getSample (0, i) - sineSound.getSample (0, i));
    EXPECT_GT (difference, 1.0f);

    // The LFO keys work the same.
    screen.targetKey = "lfo2_oscType";
    click (screen.categoryButtons[5]);
    click (*screen.listButtons[0]);
    EXPECT_EQ (proc.getModMap ("lfo2_oscType"), screen.listIds[0]);
    screen.removeActionListener (&recorder);
}

TEST_F (Screens, OscScreenWithoutAWaveformKeyChangesNothing)
{
    kvAP proc;
    ScreenOsc screen (proc);
    screen.setSize (wideW, wideH);
    ActionRecorder recorder;
    screen.addActionListener (&recorder);
    const auto before = proc.getModMap();
    const auto namesBefore = proc.modMapNames;

    for (auto* key : { "na", "env1_mappedParam", "", "no_such_key" })
    {
        SCOPED_TRACE (key);
        recorder.messages.clear();
        screen.targetKey = key;
        EXPECT_EQ (screen.headerText(), "error -> error");
        renderComponent (screen);

        click (*screen.listButtons[1]);
        EXPECT_EQ (recorder.messages, juce::StringArray ("oscScreen.exit.-1"));
        EXPECT_EQ (proc.getModMap(), before);
    }

    // Closing changes nothing either.
    screen.targetKey = "synth2_oscType";
    recorder.messages.clear();
    click (screen.closeButton);
    EXPECT_EQ (recorder.messages, juce::StringArray ("oscScreen.exit.-1"));
    EXPECT_EQ (proc.getModMap(), before);
    EXPECT_EQ (proc.modMapNames, namesBefore); // the header never adds keys
    screen.removeActionListener (&recorder);
}

//==============================================================================
// Target screen

TEST_F (Screens, MapScreenListsTheTableAndFiltersByCategory)
{
    kvAP proc;
    ScreenMap screen (proc);
    screen.setSize (wideW, wideH);

    const auto& params = proc.paramMan.params;
    ASSERT_EQ (params.size(), 80u);

    struct Case { int position; const char* text; const char* filter; };
    const Case cases[] = {
        { 1, "Global", "global" }, { 2, "Osc 1", "synth1" }, { 3, "Osc 2", "synth2" }, { 4, "Env 1", "env1" },
        { 5, "Env 2", "env2" }, { 6, "LFO 1", "lfo1" }, { 7, "LFO 2", "lfo2" }, { 0, "All", "na" },
    };

    // After construction: everything, in table order, "None" first.
    EXPECT_EQ (screen.filter, "na");
    EXPECT_EQ (screen.listButtons.size(), 80);
    EXPECT_EQ (screen.listButtons[0]->getButtonText(), "None");
    EXPECT_EQ (screen.listIds[0], "dummy");

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text);
        auto& button = screen.categoryButtons[(size_t) c.position];
        EXPECT_EQ (button.getButtonText(), c.text);
        EXPECT_EQ (button.getBounds(), juce::Rectangle<int> (19 + 110 * c.position, 75, 100, 48));
        click (button);

        const juce::String filter (c.filter);
        juce::StringArray ids, names;
        for (const auto& p : params)
            if (filter == "na" || p.paramId.contains (filter) || p.group.contains (filter))
            {
                ids.add (p.paramId);
                names.add (p.displayName);
            }

        EXPECT_FALSE (ids.isEmpty());
        EXPECT_EQ (screen.listIds, ids);
        EXPECT_EQ (textsOf (screen.listButtons), names);
        EXPECT_EQ (screen.listContent.getNumChildComponents(), ids.size());
        EXPECT_EQ (screen.listContent.getBounds(), juce::Rectangle<int> (0, 0, wideW, 32 * ids.size()));

        for (int p = 0; p < ScreenMap::numCategories; ++p)
            EXPECT_EQ (screen.categoryButtons[(size_t) p].findColour (juce::TextButton::buttonColourId),
                       p == c.position ? screen.theme.getBg2 (5) : screen.theme.getBg (3));
    }

    // "Global" takes ids and groups: "cutoff" is in by its group "global_cutoff".
    click (screen.categoryButtons[1]);
    EXPECT_TRUE (screen.listIds.contains ("cutoff"));
    EXPECT_FALSE (screen.listIds.contains ("dummy"));
    EXPECT_EQ (screen.viewport.getBounds(), juce::Rectangle<int> (0, 150, wideW, wideH - 200));
}

TEST_F (Screens, ChoosingATargetGoesThroughTheMapping)
{
    ProcessorRig rig;
    auto& proc = rig.proc;
    ScreenMap screen (proc);
    screen.setSize (wideW, wideH);
    ActionRecorder recorder;
    screen.addActionListener (&recorder);
    const auto before = proc.getModMap();

    screen.targetKey = "env1_mappedParam";
    auto* cutoff = buttonWithText (screen.listButtons, "Cutoff");
    ASSERT_NE (cutoff, nullptr);
    click (*cutoff);
    EXPECT_EQ (proc.getModMap ("env1_mappedParam"), "cutoff");
    EXPECT_EQ (recorder.messages, juce::StringArray ("mapScreen.exit.-1"));
    EXPECT_EQ (screen.headerText(), "Envelope 1 -> Cutoff");

    // The audio thread follows: the envelope, at full negative depth, pulls
    // the filter down to its lowest cutoff while a note plays.
    rig.set ("cutoff", 0.1f);
    rig.set ("env1_factor", 0.0f);
    rig.set ("env1_attack", 0.0f);
    ASSERT_NE ((int) kvAP::filterCutoffHzAt (0.1f, 48000.0), 80);
    rig.render (1024, [] (juce::MidiBuffer& midi, int start, int)
    {
        if (start == 0)
            midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    });
    EXPECT_EQ (proc.renderValues.cutoffHz.load(), 80);

    // "None" stores "dummy".
    click (screen.categoryButtons[0]);
    click (*screen.listButtons[0]);
    EXPECT_EQ (proc.getModMap ("env1_mappedParam"), "dummy");
    EXPECT_EQ (screen.headerText(), "Envelope 1 -> None");

    auto after = proc.getModMap();
    after["env1_mappedParam"] = before.at ("env1_mappedParam");
    EXPECT_EQ (after, before);

    // A key that takes no parameter id is left alone.
    for (auto* key : { "na", "synth1_oscType", "" })
    {
        SCOPED_TRACE (key);
        screen.targetKey = key;
        const auto map = proc.getModMap();
        click (*screen.listButtons[3]);
        EXPECT_EQ (proc.getModMap(), map);
    }
    screen.removeActionListener (&recorder);
}

TEST_F (Screens, MapHeaderCopesWithAnyTarget)
{
    kvAP proc;
    ScreenMap screen (proc);
    screen.setSize (wideW, wideH);
    const auto namesBefore = proc.modMapNames;

    struct Case { const char* key; juce::String stored; juce::String header; };
    const Case cases[] = {
        { "na", {}, "error -> error" },
        { "", {}, "error -> error" },
        { "no_such_key", {}, "error -> error" },
        { "lfo2_oscType", {}, "error -> error" },
        { "lfo2_mappedParam", "synth2_detune", "LFO 2 -> OscB Detune" },
        { "env2_mappedParam", "", "Envelope 2 -> None" },
        { "env2_mappedParam", "dummy", "Envelope 2 -> None" },
        { "lfo1_mappedParam", "synth3_gone", "LFO 1 -> \"synth3_gone\" (unknown)" },
        { "lfo1_mappedParam", juce::String::repeatedString ("x", 5000), "LFO 1 -> \"" + juce::String::repeatedString ("x", 48) + "...\" (unknown)" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.key);
        screen.targetKey = c.key;
        if (screen.targetKey.endsWith ("_mappedParam"))
        {
            ASSERT_TRUE (proc.setModMapEntry (c.key, c.stored));
        }

        EXPECT_EQ (screen.headerText(), c.header);
        const auto image = renderComponent (screen); // drawing it does not fail either
        EXPECT_GT (image.getPixelAt (wideW / 2, 20).getAlpha(), 0);
    }

    EXPECT_EQ (proc.modMapNames, namesBefore);
}

//==============================================================================
// Mapping panel

namespace
{
    struct PanelRig
    {
        explicit PanelRig (const char* key = "env1_mappedParam", const char* retrig = "env1_retrig", const char* factor = "env1_factor")
            : factorIds { factor }, panel (rig.proc, key, retrig, factorIds)
        {
            panel.setSize (470, 110);
            panel.addActionListener (&recorder);
        }

        ~PanelRig() { panel.removeActionListener (&recorder); }

        juce::RangedAudioParameter& param (const char* id) { return *rig.proc.apvts.getParameter (id); }
        juce::Colour retrigColour() const { return panel.retrigButton.findColour (juce::TextButton::buttonColourId); }

        ProcessorRig rig;
        juce::String factorIds[1];
        AutomationMappingGroup panel;
        ActionRecorder recorder;
    };
}

TEST (MappingPanel, LaysOutItsPartsAndShowsItsSource)
{
    PanelRig p;
    auto& panel = p.panel;

    EXPECT_EQ (panel.targetButton.getBounds(), juce::Rectangle<int> (19, 40, 200, 32));
    EXPECT_EQ (panel.retrigButton.getBounds(), juce::Rectangle<int> (20, 80, 16, 16));
    EXPECT_EQ (panel.levelMeter.getBounds(), juce::Rectangle<int> (264, 20, 25, 80));
    EXPECT_EQ (panel.valueMeter.getBounds(), juce::Rectangle<int> (289, 20, 25, 80));
    EXPECT_EQ (panel.factorGroup.getBounds(), juce::Rectangle<int> (329, 0, 129, 100));

    EXPECT_EQ (panel.targetButton.getButtonText(), "None");
    EXPECT_EQ (panel.factorGroup.name, "params");
    EXPECT_EQ (panel.factorGroup.title, "factor");
    EXPECT_EQ (panel.factorGroup.labels[0], "-/+");
    EXPECT_EQ (panel.valueMeter.mode, OAMeter::verticalBar);
    EXPECT_EQ (panel.levelMeter.foreground, p.rig.proc.theme.getMain (2));
    EXPECT_EQ (panel.valueMeter.foreground, p.rig.proc.theme.getAccent (2));

    // The knob is the source's depth.
    p.param ("env1_factor").setValueNotifyingHost (0.25f);
    EXPECT_NEAR (panel.factorGroup.sliders[0].getValue(), 0.25, 1.0e-6);
    panel.factorGroup.sliders[0].setValue (0.8, juce::sendNotificationSync);
    EXPECT_NEAR (p.param ("env1_factor").getValue(), 0.8f, 1.0e-6f);

    // The retrigger starts off: accent.
    EXPECT_EQ (p.retrigColour(), p.rig.proc.theme.getAccent (1));

    // The frame round the meters: (262, 18, 54, 84), two pixels wide.
    const auto image = renderComponent (panel);
    EXPECT_GT (image.getPixelAt (262, 50).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (259, 50).getAlpha(), 0);
}

TEST (MappingPanel, TargetButtonAsksForTheTargetScreen)
{
    struct Case { const char* key; const char* retrig; const char* factor; const char* message; };
    const Case cases[] = {
        { "env1_mappedParam", "env1_retrig", "env1_factor", "showScreenMap.env1_mappedParam.-1" },
        { "lfo2_mappedParam", "lfo2_retrigAuto", "lfo2_factor", "showScreenMap.lfo2_mappedParam.-1" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.key);
        PanelRig p (c.key, c.retrig, c.factor);
        click (p.panel.targetButton);
        EXPECT_EQ (p.recorder.messages, juce::StringArray (c.message));
    }
}

TEST (MappingPanel, RetrigButtonTogglesTheParameterAndShowsIt)
{
    PanelRig p ("lfo1_mappedParam", "lfo1_retrigAuto", "lfo1_factor");
    auto& retrig = p.param ("lfo1_retrigAuto");
    const auto on = p.rig.proc.theme.getMain (1), off = p.rig.proc.theme.getAccent (1);

    retrig.setValueNotifyingHost (0.7f);
    EXPECT_EQ (p.retrigColour(), on);

    click (p.panel.retrigButton);
    EXPECT_EQ (retrig.getValue(), 0.0f);
    EXPECT_EQ (p.retrigColour(), off);

    click (p.panel.retrigButton);
    EXPECT_EQ (retrig.getValue(), 1.0f);
    EXPECT_EQ (p.retrigColour(), on);

    // Exactly 0.5 counts as off, and a click turns it on.
    retrig.setValueNotifyingHost (0.5f);
    EXPECT_EQ (p.retrigColour(), off);
    click (p.panel.retrigButton);
    EXPECT_EQ (retrig.getValue(), 1.0f);
    EXPECT_TRUE (p.recorder.messages.isEmpty());

    // A patch load that changes it recolours too.
    p.rig.proc.loadDefaultPatch ("Init[OA]");
    runPendingMessages();
    EXPECT_EQ (p.retrigColour(), retrig.getValue() > 0.5f ? on : off);
}

TEST (MappingPanel, RecolourFromAnotherThreadNeverWaitsForTheMessageThread)
{
    PanelRig p;
    auto& retrig = p.param ("env1_retrig");
    const auto on = p.rig.proc.theme.getMain (1);
    retrig.setValueNotifyingHost (0.0f);

    // The message thread is busy with this test and delivers nothing while
    // the "audio" thread automates: that thread must still finish at once.
    auto automation = std::async (std::launch::async, [&]
    {
        retrig.setValueNotifyingHost (1.0f);
        p.param ("env1_factor").setValueNotifyingHost (0.1f);
    });
    ASSERT_EQ (automation.wait_for (std::chrono::seconds (5)), std::future_status::ready);
    automation.get();

    EXPECT_NE (p.retrigColour(), on); // not yet: the recolour waits for the message thread
    ASSERT_TRUE (runMessagesUntil ([&] { return p.retrigColour() == on; }, 2000));

    // Only the retrigger parameter recolours.
    p.panel.retrigButton.setColour (juce::TextButton::buttonColourId, juce::Colours::red);
    std::thread ([&] { p.param ("env1_factor").setValueNotifyingHost (0.9f); }).join();
    EXPECT_FALSE (runMessagesUntil ([&] { return p.retrigColour() != juce::Colours::red; }, 300));
}

TEST (MappingPanel, APendingRecolourDiesWithThePanel)
{
    ProcessorRig rig;
    juce::String factor[] = { "env2_factor" };
    auto panel = std::make_unique<AutomationMappingGroup> (rig.proc, "env2_mappedParam", "env2_retrig", factor);

    std::thread ([&] { rig.proc.apvts.getParameter ("env2_retrig")->setValueNotifyingHost (1.0f); }).join();
    panel.reset();

    // Neither the pending recolour nor later automation reaches the deleted panel.
    std::thread ([&] { rig.proc.apvts.getParameter ("env2_retrig")->setValueNotifyingHost (0.0f); }).join();
    rig.proc.apvts.getParameter ("env2_retrig")->setValueNotifyingHost (1.0f);
    runMessagesUntil ([] { return false; }, 200);
    SUCCEED();
}

//==============================================================================
// Settings screen

TEST_F (Screens, SettingsSwitchesShowTheStoredValues)
{
    struct Case { const char* stored; bool on; };
    const Case cases[] = {
        { "true", true }, { "false", false }, { "FALSE", false }, { "False", false },
        { "f", false }, { "no", true }, { "", true }, { "0", true }, { "fish", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.stored);
        kvAP proc;
        proc.settings.values["updates"] = c.stored;
        proc.settings.values["initLog"] = c.stored;
        proc.settings.values["showBgVis"] = "false";

        ScreenSettings screen (proc);
        EXPECT_EQ (screen.updatesSwitch.isOn, c.on);
        EXPECT_EQ (screen.initLogSwitch.isOn, c.on);
        EXPECT_FALSE (screen.bgVisSwitch.isOn);
    }
}

TEST_F (Screens, SettingsSwitchesChangeTheValuesAtOnceAndClosingSavesThem)
{
    kvAP proc;
    proc.settings.values["showBgVis"] = "true";
    proc.settings.values["updates"] = "false";
    ScreenSettings screen (proc);
    screen.setSize (narrowW, narrowH);
    ActionRecorder recorder;
    screen.addActionListener (&recorder);

    EXPECT_EQ (screen.patchLocationEditor.getBounds(), juce::Rectangle<int> (10, 94, 400, 24));
    EXPECT_EQ (screen.initLogSwitch.getBounds(), juce::Rectangle<int> (narrowW - 96, 141, 64, 32));
    EXPECT_EQ (screen.updatesSwitch.getBounds(), juce::Rectangle<int> (narrowW - 96, 196, 64, 32));
    EXPECT_EQ (screen.bgVisSwitch.getBounds(), juce::Rectangle<int> (narrowW - 96, 251, 64, 32));
    EXPECT_EQ (screen.motdButton.getBounds(), juce::Rectangle<int> (10, 306, 225, 32));
    EXPECT_EQ (screen.closeButton.getBounds(), juce::Rectangle<int> (narrowW - 110, 7, 100, 32));
    EXPECT_EQ (screen.patchLocationEditor.getText(), patchFolder().getFullPathName());

    click (screen.bgVisSwitch);
    EXPECT_EQ (proc.settings.values.at ("showBgVis"), "false");
    click (screen.updatesSwitch);
    EXPECT_EQ (proc.settings.values.at ("updates"), "true");
    click (screen.updatesSwitch);
    EXPECT_EQ (proc.settings.values.at ("updates"), "false");
    EXPECT_FALSE (settingsFile().exists()); // nothing on disk yet
    EXPECT_TRUE (recorder.messages.isEmpty());

    // "Show MOTD Screen" asks for the message and saves nothing.
    click (screen.motdButton);
    EXPECT_EQ (recorder.messages, juce::StringArray ("settingsScreen.motd.-1"));
    EXPECT_FALSE (settingsFile().exists());

    // Closing after typing a new folder: stored, written, and the new patch folder.
    const auto elsewhere = home().getChildFile ("Elsewhere/My Patches");
    screen.patchLocationEditor.setText (elsewhere.getFullPathName(), true);
    recorder.messages.clear();
    click (screen.closeButton);

    EXPECT_EQ (recorder.messages, juce::StringArray ("settingsScreen.exit.-1"));
    EXPECT_EQ (proc.settings.values.at ("patchLocation"), elsewhere.getFullPathName());
    EXPECT_EQ (proc.fileIO.productFolder, elsewhere);

    auto xml = juce::parseXML (textOf (settingsFile()));
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getStringAttribute ("patchLocation"), elsewhere.getFullPathName());
    EXPECT_EQ (xml->getStringAttribute ("showBgVis"), "false");
    EXPECT_EQ (xml->getStringAttribute ("updates"), "false");

    // Patches now go to the new folder, and a fresh start reads it back.
    ScreenSave save (proc);
    save.nameEditor.setText ("Moved", true);
    click (save.saveBtn);
    EXPECT_TRUE (elsewhere.getChildFile ("Moved.kvn").existsAsFile());

    kvAP next;
    EXPECT_EQ (next.fileIO.productFolder, elsewhere);
    EXPECT_TRUE (notices.empty());
    screen.removeActionListener (&recorder);
}

TEST_F (Screens, SettingsRefuseAFolderThatIsNoFullPath)
{
    kvAP proc;
    const auto previous = proc.fileIO.productFolder;
    ScreenSettings screen (proc);
    screen.setSize (narrowW, narrowH);
    ActionRecorder recorder;
    screen.addActionListener (&recorder);

    click (screen.initLogSwitch);
    const auto initLog = proc.settings.values.at ("initLog");

    for (auto* typed : { "patches", "", "./here", "../up", " /leading/blank", "~someone/patches", "C:\\Patches" })
    {
        SCOPED_TRACE (typed);
        notices.clear();
        recorder.messages.clear();
        settingsFile().deleteFile();
        screen.patchLocationEditor.setText (typed, true);

        click (screen.closeButton);

        ASSERT_EQ (notices.size(), 1u);
        EXPECT_TRUE (notices[0].text.contains (previous.getFullPathName()));
        EXPECT_EQ (proc.fileIO.productFolder, previous);
        EXPECT_EQ (proc.settings.values.at ("patchLocation"), previous.getFullPathName());
        EXPECT_EQ (screen.patchLocationEditor.getText(), previous.getFullPathName());
        EXPECT_EQ (recorder.messages, juce::StringArray ("settingsScreen.exit.-1"));

        // The rest is saved all the same.
        auto xml = juce::parseXML (textOf (settingsFile()));
        ASSERT_NE (xml, nullptr);
        EXPECT_EQ (xml->getStringAttribute ("patchLocation"), previous.getFullPathName());
        EXPECT_EQ (xml->getStringAttribute ("initLog"), initLog);
    }

    // A folder in the home folder is a full path too.
    notices.clear();
    screen.patchLocationEditor.setText ("~/Sounds", true);
    click (screen.closeButton);
    EXPECT_TRUE (notices.empty());
    EXPECT_EQ (proc.fileIO.productFolder, home().getChildFile ("Sounds"));
    screen.removeActionListener (&recorder);
}

TEST_F (Screens, SettingsThatCannotBeWrittenSaySo)
{
    kvAP proc;
    ScreenSettings screen (proc);
    // A folder where the settings file should be: the write must fail.
    ASSERT_TRUE (settingsFile().createDirectory());

    click (screen.closeButton);
    ASSERT_EQ (notices.size(), 1u);
    EXPECT_TRUE (notices[0].text.contains (settingsFile().getFullPathName()));
}

//==============================================================================
// Pictures of the screens, for a person to look at: written only when
// KORVANE_SCREEN_PICTURES names a folder.

TEST_F (Screens, EveryScreenDrawsItsHeaderAndTitle)
{
    ProcessorRig rig;
    auto& proc = rig.proc;
    ASSERT_EQ (FactoryBank::installInto (patchFolder()).outcome, FactoryBank::Outcome::copied);
    proc.patchName = "Warm Pad";

    ScreenLoad load (proc);
    load.setSize (narrowW, narrowH);
    load.buildPatchList (proc.fileIO);
    ScreenSave save (proc);
    save.setSize (narrowW, narrowH);
    ScreenSettings settings (proc);
    settings.setSize (narrowW, narrowH);
    ScreenOsc osc (proc);
    osc.setSize (wideW, wideH);
    osc.targetKey = "synth1_oscType";
    ScreenMap map (proc);
    map.setSize (wideW, wideH);
    map.targetKey = "env1_mappedParam";
    proc.setModMapEntry ("env1_mappedParam", "cutoff");
    juce::String factor[] = { "env1_factor" };
    AutomationMappingGroup panel (proc, "env1_mappedParam", "env1_retrig", factor);
    panel.setSize (470, 110);
    panel.levelMeter.setValue (0.6f);
    panel.valueMeter.setValue (0.3f);

    const std::pair<const char*, juce::Component*> screens[] = {
        { "load", &load }, { "save", &save }, { "settings", &settings },
        { "osc", &osc }, { "map", &map }, { "mapping-panel", &panel },
    };

    const auto folder = juce::SystemStats::getEnvironmentVariable ("KORVANE_SCREEN_PICTURES", {});

    for (const auto& [name, component] : screens)
    {
        SCOPED_TRACE (name);
        const auto image = renderComponent (*component);

        if (component == &save)
        {
            // Drawn at half opacity: the shade behind it shows through.
            const auto header = image.getPixelAt (300, 5);
            EXPECT_GT (header.getAlpha(), 150);
            EXPECT_LT (header.getAlpha(), 230);
        }
        else if (component != &panel)
        {
            // The header band in the main colour, and the title drawn over it.
            int mainPixels = 0, otherPixels = 0;
            for (int x = 10; x < 200; ++x)
                for (int y = 10; y < 34; ++y)
                    (nearRgb (image.getPixelAt (x, y), proc.theme.getMain (1)) ? mainPixels : otherPixels)++;
            EXPECT_GT (mainPixels, 1000);
            EXPECT_GT (otherPixels, 50);
        }

        if (folder.isNotEmpty())
        {
            const auto file = juce::File (folder).getChildFile (juce::String ("screens-") + name + ".png");
            file.deleteFile();
            juce::FileOutputStream out (file);
            ASSERT_TRUE (out.openedOk());
            juce::PNGImageFormat().writeImageToStream (image, out);
        }
    }
}
