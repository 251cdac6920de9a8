#pragma once

#include "AutomationMappingGroup.h"
#include "OAMotdScreen.h"
#include "ScreenLoad.h"
#include "ScreenMap.h"
#include "ScreenOsc.h"
#include "ScreenSave.h"
#include "ScreenSettings.h"
#include "processor/PluginProcessor.h"
#include "ui/BgGLVis.h"
#include "ui/LayoutMetrics.h"
#include "ui/OAMeter.h"
#include "ui/OAScopeComponent.h"
#include "ui/OAVULogo.h"
#include "ui/ScanLines.h"
#include "ui/SliderGroup.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_audio_utils/juce_audio_utils.h>

#include <array>

/** Components the editor shows and hides together (not owned). */
struct ComponentList
{
    static constexpr int capacity = 256;

    void add (juce::Component* component)
    {
        jassert (count < capacity);
        if (count < capacity)
            components[(size_t) count++] = component;
    }

    void setVisible (bool shouldBeVisible)
    {
        for (int i = 0; i < count; ++i)
            components[(size_t) i]->setVisible (shouldBeVisible);
    }

    std::array<juce::Component*, capacity> components {};
    int count = 0;
};

/** The Korvane editor: the fixed 1119 x 700 front panel of titled knob
    groups, the tabbed lower half, the level displays, the keyboard and the
    overlay screens, all owned by value and laid out on a fixed grid. */
