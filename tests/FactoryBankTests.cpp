// The factory bank: the shipped documents are what their recipes write, each
// loads without a notice (in the app and in korvane-render), plays its
// category's phrase within the level window, saves back to the same bytes,
// and the sounds of a category differ measurably. Then the first-start copy
// into the patch folder.
#include "FactoryRecipes.h"
#include "FileTestSupport.h"
#include "Phrases.h"
#include "RenderToolRun.h"
#include "SoundMeasures.h"

#include "processor/PluginProcessor.h"
#include "state/FactoryBank.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <map>

using namespace FileTests;

// The framework's own plug-in message threads reach the queue through this
// (juce_LinuxMessageThread.h); the library is built without modal loops.
namespace juce
{
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;

juce::MemoryBlock bytesOfDocument (const FactoryBank::Document& doc)
{
    return { doc.data, (size_t) doc.size };
}

/** The shipped bank written out as files, as the first start does. */
juce::File writeBankInto (const juce::File& folder)
{
    folder.createDirectory();

    for (const auto& doc : FactoryBank::documents())
        folder.getChildFile (doc.fileName).replaceWithData (doc.data, (size_t) doc.size);

    return folder;
}

/** Delivers every message posted before this call (they are delivered in
    order), without waiting for anything. */
void deliverPendingMessages()
{
    auto delivered = std::make_shared<bool> (false);
    juce::MessageManager::callAsync ([delivered] { *delivered = true; });

    while (! *delivered)
        ASSERT_TRUE (juce::dispatchNextMessageOnSystemQueue (true)) << "the queue ran dry before the last message";
}

/** Builds processors as the given plug-in wrapper does, for as long as it lives. */
struct AsWrapper
{
    explicit AsWrapper (juce::AudioProcessor::WrapperType type) { juce::AudioProcessor::setTypeOfNextNewPlugin (type); }
    ~AsWrapper() { juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined); }
};

/** Starts as the standalone app does, up to the end of its first messages. */
std::unique_ptr<kvAP> startApp (juce::AudioProcessor::WrapperType type = juce::AudioProcessor::wrapperType_Standalone)
{
    std::unique_ptr<kvAP> proc;

    {
        const AsWrapper wrapper (type);
        proc = std::make_unique<kvAP>();
    }

    deliverPendingMessages();
    return proc;
}

juce::StringArray kvnNamesIn (const juce::File& folder)
{
    juce::StringArray names;

    for (const auto& f : folder.findChildFiles (juce::File::findFiles, false, "*.kvn"))
        names.add (f.getFileName());

    names.sort (false);
    return names;
}

juce::StringArray shippedNames()
{
    juce::StringArray names;

    for (const auto& doc : FactoryBank::documents())
        names.add (doc.fileName);

    names.sort (false);
    return names;
}

void expectFolderHoldsTheBank (const juce::File& factory)
{
    ASSERT_EQ (kvnNamesIn (factory), shippedNames());

    for (const auto& doc : FactoryBank::documents())
        EXPECT_EQ (bytesOf (factory.getChildFile (doc.fileName)), bytesOfDocument (doc)) << doc.fileName;
}

/** Takes the current thread's power to write where its permissions say it
    may not (root's CAP_DAC_OVERRIDE), so that a read-only folder is read-only
    for this test even when the suite runs as root. Capabilities belong to a
    thread, and the message loop runs on this one. */
struct WithoutPermissionOverride
{
    WithoutPermissionOverride()
    {
        if (::geteuid() != 0)
            return;

        if (::syscall (SYS_capget, &header, saved) != 0)
            return;

        __user_cap_data_struct reduced[2] { saved[0], saved[1] };
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        changed = ::syscall (SYS_capset, &header, reduced) == 0;
    }

    ~WithoutPermissionOverride()
    {
        if (changed)
            ::syscall (SYS_capset, &header, saved);
    }

    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct saved[2] {};
    bool changed = false;
};

bool canCreateFileIn (const juce::File& folder)
{
    const auto probe = folder.getChildFile ("probe");
    const auto fd = ::open (probe.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL, 0644);

    if (fd < 0)
        return false;

    ::close (fd);
    probe.deleteFile();
    return true;
}

class FactoryBankTest : public CleanHome {};
} // namespace

