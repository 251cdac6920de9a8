// The standalone application. It is the framework's standalone application in
// all but one step: the window's own settings file (~/.config/Korvane.settings,
// audio set-up and last sound) is checked before the framework's parser reads
// it, the way every other XML text from outside is. A file nested deep enough
// runs that parser out of stack, and the app would then crash at every start.

#include <juce_core/system/juce_TargetPlatform.h>

#if JucePlugin_Build_Standalone

#include "state/StandaloneSettingsCheck.h"
#include "diagnostics/Notices.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_gui_extra/juce_gui_extra.h>
#include <juce_audio_plugin_client/Standalone/juce_StandaloneFilterWindow.h>

#include <iostream>

namespace
{
class KorvaneStandaloneApp : public juce::JUCEApplication
{
public:
    KorvaneStandaloneApp()
    {
        options.applicationName = getApplicationName();
        options.filenameSuffix = ".settings";
        options.osxLibrarySubFolder = "Application Support";
        options.folderName = "~/.config";
    }

    const juce::String getApplicationName() override { return JucePlugin_Name; }
    const juce::String getApplicationVersion() override { return JucePlugin_VersionString; }
    bool moreThanOneInstanceAllowed() override { return true; }
    void anotherInstanceStarted (const juce::String&) override {}

    void initialise (const juce::String&) override
    {
        // Before anything reads the file: a file the parser cannot take safely
        // is set aside (kept for the user), and the app starts as on a first run.
        const auto fileCheck = StandaloneSettingsCheck::setAsideIfUnsafe (options.getDefaultFile());
        settings = std::make_unique<juce::PropertiesFile> (fileCheck.fileToUse, options);
        const auto valueCheck = StandaloneSettingsCheck::dropUnsafeValues (*settings);

        for (const auto& text : { fileCheck.notice, valueCheck })
            if (text.isNotEmpty())
            {
                std::cerr << "Korvane: " << text << std::endl;
                Notices::show ("Uhh..", text, "Okay...");
            }

        mainWindow = std::make_unique<juce::StandaloneFilterWindow> (
            getApplicationName(),
            juce::LookAndFeel::getDefaultLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId),
            settings.get(), false);

        mainWindow->setVisible (true);
    }

    void shutdown() override
    {
        mainWindow = nullptr;

        if (settings != nullptr)
            settings->saveIfNeeded();
    }

    void systemRequestedQuit() override
    {
        if (mainWindow != nullptr)
            mainWindow->pluginHolder->savePluginState();

        if (juce::ModalComponentManager::getInstance()->cancelAllModalComponents())
        {
            juce::Timer::callAfterDelay (100, []
            {
                if (auto* app = juce::JUCEApplicationBase::getInstance())
                    app->systemRequestedQuit();
            });
        }
        else
        {
            quit();
        }
    }

private:
    juce::PropertiesFile::Options options;
    std::unique_ptr<juce::PropertiesFile> settings;
    std::unique_ptr<juce::StandaloneFilterWindow> mainWindow;
};
}

juce::JUCEApplicationBase* juce_CreateApplication();
juce::JUCEApplicationBase* juce_CreateApplication()
{
    return new KorvaneStandaloneApp();
}

#endif