class kvAPE : public juce::AudioProcessorEditor,
              public juce::Timer,
              public juce::Value::Listener,
              public juce::Button::Listener,
              public juce::ActionListener,
              public juce::KeyListener
{
public:
    explicit kvAPE (kvAP& processor);
    ~kvAPE() override;

    static constexpr int designWidth = 1119;
    static constexpr int designHeight = 700;

    //==============================================================================
    void paint (juce::Graphics& g) override;
    void paintOverChildren (juce::Graphics& g) override;
    void resized() override;
    void mouseDown (const juce::MouseEvent& event) override;
    void hostMIDIControllerIsAvailable (bool controllerIsAvailable) override;
    void timerCallback() override;
    void actionListenerCallback (const juce::String& message) override;
    using juce::Component::keyPressed;
    bool keyPressed (const juce::KeyPress& key, juce::Component* originatingComponent) override;
    void buttonClicked (juce::Button* button) override;
    void valueChanged (juce::Value& value) override;

    // Navigation and commands
    void setCurrentScreen (juce::String name);
    void setCurrentSubScreen (juce::String name);
    void loadPatch();
    void initPatch();

    // Live displays
    void updateTimecodeDisplay (juce::AudioPlayHead::CurrentPositionInfo info);
    static juce::String timeToTimecodeString (double seconds);
    static juce::String quarterNotePositionToBarsBeatsString (double quarterNotes, int numerator, int denominator);
    void updateMeterValues();
    void updateVUValues();

    // Labels, menus and activation
    void updateSmartLabels();
    void updateOscTypes (bool fromTimer);
    void updateLockVol();
    void toggleLockVol();
    void updateButtons();

    void setThemeTweaks();

    // Zoom: the whole editor scaled as one, its layout in design coordinates.
    static constexpr std::array<int, 5> zoomSteps { 75, 100, 125, 150, 200 };
    /** Scales the editor to percent (one of zoomSteps; anything else is
        ignored) and, when remember is set, keeps the choice for later runs. */
    void setZoom (int percent, bool remember);
    int getZoom() const noexcept { return zoomPercent; }
    /** The host's scale (plug-ins); the editor's zoom applies on top of it. */
    void setScaleFactor (float newScale) override;
    /** Where the chosen zoom is kept: one number in the maker folder. */
    static juce::File zoomFile (const OAFileIO& io);
    /** The stored zoom, or 100 when none is stored or what is stored is not a step. */
    static int readStoredZoom (const OAFileIO& io);
    void showZoomMenu();

    /** The two link targets of the header. */
    static constexpr const char* communityUrl = "https://discord.com/invite/orbelaudio";
    static constexpr const char* makerUrl = "https://orbelaudio.github.io";

    //==============================================================================
    juce::TooltipWindow tooltipWindow { this, 700 };
    LayoutMetrics metrics;
    kvAP& processor;
    ComponentList mainComponents, envComponents, lfo1Components, lfo2Components, varComponents;
    juce::String currentScreen { "main" };
    juce::String currentSubScreen { "env" };
    juce::MidiKeyboardComponent keyboard { processor.keyboardState, juce::MidiKeyboardComponent::horizontalKeyboard };
    juce::Label timecodeLabel, tempoLabel;
    juce::ImageButton discordBtn { "discordBtn" };
    bool bgVisAttached = true;

    juce::String synth1_pIds[2] { "synth1_param1", "synth1_param2" };
    SliderGroup synth1_pGroup { "synth1_pGroup", processor, synth1_pIds, 2 };
    juce::String synth1_adsrIds[4] { "synth1_attack", "synth1_decay", "synth1_sustain", "synth1_release" };
    SliderGroup synth1_adsrGroup { "synth1_adsrGroup", processor, synth1_adsrIds, 4 };
    juce::String synth1_tuneIds[2] { "synth1_tune", "synth1_microtune" };
    SliderGroup synth1_tuneGroup { "synth1_tuneGroup", processor, synth1_tuneIds, 2 };
    juce::String synth1_utilIds[2] { "synth1_noise", "synth1_volume" };
    SliderGroup synth1_utilGroup { "synth1_utilGroup", processor, synth1_utilIds, 2 };
    juce::TextButton osc1MenuBtn;

    juce::String synth2_pIds[2] { "synth2_param1", "synth2_param2" };
    SliderGroup synth2_pGroup { "synth2_pGroup", processor, synth2_pIds, 2 };
    juce::String synth2_adsrIds[4] { "synth2_attack", "synth2_decay", "synth2_sustain", "synth2_release" };
    SliderGroup synth2_adsrGroup { "synth2_adsrGroup", processor, synth2_adsrIds, 4 };
    juce::String synth2_tuneIds[2] { "synth2_tune", "synth2_microtune" };
    SliderGroup synth2_tuneGroup { "synth2_tuneGroup", processor, synth2_tuneIds, 2 };
    juce::String synth2_utilIds[2] { "synth2_noise", "synth2_volume" };
    SliderGroup synth2_utilGroup { "synth2_utilGroup", processor, synth2_utilIds, 2 };
    juce::TextButton osc2MenuBtn;

    juce::String filterIds[2] { "cutoff", "res" };
    SliderGroup filterGroup { "filterGroup", processor, filterIds, 2 };
    juce::Slider masterVolSlider;
    juce::TextButton limiterBtn;
    juce::AudioProcessorValueTreeState::SliderAttachment masterVolAttachment { processor.apvts, "masterVol", masterVolSlider };

    juce::String env1_adsrIds[4] { "env1_attack", "env1_decay", "env1_sustain", "env1_release" };
    SliderGroup env1_adsrGroup { "env1_adsrGroup", processor, env1_adsrIds, 4 };
    juce::String env1_factorIds[1] { "env1_factor" };
    AutomationMappingGroup env1Mapping { processor, "env1_mappedParam", "env1_retrig", env1_factorIds };
    juce::String env2_adsrIds[4] { "env2_attack", "env2_decay", "env2_sustain", "env2_release" };
    SliderGroup env2_adsrGroup { "env2_adsrGroup", processor, env2_adsrIds, 4 };
    juce::String env2_factorIds[1] { "env2_factor" };
    AutomationMappingGroup env2Mapping { processor, "env2_mappedParam", "env2_retrig", env2_factorIds };

    juce::TextButton lfo1MenuBtn;
    juce::String lfo1_pIds[2] { "lfo1_param1", "lfo1_param2" };
    SliderGroup lfo1_pGroup { "lfo1_pGroup", processor, lfo1_pIds, 2 };
    juce::String lfo1_adsrIds[4] { "lfo1_attack", "lfo1_decay", "lfo1_sustain", "lfo1_release" };
    SliderGroup lfo1_adsrGroup { "lfo1_adsrGroup", processor, lfo1_adsrIds, 4 };
    juce::String lfo1_tuneIds[2] { "lfo1_tune", "lfo1_microtune" };
    SliderGroup lfo1_tuneGroup { "lfo1_tuneGroup", processor, lfo1_tuneIds, 2 };
    juce::String lfo1_rateIds[1] { "lfo1_rate" };
    SliderGroup lfo1_rateSlider { "lfo1_rateSlider", processor, lfo1_rateIds, 1 };
    juce::String lfo1_factorIds[1] { "lfo1_factor" };
    AutomationMappingGroup lfo1Mapping { processor, "lfo1_mappedParam", "lfo1_retrigAuto", lfo1_factorIds };

    juce::TextButton lfo2MenuBtn;
    juce::String lfo2_pIds[2] { "lfo2_param1", "lfo2_param2" };
    SliderGroup lfo2_pGroup { "lfo2_pGroup", processor, lfo2_pIds, 2 };
    juce::String lfo2_adsrIds[4] { "lfo2_attack", "lfo2_decay", "lfo2_sustain", "lfo2_release" };
    SliderGroup lfo2_adsrGroup { "lfo2_adsrGroup", processor, lfo2_adsrIds, 4 };
    juce::String lfo2_tuneIds[2] { "lfo2_tune", "lfo2_microtune" };
    SliderGroup lfo2_tuneGroup { "lfo2_tuneGroup", processor, lfo2_tuneIds, 2 };
    juce::String lfo2_rateIds[1] { "lfo2_rate" };
    SliderGroup lfo2_rateSlider { "lfo2_rateSlider", processor, lfo2_rateIds, 1 };
    juce::String lfo2_factorIds[1] { "lfo2_factor" };
    AutomationMappingGroup lfo2Mapping { processor, "lfo2_mappedParam", "lfo2_retrigAuto", lfo2_factorIds };

    juce::String adsrTimeIds[1] { "adsrTime" };
    SliderGroup adsrTimeSlider { "adsrTimeSlider", processor, adsrTimeIds, 1 };
    juce::String filterQIds[1] { "filterQMax" };
    SliderGroup filterQSlider { "filterQSlider", processor, filterQIds, 1 };
    juce::String synth1_voiceIds[2] { "synth1_unison", "synth1_detune" };
    SliderGroup synth1_voiceGroup { "synth1_voiceGroup", processor, synth1_voiceIds, 2 };
    juce::String synth2_voiceIds[2] { "synth2_unison", "synth2_detune" };
    SliderGroup synth2_voiceGroup { "synth2_voiceGroup", processor, synth2_voiceIds, 2 };
    juce::String velocityIds[3] { "velMin", "velMax", "velGain" };
    SliderGroup velocityGroup { "velocityGroup", processor, velocityIds, 3 };
    juce::String glideIds[2] { "synth1_glide", "synth2_glide" };
    SliderGroup glideGroup { "glideGroup", processor, glideIds, 2 };
    juce::String panIds[2] { "synth1_pan", "synth2_pan" };
    SliderGroup panGroup { "panGroup", processor, panIds, 2 };
    juce::String overdriveIds[1] { "fx_overdrive" };
    SliderGroup overdriveGroup { "overdriveGroup", processor, overdriveIds, 1 };

    juce::ImageButton bugReportBtn { "bugReportBtn" };
    juce::ImageButton numberModeBtn;
    bool numberMode = false;
    juce::TextButton envTab, lfo1Tab, lfo2Tab, varTab;
    juce::ImageButton infoBtn, settingsBtn;
    juce::ImageButton savePatchBtn { "savePatchBtn" }, resetPatchBtn { "resetPatchBtn" }, initPatchBtn { "initPatchBtn" },
                      randomizePatchBtn { "randomizePatchBtn" }, loadPatchBtn { "loadPatchBtn" };
    juce::ImageButton makerLogoBtn;
    Shade shade;
    ScopeScan scopeScan;
    ScreenSave saveScreen { processor };
    ScreenLoad loadScreen { processor };
    ScreenMap mapScreen { processor };
    ScreenOsc oscScreen { processor };
    ScreenSettings settingsScreen { processor };
    OAMotdScreen motdScreen;
    int keyboardOctave = 5;
    OAMeter levelMeter;
    OAVULogo vuLogo;
    BgGLVis bgVis;
    juce::Value editorWidth, editorHeight;
    OAScopeComponent<float> scope { processor };
    int timerHz = 30;

private:
    /** One grid column, row and width of n columns (panels overlap by 2p - 1). */
    int gridX (int column) const;
    int gridY (int row) const;
    int gridW (int columns) const;

    void setUpImageButton (juce::ImageButton& button, const char* resourceName, int width, int height, const juce::String& tooltip);
    void configureGroup (SliderGroup& group, std::initializer_list<const char*> labels, const char* title, bool alt);
    void activateSlider (SliderGroup& group, int index);
    void deactivateSlider (SliderGroup& group, int index);
    juce::String settingOr (const juce::String& key, const juce::String& fallback) const;
    void paintBrackets (juce::Graphics& g);
    void showStartupMessage();
    std::array<SliderGroup*, 30> numberModeGroups();

    int zoomPercent = 100;
    float hostScale = 1.0f;
    void applyScale();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (kvAPE)
};