//==============================================================================
TEST (FactoryRecipes, MusicalUnitsMeanWhatTheEngineDoes)
{
    // Cutoff and Q: the engine's own curves give back what a recipe asked for.
    for (auto hz : { 120.0, 300.0, 1045.0, 4000.0, 12000.0 })
        EXPECT_NEAR (kvAP::filterCutoffHzFor (Factory::cutoffValueForHz (hz)), hz, hz * 1.0e-4) << hz;

    for (auto [q, qMax] : { std::pair { 0.7, 0.25f }, { 6.0, 0.25f }, { 14.0, 0.25f }, { 100.0, 1.0f } })
        EXPECT_NEAR (kvAP::filterQFor (Factory::resonanceValueForQ (q, qMax), qMax), q, q * 1.0e-4) << q;

    for (auto seconds : { 0.004, 0.3, 2.5 })
        EXPECT_NEAR (Factory::secondsForTimeValue (Factory::timeValueForSeconds (seconds, 0.5), 0.5), seconds, seconds * 1.0e-6);

    // Every note length lands on its own row of the rate table, after the 0.001 grid.
    kvAP proc;
    proc.prepareToPlay (sampleRate, blockSize);

    for (auto* label : { "64/1", "32/1", "16/1", "8/1", "4/1", "2/1", "1/1", "1/2", "1/4", "1/8", "1/16", "1/32", "1/64" })
    {
        proc.apvts.getParameter ("lfo1_rate")->setValueNotifyingHost (Factory::lfoRateValueFor (label));
        EXPECT_EQ (proc.getLfoRateText (1), label);
    }

    EXPECT_LT (Factory::lfoRateValueFor ("1/3"), 0.0f);
}

TEST (FactoryRecipes, TheShippedDocumentsAreWhatTheRecipesWrite)
{
    const auto& recipes = Factory::recipes();
    ASSERT_EQ (recipes.size(), 32u);
    ASSERT_EQ (FactoryBank::documents().size(), recipes.size()) << "run make factory";

    std::map<Factory::Category, int> perCategory;
    juce::StringArray names;
    const auto folder = home().getChildFile ("written");

    for (const auto& recipe : recipes)
    {
        SCOPED_TRACE (recipe.name.toStdString());
        ++perCategory[recipe.category];

        // Short, no blanks at the ends, distinct, and a name savePatch keeps whole.
        EXPECT_EQ (recipe.name.trim(), recipe.name);
        EXPECT_LE (recipe.name.length(), 20);
        EXPECT_FALSE (recipe.name.containsAnyOf ("./\\~"));
        EXPECT_FALSE (names.contains (recipe.name));
        names.add (recipe.name);

        const auto file = Factory::writeRecipe (recipe, folder);
        ASSERT_TRUE (file.existsAsFile());

        const auto shipped = std::find_if (FactoryBank::documents().begin(), FactoryBank::documents().end(),
                                           [&] (const auto& doc) { return doc.fileName == recipe.name + ".kvn"; });
        ASSERT_NE (shipped, FactoryBank::documents().end()) << "run make factory";
        EXPECT_TRUE (bytesOf (file) == bytesOfDocument (*shipped)) << "resources/factory is out of date: run make factory";
    }

    folder.deleteRecursively();

    ASSERT_EQ (perCategory.size(), (size_t) Factory::numCategories);

    for (const auto& [category, count] : perCategory)
        EXPECT_EQ (count, 4) << Factory::categoryName (category);
}

TEST (FactoryRecipes, TheInstalledFolderHoldsTheEmbeddedDocuments)
{
    // What `make install` copies to share/korvane/factory and what the binary carries are one set.
    const juce::File source (KORVANE_FACTORY_DIR);
    expectFolderHoldsTheBank (source);
}

TEST_F (FactoryBankTest, EveryPatchLoadsPlaysInTheWindowAndSavesBackUnchanged)
{
    const auto factory = writeBankInto (patchFolder().getChildFile (FactoryBank::folderName));
    const auto saved = home().getChildFile ("saved");
    std::map<Factory::Category, std::vector<std::pair<juce::String, Factory::SoundMeasures>>> byCategory;

    for (const auto& doc : FactoryBank::documents())
    {
        SCOPED_TRACE (doc.fileName.toStdString());
        const auto* recipe = Factory::findRecipe (doc.fileName.upToLastOccurrenceOf (".kvn", false, false));
        ASSERT_NE (recipe, nullptr);

        kvAP proc;
        proc.setRateAndBufferSizeDetails (sampleRate, blockSize);
        proc.prepareToPlay (sampleRate, blockSize);
        proc.fileIO.productFolder = factory;
        proc.loadPatch (doc.fileName);
        proc.updateOscTypes();

        EXPECT_TRUE (notices.empty()) << notices.front().title << ": " << notices.front().text;
        notices.clear();
        ASSERT_EQ (proc.patchName, recipe->name);

        Factory::seedNoise (proc, 1);
        const auto& phrase = Factory::phraseFor (recipe->category);
        const auto m = Factory::measure (Factory::renderPhrase (proc, phrase, sampleRate, blockSize), phrase, sampleRate);

        ASSERT_TRUE (m.finite);
        EXPECT_GE (m.peakDb, Factory::lowestPeakDb);
        EXPECT_LE (m.peakDb, Factory::highestPeakDb);

        if (recipe->isSustained)
        {
            EXPECT_GE (m.heldFloorDb, Factory::sustainedFloorDb) << "drops out while a key is held";
        }

        // Playing moved only the engine: saving gives back the shipped bytes.
        proc.fileIO.productFolder = saved;
        ASSERT_TRUE (proc.savePatch (doc.fileName));
        EXPECT_TRUE (bytesOf (saved.getChildFile (doc.fileName)) == bytesOfDocument (doc));

        byCategory[recipe->category].push_back ({ recipe->name, m });
    }

    for (const auto& [category, sounds] : byCategory)
        for (size_t i = 0; i < sounds.size(); ++i)
            for (size_t j = i + 1; j < sounds.size(); ++j)
                EXPECT_TRUE (Factory::clearDifference (sounds[i].second, sounds[j].second).isNotEmpty())
                    << sounds[i].first << " and " << sounds[j].first << " measure alike";
}

TEST (FactoryBank, KorvaneRenderPlaysEveryShippedPatch)
{
    RenderToolRun::Scratch scratch;
    std::map<Factory::Category, juce::File> midiFiles;

    for (const auto& recipe : Factory::recipes())
    {
        SCOPED_TRACE (recipe.name.toStdString());
        const auto& phrase = Factory::phraseFor (recipe.category);
        auto& midi = midiFiles[recipe.category];

        if (midi == juce::File())
        {
            midi = scratch.file ("phrase" + juce::String ((int) recipe.category) + ".mid");
            juce::FileOutputStream out (midi);
            ASSERT_TRUE (phrase.toMidiFile().writeTo (out));
        }

        const auto patch = juce::File (KORVANE_FACTORY_DIR).getChildFile (recipe.name + ".kvn");
        const auto wav = scratch.file ("out.wav");
        const auto run = RenderToolRun::render (scratch, { "--patch", patch.getFullPathName(), "--midi", midi.getFullPathName(),
                                                           "--seconds", juce::String (Factory::Phrase::secondsFor (phrase.lengthBeats)),
                                                           "--quiet", "--out", wav.getFullPathName() });

        // Non-finite output would end the render with an error.
        ASSERT_EQ (run.exitCode, 0) << run.err;
        EXPECT_TRUE (run.err.isEmpty()) << "a notice: " << run.err;

        const auto peak = RenderToolRun::keyValues (run.lastLine())["peak_dbfs"].getDoubleValue();
        EXPECT_GE (peak, Factory::lowestPeakDb) << run.lastLine();
        EXPECT_LE (peak, Factory::highestPeakDb) << run.lastLine();
    }
}

//==============================================================================
TEST_F (FactoryBankTest, FirstStartOfTheAppAndThePlugInsCopiesTheBank)
{
    // A processor built by a tool or a test writes nothing.
    {
        kvAP tool;
        deliverPendingMessages();
        EXPECT_FALSE (makerFolder().exists());
    }

    // An empty patch folder, or none at all yet.
    const std::pair<juce::AudioProcessor::WrapperType, bool> starts[] {
        { juce::AudioProcessor::wrapperType_Standalone, true },
        { juce::AudioProcessor::wrapperType_VST3, false },
        { juce::AudioProcessor::wrapperType_LV2, true },
    };

    for (auto [type, folderExists] : starts)
    {
        SCOPED_TRACE ((int) type);
        makerFolder().deleteRecursively();

        if (folderExists)
        {
            ASSERT_TRUE (patchFolder().createDirectory());
        }

        const auto proc = startApp (type);

        expectFolderHoldsTheBank (patchFolder().getChildFile ("Factory"));
        EXPECT_EQ (fileNamesIn (patchFolder()), juce::StringArray ({ "Factory" })); // nothing half-done left beside it
        EXPECT_TRUE (notices.empty());
    }

    // The patch folder the settings name is the one that gets it.
    makerFolder().deleteRecursively();
    const auto elsewhere = home().getChildFile ("Elsewhere");
    writeText (settingsFile(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<OrbelAudioSettings patchLocation=\""
                                   + elsewhere.getFullPathName() + "\"/>\r\n");
    startApp();
    expectFolderHoldsTheBank (elsewhere.getChildFile ("Factory"));
    EXPECT_FALSE (patchFolder().exists());
    elsewhere.deleteRecursively();
}

TEST_F (FactoryBankTest, LaterStartsLeaveTheUsersFactoryFolderAlone)
{
    startApp();
    const auto factory = patchFolder().getChildFile ("Factory");
    ASSERT_EQ (kvnNamesIn (factory).size(), 32);

    // The user edits one, deletes another and adds a third.
    const auto edited = factory.getChildFile ("Warm Pad.kvn");
    const auto deleted = factory.getChildFile ("Marimba.kvn");
    writeText (edited, kvAP::getDefaultPatchXml());
    const auto editedBytes = bytesOf (edited);
    ASSERT_TRUE (deleted.deleteFile());
    {
        kvAP proc;
        proc.fileIO.productFolder = factory;
        ASSERT_TRUE (proc.savePatch ("Mine.kvn"));
    }

    startApp();
    startApp (juce::AudioProcessor::wrapperType_LV2);
    EXPECT_EQ (FactoryBank::installInto (patchFolder()).outcome, FactoryBank::Outcome::alreadyThere);

    EXPECT_EQ (bytesOf (edited), editedBytes);
    EXPECT_FALSE (deleted.exists());
    EXPECT_TRUE (factory.getChildFile ("Mine.kvn").existsAsFile());
    EXPECT_EQ (kvnNamesIn (factory).size(), 32);
    EXPECT_EQ (fileNamesIn (patchFolder()), juce::StringArray ({ "Factory" }));

    // Only a start without the folder brings the whole bank back.
    ASSERT_TRUE (factory.deleteRecursively());
    startApp();
    expectFolderHoldsTheBank (factory);

    // Something else of that name is not replaced either.
    ASSERT_TRUE (factory.deleteRecursively());
    writeText (factory, "not a folder");
    startApp();
    EXPECT_EQ (textOf (factory), "not a folder");
    EXPECT_TRUE (notices.empty());
}

TEST_F (FactoryBankTest, ReadOnlyPatchFolderLeavesTheAppWorkingWithANotice)
{
    ASSERT_TRUE (patchFolder().createDirectory());
    ASSERT_EQ (::chmod (patchFolder().getFullPathName().toRawUTF8(), 0555), 0);

    {
        const WithoutPermissionOverride readOnly;
        ASSERT_FALSE (canCreateFileIn (patchFolder())) << "the test cannot make a read-only folder here";

        auto proc = startApp();

        ASSERT_EQ (notices.size(), 1u);
        EXPECT_EQ (notices[0].title, "Uhh..");
        EXPECT_TRUE (notices[0].text.contains (patchFolder().getChildFile ("Factory").getFullPathName())) << notices[0].text;
        EXPECT_FALSE (patchFolder().getChildFile ("Factory").exists());
        EXPECT_TRUE (fileNamesIn (patchFolder()).isEmpty());

        // The sound engine does not care.
        proc->setRateAndBufferSizeDetails (sampleRate, blockSize);
        proc->prepareToPlay (sampleRate, blockSize);
        proc->loadDefaultPatch ("Init[OA]");
        proc->updateOscTypes();
        juce::AudioBuffer<float> block (2, blockSize);
        block.clear();
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 69, (juce::uint8) 100), 0);
        proc->processBlock (block, midi);
        EXPECT_GT (block.getMagnitude (0, 0, blockSize), 0.01f);

        // A second instance in the same run does not say it again.
        startApp (juce::AudioProcessor::wrapperType_VST3);
        EXPECT_EQ (notices.size(), 1u);
    }

    ASSERT_EQ (::chmod (patchFolder().getFullPathName().toRawUTF8(), 0755), 0);

    // Once the folder can be written to, the next start copies the bank.
    startApp();
    expectFolderHoldsTheBank (patchFolder().getChildFile ("Factory"));
}

TEST_F (FactoryBankTest, ACopyThatFailsPartWayLeavesNothingBehind)
{
    ASSERT_TRUE (patchFolder().createDirectory());

    // A staging folder of a start that was killed part way (a process that
    // does not exist any more) is cleared away by the next one.
    const auto abandoned = patchFolder().getChildFile (".Factory.7fffffff-0.part");
    writeText (abandoned.getChildFile ("Sub Bass.kvn"), "half");

    // A disk that fills up after 1000 bytes: the first document does not fit.
    FactoryBank::InstallResult result;
    withFileSizeLimit (1000, [&] { result = FactoryBank::installInto (patchFolder()); });

    EXPECT_EQ (result.outcome, FactoryBank::Outcome::failed);
    EXPECT_TRUE (result.problem.isNotEmpty());
    EXPECT_TRUE (fileNamesIn (patchFolder()).isEmpty()) << fileNamesIn (patchFolder()).joinIntoString (", ");

    const auto retry = FactoryBank::installInto (patchFolder());
    EXPECT_EQ (retry.outcome, FactoryBank::Outcome::copied);
    EXPECT_EQ (retry.filesCopied, 32);
    expectFolderHoldsTheBank (patchFolder().getChildFile ("Factory"));
}
