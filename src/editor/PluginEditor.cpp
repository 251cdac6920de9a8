#include "PluginEditor.h"

#include "TransportText.h"

#include "diagnostics/Notices.h"
#include "state/Version.h"

#include <BinaryData.h>

#include <cmath>

namespace
{
    juce::Image imageResource (const char* name)
    {
        int size = 0;
        if (const auto* data = BinaryData::getNamedResource (name, size))
            return juce::ImageCache::getFromMemory (data, size);
        return {};
    }

    bool startsWithF (const juce::String& text)
    {
        return text.toLowerCase().startsWith ("f");
    }
}

//==============================================================================
kvAPE::kvAPE (kvAP& owner)
    : juce::AudioProcessorEditor (owner),
      processor (owner)
{
    vuLogo.logo = imageResource ("logoLRG_png"); // before the first layout, which scales it to the logo's size
    setSize (2 * metrics.spacing + (10 * metrics.spacing - 1 + 1000), designHeight);

    auto& theme = processor.theme;
    theme.setTheme (this);

    bgVis.context.attachTo (*this);
    bgVis.bgColour = theme.getBg (1);
    bgVis.fgColour = theme.getBg2 (1);
    bgVis.fgColour2 = theme.getMain (1);

    configureGroup (synth1_adsrGroup, { "ATK", "DEC", "SUS", "REL" }, "adsr envelope", true);
    configureGroup (synth1_tuneGroup, { "SEM", "CEN" }, "tune", true);
    synth1_tuneGroup.addActionListener (this);
    configureGroup (synth1_utilGroup, { "NOI", "VOL" }, "util", true);
    configureGroup (synth1_pGroup, { "Y_Y", "Z_Z" }, "osc params", true);

    addAndMakeVisible (osc1MenuBtn);
    mainComponents.add (&osc1MenuBtn);
    osc1MenuBtn.addListener (this);

    configureGroup (synth2_adsrGroup, { "ATK", "DEC", "SUS", "REL" }, "adsr envelope", true);
    configureGroup (synth2_tuneGroup, { "SMI", "CNT" }, "tune", true);
    synth2_tuneGroup.addActionListener (this);
    configureGroup (synth2_utilGroup, { "NOI", "VOL" }, "util", true);
    synth2_utilGroup.buttons[1].setVisible (true); // the lock-volume button under the volume knob
    synth2_utilGroup.addActionListener (this);
    configureGroup (synth2_pGroup, { "Y_Y", "Z_Z" }, "osc params", true);

    addAndMakeVisible (osc2MenuBtn);
    mainComponents.add (&osc2MenuBtn);
    osc2MenuBtn.addListener (this);

    configureGroup (filterGroup, { "CUT", "RES" }, "filter", false);
    mainComponents.add (&filterGroup);
    filterGroup.addActionListener (this);

    addAndMakeVisible (levelMeter);
    levelMeter.mode = OAMeter::horizontalBar;
    levelMeter.background = theme.getBg (2);
    levelMeter.cornerSize = 4;
    mainComponents.add (&levelMeter);

    addAndMakeVisible (masterVolSlider);
    masterVolSlider.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
    mainComponents.add (&masterVolSlider);

    const int icon = metrics.iconSize;
    const int bigIcon = (int) (1.5 * metrics.iconSize);
    setUpImageButton (numberModeBtn, "numbers_png", icon, icon, "number mode");
    setUpImageButton (infoBtn, "logo_png", bigIcon, bigIcon, "information");
    setUpImageButton (makerLogoBtn, "oa_logo_png", 165, 28, "orbelaudio.github.io");
    setUpImageButton (settingsBtn, "gear_png", bigIcon, bigIcon, "settings");
    for (auto* button : { &numberModeBtn, &infoBtn, &makerLogoBtn, &settingsBtn })
        mainComponents.add (button);

    setUpImageButton (initPatchBtn, "init_png", icon, icon, "init patch");
    setUpImageButton (resetPatchBtn, "reset_png", icon, icon, "reset patch");
    setUpImageButton (savePatchBtn, "save_png", icon, icon, "save patch");
    setUpImageButton (randomizePatchBtn, "dice_png", icon, icon, "randomize patch");
    setUpImageButton (loadPatchBtn, "load_png", icon, icon, "load patch");
    setUpImageButton (bugReportBtn, "bug_png", icon, icon, "bug report");
    mainComponents.add (&bugReportBtn);
    setUpImageButton (discordBtn, "discord_logo_png", icon, icon, "discord");

    addAndMakeVisible (timecodeLabel);
    timecodeLabel.setFont (juce::Font (juce::Font::getDefaultMonospacedFontName(), 15.0f, juce::Font::plain));
    addAndMakeVisible (tempoLabel);
    tempoLabel.setFont (OATheme::getCustomFont());

    addAndMakeVisible (vuLogo);
    vuLogo.colourA = theme.getBg2 (4);
    vuLogo.colourB = theme.getMain (4);
    vuLogo.colourC = theme.getBg (24);

    auto uiState = processor.apvts.state.getOrCreateChildWithName ("uiState", nullptr);
    editorWidth.referTo (uiState.getPropertyAsValue ("width", nullptr));
    editorHeight.referTo (uiState.getPropertyAsValue ("height", nullptr));
    editorWidth.addListener (this);
    editorHeight.addListener (this);
    startTimerHz (timerHz);

    addAndMakeVisible (scope);
    {
        const int p = metrics.spacing;
        const int x = 2 * p + (4 * p - 1 + 400) + p;
        const int y = metrics.gridTop + ((p - 1) + (100 + p)) + p;
        const int side = 2 * (100 - p);
        scope.setBounds (x, y, side, side);
        scopeScan.setBounds (x, y, side, side);
    }
    scope.backgroundColour = theme.getBg (1);
    scope.traceColourL = theme.getMain (2);
    scope.traceColourR = OAPallet::buildColour (theme.pallets[theme.currentTheme].accent, 8.0f);
    scope.frameColour = theme.getBg (1);
    scope.intensity = 1.0f;
    mainComponents.add (&scope);
    addAndMakeVisible (scopeScan);
    mainComponents.add (&scopeScan);

    configureGroup (env1_adsrGroup, { "ATK", "DEC", "SUS", "REL" }, "env one", false);
    addAndMakeVisible (env1Mapping);
    env1Mapping.addActionListener (this);
    configureGroup (env2_adsrGroup, { "ATK", "DEC", "SUS", "REL" }, "env two", false);
    addAndMakeVisible (env2Mapping);
    env2Mapping.addActionListener (this);
    for (juce::Component* c : { (juce::Component*) &env1_adsrGroup, (juce::Component*) &env1Mapping,
                                (juce::Component*) &env2_adsrGroup, (juce::Component*) &env2Mapping })
        envComponents.add (c);

    configureGroup (adsrTimeSlider, { "TIM" }, "adsr time", false);
    configureGroup (filterQSlider, { "QUA" }, "filter q max", false);
    configureGroup (velocityGroup, { "MIN", "MAX", "GAN" }, "velocity", false);
    configureGroup (synth1_voiceGroup, { "UNI", "DET" }, "osc one voice", false);
    synth1_voiceGroup.addActionListener (this);
    configureGroup (synth2_voiceGroup, { "UNI", "DET" }, "osc two voice", false);
    synth2_voiceGroup.addActionListener (this);
    configureGroup (panGroup, { "ONE", "TWO" }, "stereo pan", false);
    configureGroup (glideGroup, { "GLA", "GLB" }, "glide", false);
    configureGroup (overdriveGroup, { "ODX" }, "overdrive", false);
    for (auto* group : { &adsrTimeSlider, &filterQSlider, &velocityGroup, &synth1_voiceGroup,
                         &synth2_voiceGroup, &panGroup, &glideGroup, &overdriveGroup })
        varComponents.add (group);

    struct LfoPanels
    {
        juce::TextButton& menu;
        SliderGroup& params;
        SliderGroup& adsr;
        SliderGroup& tune;
        SliderGroup& rate;
        AutomationMappingGroup& mapping;
        ComponentList& list;
    };

    for (auto lfo : { LfoPanels { lfo1MenuBtn, lfo1_pGroup, lfo1_adsrGroup, lfo1_tuneGroup, lfo1_rateSlider, lfo1Mapping, lfo1Components },
                      LfoPanels { lfo2MenuBtn, lfo2_pGroup, lfo2_adsrGroup, lfo2_tuneGroup, lfo2_rateSlider, lfo2Mapping, lfo2Components } })
    {
        addAndMakeVisible (lfo.menu);
        lfo.menu.addListener (this);
        configureGroup (lfo.params, { "Y_Y", "Z_Z" }, "lfo params", false);
        configureGroup (lfo.adsr, { "ATK", "DEC", "SUS", "REL" }, "adsr envelope", false);
        configureGroup (lfo.tune, { "SMI", "CNT" }, "tune", false);
        configureGroup (lfo.rate, { "RTE" }, "rate", false);
        lfo.rate.addActionListener (this);
        addAndMakeVisible (lfo.mapping);
        lfo.mapping.addActionListener (this);
        for (juce::Component* c : { (juce::Component*) &lfo.menu, (juce::Component*) &lfo.params, (juce::Component*) &lfo.adsr,
                                    (juce::Component*) &lfo.tune, (juce::Component*) &lfo.rate, (juce::Component*) &lfo.mapping })
            lfo.list.add (c);
    }

    const std::pair<juce::TextButton*, const char*> tabs[] = { { &envTab, "env" }, { &lfo1Tab, "lfo1" }, { &lfo2Tab, "lfo2" }, { &varTab, "var" } };
    for (auto [tab, text] : tabs)
    {
        addAndMakeVisible (*tab);
        tab->setButtonText (text);
        tab->addListener (this);
        mainComponents.add (tab);
    }

    addAndMakeVisible (limiterBtn);
    limiterBtn.setButtonText ("LMT");
    limiterBtn.addListener (this);
    mainComponents.add (&limiterBtn);

    addAndMakeVisible (keyboard);
    keyboard.addKeyListener (this);
    keyboard.setKeyPressBaseOctave (keyboardOctave);
    mainComponents.add (&keyboard);

    addChildComponent (shade);
    for (juce::Component* screen : { (juce::Component*) &saveScreen, (juce::Component*) &mapScreen, (juce::Component*) &oscScreen,
                                     (juce::Component*) &settingsScreen, (juce::Component*) &loadScreen, (juce::Component*) &motdScreen })
        addChildComponent (screen);
    for (juce::ActionBroadcaster* screen : { (juce::ActionBroadcaster*) &saveScreen, (juce::ActionBroadcaster*) &mapScreen,
                                             (juce::ActionBroadcaster*) &oscScreen, (juce::ActionBroadcaster*) &settingsScreen,
                                             (juce::ActionBroadcaster*) &loadScreen, (juce::ActionBroadcaster*) &motdScreen })
        screen->addActionListener (this);

    motdScreen.textColour = theme.getMain (1);
    motdScreen.boxColour = theme.getBg (0.5f);
    motdScreen.moreInfoButton.setColour (juce::TextButton::buttonColourId, theme.getMain (1));
    motdScreen.moreInfoButton.setColour (juce::TextButton::textColourOffId, theme.getBg (0.5f));
    motdScreen.centreBox (getWidth(), getHeight());
    motdScreen.repaint();

    // The children were placed by the first setSize, before they were added;
    // lay them out again now that every one of them exists.
    resized();

    // Start screen: the message of the day when it is new and wanted.
    const auto storedTag = settingOr ("motdTag", "x");
    motdScreen.requestMotd();
    setCurrentScreen (motdScreen.showsAtStart (storedTag, processor.settings.getBool ("updates")) ? "motd" : "main");
    setCurrentSubScreen ("env");
    updateLockVol();
    updateOscTypes (false);
    setThemeTweaks();
    setZoom (readStoredZoom (processor.fileIO), false);
}

kvAPE::~kvAPE()
{
    stopTimer();

    for (juce::Button* button : { (juce::Button*) &numberModeBtn, (juce::Button*) &infoBtn, (juce::Button*) &makerLogoBtn,
                                  (juce::Button*) &settingsBtn, (juce::Button*) &initPatchBtn, (juce::Button*) &resetPatchBtn,
                                  (juce::Button*) &savePatchBtn, (juce::Button*) &randomizePatchBtn, (juce::Button*) &loadPatchBtn,
                                  (juce::Button*) &bugReportBtn, (juce::Button*) &discordBtn, (juce::Button*) &envTab,
                                  (juce::Button*) &lfo1Tab, (juce::Button*) &lfo2Tab, (juce::Button*) &varTab,
                                  (juce::Button*) &limiterBtn, (juce::Button*) &osc1MenuBtn, (juce::Button*) &osc2MenuBtn,
                                  (juce::Button*) &lfo1MenuBtn, (juce::Button*) &lfo2MenuBtn })
        button->removeListener (this);

    editorWidth.removeListener (this);
    editorHeight.removeListener (this);
    keyboard.removeKeyListener (this);

    // The context renders on its own thread until it is detached; that must
    // end before the component it draws behind goes away.
    bgVis.context.detach();
}

//==============================================================================
void kvAPE::configureGroup (SliderGroup& group, std::initializer_list<const char*> labels, const char* title, bool alt)
{
    addAndMakeVisible (group);
    int i = 0;
    for (auto* label : labels)
        group.labels[(size_t) i++] = label;
    group.title = title;
    if (alt)
        group.setAltTheme();
    else
        group.setBaseTheme();
}

void kvAPE::setUpImageButton (juce::ImageButton& button, const char* resourceName, int width, int height, const juce::String& tooltip)
{
    auto& theme = processor.theme;
    auto image = imageResource (resourceName);
    if (image.isValid())
        image = image.rescaled (width, height, juce::Graphics::highResamplingQuality);

    addAndMakeVisible (button);
    button.setImages (true, true, true,
                      image, 0.005f, theme.getLight (1),
                      image, 0.5f, theme.getAccent (1),
                      image, 0.25f, theme.getLight (2),
                      0.0f);
    button.setAlpha (0.5f);
    button.addListener (this);
    button.setTooltip (tooltip);
}

juce::String kvAPE::settingOr (const juce::String& key, const juce::String& fallback) const
{
    const auto& values = processor.settings.values;
    const auto found = values.find (key);
    return found != values.end() ? found->second : fallback;
}

int kvAPE::gridX (int column) const
{
    const float p = (float) metrics.spacing;
    return (int) ((float) column * p - 1.0f + 100.0f * (float) column);
}

int kvAPE::gridY (int row) const
{
    const float p = (float) metrics.spacing;
    return (int) ((float) metrics.gridTop + ((float) row * p - 1.0f + (100.0f * (float) row + p)));
}

int kvAPE::gridW (int columns) const
{
    const float p = (float) metrics.spacing;
    return (int) (2.0f * p + ((float) columns * p - 1.0f + 100.0f * (float) columns));
}

void kvAPE::resized()
{
    const int W = getWidth(), H = getHeight();
    const int p = metrics.spacing, u = metrics.unit, b = metrics.barSize;
    const int mappingHeight = 2 * p - 1 + (200 + p);

    keyboard.setBounds (0, H - b, W, b);
    vuLogo.setBounds ((int) ((float) W * 0.5f - 150.0f), gridY (3), 300, 300);
    bgVis.setBounds (0, 0, W, H);

    osc1MenuBtn.setBounds (2 * p + gridX (0), 2 * u + gridY (0), 200, 2 * u);
    synth1_tuneGroup.setBounds (gridX (2), gridY (0), gridW (2), 100);
    synth1_adsrGroup.setBounds (gridX (0), gridY (1), gridW (4), 100);
    synth1_pGroup.setBounds (gridX (0), gridY (2), gridW (2), 100);
    synth1_utilGroup.setBounds (gridX (2), gridY (2), gridW (2), 100);

    osc2MenuBtn.setBounds (2 * p + gridX (8), 2 * u + gridY (0), 200, 2 * u);
    synth2_tuneGroup.setBounds (gridX (6), gridY (0), gridW (2), 100);
    synth2_adsrGroup.setBounds (gridX (6), gridY (1), gridW (4), 100);
    synth2_pGroup.setBounds (gridX (6), gridY (2), gridW (2), 100);
    synth2_utilGroup.setBounds (gridX (8), gridY (2), gridW (2), 100);

    filterGroup.setBounds (gridX (4), gridY (0), gridW (2), 100);

    env1_adsrGroup.setBounds (gridX (0), gridY (3), gridW (4), 100);
    env1Mapping.setBounds (gridX (0), gridY (4), gridW (4), mappingHeight);
    env2_adsrGroup.setBounds (gridX (6), gridY (3), gridW (4), 100);
    env2Mapping.setBounds (gridX (6), gridY (4), gridW (4), mappingHeight);

    synth1_voiceGroup.setBounds (gridX (6), gridY (3), gridW (2), 100);
    synth2_voiceGroup.setBounds (gridX (6), gridY (4), gridW (2), 100);
    adsrTimeSlider.setBounds (gridX (9), gridY (3), gridW (1), 100);
    filterQSlider.setBounds (gridX (9), gridY (4), gridW (1) - 8, 100);
    velocityGroup.setBounds (gridX (0), gridY (3), gridW (3), 100);
    overdriveGroup.setBounds (gridX (3), gridY (3), gridW (1), 100);
    panGroup.setBounds (gridX (0), gridY (4), gridW (2), 100);
    glideGroup.setBounds (gridX (2), gridY (4), gridW (2), 100);

    for (auto* menu : { &lfo1MenuBtn, &lfo2MenuBtn })
        menu->setBounds (2 * p + gridX (0), 2 * u + gridY (3), 200, 2 * u);
    for (auto* group : { &lfo1_pGroup, &lfo2_pGroup })
        group->setBounds (gridX (2), gridY (3), gridW (2), 100);
    for (auto* group : { &lfo1_adsrGroup, &lfo2_adsrGroup })
        group->setBounds (gridX (0), gridY (4), gridW (4), 100);
    for (auto* group : { &lfo1_tuneGroup, &lfo2_tuneGroup })
        group->setBounds (gridX (6), gridY (3), gridW (2), 100);
    for (auto* group : { &lfo1_rateSlider, &lfo2_rateSlider })
        group->setBounds (gridX (8), gridY (3), gridW (1), 100);
    for (auto* mapping : { &lfo1Mapping, &lfo2Mapping })
        mapping->setBounds (gridX (6), gridY (4), gridW (4), mappingHeight);

    numberModeBtn.setBounds (W - p - 100, p, b, 2 * u);
    settingsBtn.setBounds (W - p - b, p, b, 2 * u);
    infoBtn.setBounds (p, p, 3 * u, 3 * u);
    makerLogoBtn.setTopLeftPosition (7 * p + (int) (2 * p + (p - 1 + 100)), p);
    randomizePatchBtn.setBounds (W - p - 3 * b, p, b, 2 * u);
    savePatchBtn.setBounds (W - p - 4 * b, p, b, 2 * u);
    loadPatchBtn.setBounds (W - p - 5 * b, p, b, 2 * u);
    resetPatchBtn.setBounds (W - p - 6 * b, p, b, 2 * u);
    initPatchBtn.setBounds (W - p - 7 * b, p, b, 2 * u);

    int k = 0;
    for (auto* tab : { &envTab, &lfo1Tab, &lfo2Tab, &varTab })
        tab->setBounds (2 * p + gridX (k++), H - b - 2 * u, 100, 2 * u);

    masterVolSlider.setBounds (W / 2 - 100, gridY (3) - b - p, 200, 100);
    levelMeter.setBounds (W / 2 - 100, (int) ((float) metrics.gridTop + (3.4f * (float) p - 1.0f + (340.0f + (float) p))) - b - p, 200, 12);
    limiterBtn.setBounds ((int) ((float) W * 0.5f + 65.0f), (int) ((float) H * 0.5f + 35.0f), 50, 33);

    shade.setBounds (0, 0, W, H);
    motdScreen.setBounds (0, 0, W, H);
    motdScreen.centreBox (W, H); // the message box and its two buttons in the middle
    for (juce::Component* screen : { (juce::Component*) &saveScreen, (juce::Component*) &loadScreen, (juce::Component*) &settingsScreen })
        screen->setBounds (324, 64, W - 648, H - 128);
    mapScreen.setBounds (64, 64, W - 128, H - 128);
    oscScreen.setBounds (64, 64, W - 128, H - 128);

    discordBtn.setBounds (metrics.iconSize + 2 * metrics.iconGap, p, metrics.iconSize, metrics.iconSize);
    bugReportBtn.setBounds (3 * metrics.iconGap + 2 * metrics.iconSize, p, metrics.iconSize, metrics.iconSize);

    // The processor's state remembers the editor's size.
    editorWidth = getWidth();
    editorHeight = getHeight();
}

//==============================================================================
// Navigation and commands

void kvAPE::setCurrentScreen (juce::String name)
{
    currentScreen = name;

    for (juce::Component* screen : { (juce::Component*) &saveScreen, (juce::Component*) &loadScreen, (juce::Component*) &settingsScreen,
                                     (juce::Component*) &motdScreen, (juce::Component*) &mapScreen, (juce::Component*) &oscScreen })
        screen->setVisible (false);

    shade.setVisible (true);

    auto showOverlay = [] (juce::Component& screen)
    {
        screen.setVisible (true);
        screen.toFront (false);
    };

    if (name == "main")
    {
        shade.setVisible (false);
        mainComponents.setVisible (true);
    }

    if (name == "savePatch")
        showOverlay (saveScreen);
    else if (name == "loadPatch")
        showOverlay (loadScreen);
    else if (name == "settings")
        showOverlay (settingsScreen);

    if (name == "motd")
    {
        mainComponents.setVisible (true);
        showOverlay (motdScreen);
    }

    if (name == "map")
        showOverlay (mapScreen);
    else if (name == "osc")
        showOverlay (oscScreen);

    repaint();
}

void kvAPE::setCurrentSubScreen (juce::String name)
{
    currentSubScreen = name;

    for (auto* list : { &envComponents, &lfo1Components, &lfo2Components, &varComponents })
        list->setVisible (false);

    for (auto* tab : { &envTab, &lfo1Tab, &lfo2Tab, &varTab })
        tab->setColour (juce::TextButton::buttonColourId, processor.theme.getBg (1));

    const std::tuple<const char*, ComponentList*, juce::TextButton*> rows[] = {
        { "env", &envComponents, &envTab },
        { "lfo", &lfo1Components, &lfo1Tab },
        { "lfo2", &lfo2Components, &lfo2Tab },
        { "var", &varComponents, &varTab },
    };

    for (auto [rowName, list, tab] : rows)
    {
        if (name == rowName)
        {
            list->setVisible (true);
            tab->setColour (juce::TextButton::buttonColourId, processor.theme.getBg (10));
        }
    }

    repaint();
}

std::array<SliderGroup*, 30> kvAPE::numberModeGroups()
{
    return { &synth1_tuneGroup, &synth1_adsrGroup, &synth1_pGroup, &synth1_utilGroup,
             &synth2_tuneGroup, &synth2_adsrGroup, &synth2_pGroup, &synth2_utilGroup,
             &env1_adsrGroup, &env1Mapping.factorGroup, &env2_adsrGroup, &env2Mapping.factorGroup,
             &lfo1_pGroup, &lfo1_adsrGroup, &lfo1_tuneGroup, &lfo1_rateSlider, &lfo1Mapping.factorGroup,
             &lfo2_pGroup, &lfo2_adsrGroup, &lfo2_tuneGroup, &lfo2_rateSlider, &lfo2Mapping.factorGroup,
             &velocityGroup, &synth1_voiceGroup, &synth2_voiceGroup, &adsrTimeSlider, &filterQSlider,
             &filterGroup, &overdriveGroup, &panGroup };
}

void kvAPE::buttonClicked (juce::Button* button)
{
    const auto fileIO = processor.fileIO;

    if (button == &numberModeBtn)
    {
        numberMode = ! numberMode;
        for (auto* group : numberModeGroups())
            group->setSliderMode (numberMode ? SliderGroup::numberMode : SliderGroup::knobMode);
    }
    else if (button == &infoBtn)
    {
    }
    else if (button == &randomizePatchBtn)
    {
        processor.randomizePatch();
        updateLockVol();
        repaint();
        updateOscTypes (false);
    }
    else if (button == &resetPatchBtn)
    {
        if (loadScreen.loadByName (processor.patchName, fileIO))
        {
            updateLockVol();
            repaint();
            updateOscTypes (false);
        }
        else
        {
            Notices::show ("Can't find a patch with this name...", "hmm", {});
        }
    }
    else if (button == &initPatchBtn)
    {
        initPatch();
    }
    else if (button == &savePatchBtn)
    {
        saveScreen.nameEditor.setText (processor.patchName, true);
        setCurrentScreen ("savePatch");
    }
    else if (button == &loadPatchBtn)
    {
        loadScreen.buildPatchList (fileIO);
        setCurrentScreen ("loadPatch");
    }
    else if (button == &settingsBtn)
    {
        setCurrentScreen ("settings");
    }
    else if (button == &discordBtn)
    {
        juce::URL (communityUrl).launchInDefaultBrowser();
    }
    else if (button == &makerLogoBtn)
    {
        juce::URL (makerUrl).launchInDefaultBrowser();
    }
    else if (button == &bugReportBtn)
    {
        processor.writeReport ("bug");
    }
    else if (button == &limiterBtn)
    {
        const auto v = processor.apvts.getParameter ("limiter")->getValue();
        processor.apvts.getParameterAsValue ("limiter") = v > 0.5f ? 0.0f : 1.0f;
    }
    else if (button == &envTab)
    {
        setCurrentSubScreen ("env");
    }
    else if (button == &lfo1Tab)
    {
        setCurrentSubScreen ("lfo");
    }
    else if (button == &lfo2Tab)
    {
        setCurrentSubScreen ("lfo2");
    }
    else if (button == &varTab)
    {
        setCurrentSubScreen ("var");
    }
    else
    {
        const std::pair<juce::Button*, const char*> menus[] = {
            { &osc1MenuBtn, "synth1_oscType" }, { &osc2MenuBtn, "synth2_oscType" },
            { &lfo1MenuBtn, "lfo1_oscType" }, { &lfo2MenuBtn, "lfo2_oscType" },
        };

        for (auto [menu, key] : menus)
        {
            if (button == menu)
            {
                oscScreen.targetKey = key;
                setCurrentScreen ("osc");
                break;
            }
        }
    }
}

void kvAPE::actionListenerCallback (const juce::String& message)
{
    const int i = message.indexOf (".");
    const auto sender = message.substring (0, i < 0 ? 0 : i);
    const auto rest = message.substring (i + 1);
    const int j = rest.indexOf (".");
    const auto action = j < 0 ? rest : rest.substring (0, j);
    const int value = j < 0 ? 0 : rest.substring (j + 1).getIntValue();
    const auto fileIO = processor.fileIO;

    if (sender == "motd")
    {
        setCurrentScreen ("main");
        processor.settings.values["motdTag"] = action;
        processor.settings.save (fileIO);
    }

    if (sender == "saveScreen" && action == "exit")
    {
        processor.settings.save (fileIO);
        setCurrentScreen ("main");
    }

    if (sender == "loadScreen" && action == "exit")
        setCurrentScreen ("main");

    if (sender == "loadScreen" && action == "loaded_patch")
        loadPatch();

    if (sender == "settingsScreen" && action == "exit")
        setCurrentScreen ("main");

    if (sender == "settingsScreen" && action == "motd")
        setCurrentScreen ("motd");

    if (sender == "synth2_utilGroup" && action == "btnClicked" && value == 1)
        toggleLockVol();

    if (sender == "mapScreen" && action == "exit")
        setCurrentScreen ("main");

    if (sender == "oscScreen" && action == "exit")
    {
        updateOscTypes (false);
        setCurrentScreen ("main");
    }

    if (sender == "showScreenMap")
    {
        mapScreen.targetKey = action;
        setCurrentScreen ("map");
    }
}

bool kvAPE::keyPressed (const juce::KeyPress& key, juce::Component*)
{
    const auto code = key.getKeyCode();

    if (code == 'z' || code == 'Z')
    {
        keyboardOctave = juce::jmax (0, keyboardOctave - 1);
        keyboard.setKeyPressBaseOctave (keyboardOctave);
    }
    else if (code == 'x' || code == 'X')
    {
        keyboardOctave = juce::jmin (10, keyboardOctave + 1);
        keyboard.setKeyPressBaseOctave (keyboardOctave);
    }

    return true;
}

void kvAPE::valueChanged (juce::Value&)
{
    // The window is one fixed design: a size held by a saved state (an old
    // patch says 400 x 200, a damaged one anything at all) is not applied;
    // the state is given the real size back instead.
    if ((int) editorWidth.getValue() != getWidth() || (int) editorHeight.getValue() != getHeight())
    {
        setSize (designWidth, designHeight);
        editorWidth = getWidth();
        editorHeight = getHeight();
    }
}

void kvAPE::mouseDown (const juce::MouseEvent& event)
{
    keyboard.grabKeyboardFocus();

    if (event.mods.isPopupMenu())
        showZoomMenu();
}

//==============================================================================
// Zoom

juce::File kvAPE::zoomFile (const OAFileIO& io)
{
    return io.makerFolder.getChildFile ("Korvane.zoom");
}

int kvAPE::readStoredZoom (const OAFileIO& io)
{
    const auto file = zoomFile (io);
    if (! file.existsAsFile() || file.getSize() > 16)
        return 100;

    const auto text = file.loadFileAsString().trim();
    const int percent = text.getIntValue();
    const bool isStep = std::find (zoomSteps.begin(), zoomSteps.end(), percent) != zoomSteps.end();
    return isStep && text == juce::String (percent) ? percent : 100;
}

void kvAPE::setZoom (int percent, bool remember)
{
    if (std::find (zoomSteps.begin(), zoomSteps.end(), percent) == zoomSteps.end())
        return;

    zoomPercent = percent;
    applyScale();

    if (remember)
    {
        const auto file = zoomFile (processor.fileIO);
        if (! file.getParentDirectory().createDirectory() || ! OAFileIO::writeTextFileAtomically (file, juce::String (percent)))
            Notices::show ("Bummer...", "Couldn't remember the zoom in " + file.getFullPathName(), "ok");
    }
}

void kvAPE::setScaleFactor (float newScale)
{
    // Hosts report their display scale here; keep what is usable.
    hostScale = std::isfinite (newScale) && newScale > 0.1f && newScale < 10.0f ? newScale : 1.0f;
    applyScale();
}

void kvAPE::applyScale()
{
    juce::AudioProcessorEditor::setScaleFactor (hostScale * (float) zoomPercent / 100.0f);
}

void kvAPE::showZoomMenu()
{
    juce::PopupMenu menu;
    menu.addSectionHeader ("zoom");
    for (auto percent : zoomSteps)
        menu.addItem (percent, juce::String (percent) + " %", true, percent == zoomPercent);

    menu.showMenuAsync (juce::PopupMenu::Options().withTargetComponent (this).withMousePosition(),
                        [safe = juce::Component::SafePointer<kvAPE> (this)] (int chosen) {
                            if (safe != nullptr && chosen > 0)
                                safe->setZoom (chosen, true);
                        });
}

void kvAPE::hostMIDIControllerIsAvailable (bool controllerIsAvailable)
{
    keyboard.setVisible (! controllerIsAvailable);
}

void kvAPE::loadPatch()
{
    updateLockVol();
    saveScreen.nameEditor.setText (processor.patchName, true);
    updateOscTypes (false);
    repaint();
}

void kvAPE::initPatch()
{
    processor.loadDefaultPatch ("Init[OA]", true);
    saveScreen.nameEditor.setText (processor.patchName, true);
    updateOscTypes (false);
    repaint();
}

//==============================================================================
// Live displays

void kvAPE::timerCallback()
{
    juce::AudioPlayHead::CurrentPositionInfo position;
    {
        const juce::SpinLock::ScopedLockType lock (processor.positionLock);
        position = processor.lastPosInfo;
    }

    updateTimecodeDisplay (position);
    updateSmartLabels();
    updateMeterValues();
    updateVUValues();
    updateButtons();
    updateOscTypes (true);

    shade.tick += 1;
    if (shade.tick % 8 == 0)
    {
        shade.offset = (shade.tick / 8) % 16;
        shade.repaint();
    }

    scopeScan.tick += 1;
    scopeScan.offset = (scopeScan.tick / 8) % 16;

    if (bgVisAttached)
        bgVis.requestFrame();

    const bool show = ! startsWithF (settingOr ("showBgVis", "true"));
    if (show != bgVisAttached)
    {
        bgVisAttached = show;
        if (show)
            bgVis.context.attachTo (*this);
        else
            bgVis.context.detach();
        repaint();
    }
}

void kvAPE::updateTimecodeDisplay (juce::AudioPlayHead::CurrentPositionInfo info)
{
    timecodeLabel.setText (TransportText::timecodeLabelText (info), juce::dontSendNotification);
    tempoLabel.setText (TransportText::tempoLabelText (info), juce::dontSendNotification);
}

juce::String kvAPE::timeToTimecodeString (double seconds)
{
    return TransportText::timeToTimecodeString (seconds);
}

juce::String kvAPE::quarterNotePositionToBarsBeatsString (double quarterNotes, int numerator, int denominator)
{
    return TransportText::quarterNotePositionToBarsBeatsString (quarterNotes, numerator, denominator);
}

void kvAPE::updateMeterValues()
{
    auto& values = processor.renderValues;
    const std::tuple<AutomationMappingGroup*, float, float> panels[] = {
        { &lfo1Mapping, values.lfo1Value.load(), values.lfo1Level.load() },
        { &lfo2Mapping, values.lfo2Value.load(), values.lfo2Level.load() },
        { &env1Mapping, values.env1Value.load(), values.env1Level.load() },
        { &env2Mapping, values.env2Value.load(), values.env2Level.load() },
    };

    const auto& params = processor.paramMan.paramsById;
    for (auto [panel, value, level] : panels)
    {
        panel->valueMeter.setValue (value);
        panel->levelMeter.setValue (level);

        // An id the table does not know (an empty or foreign entry) maps
        // nothing, which is what "None" says.
        const auto found = params.find (processor.getModMap (panel->mapKey));
        const auto text = found != params.end() ? found->second.displayName : juce::String ("None");
        if (panel->targetButton.getButtonText() != text)
            panel->targetButton.setButtonText (text);
    }
}

void kvAPE::updateVUValues()
{
    double peaks[2] = { 0.0, 0.0 };
    if (processor.historyFull && processor.historyLength > 0)
    {
        for (size_t ring = 0; ring < 2; ++ring)
        {
            const auto& history = processor.peakHistory[ring];
            const auto n = juce::jmin ((size_t) processor.historyLength, history.size());
            for (size_t i = 0; i < n; ++i)
                peaks[ring] = juce::jmax (peaks[ring], std::abs (history[i]));
        }
    }

    const float p0 = (float) peaks[0], p1 = (float) peaks[1];
    const float mean = (p0 + p1) * 0.5f;

    vuLogo.overload = p0 > 1.0f || p1 > 1.0f;

    const float width = (float) vuLogo.getWidth();
    const int oldPixel = (int) std::round (vuLogo.levelL * width);
    vuLogo.levelL = juce::jlimit (0.0f, 1.0f, p1);
    vuLogo.levelR = juce::jlimit (0.0f, 1.0f, p0);
    if ((int) std::round (vuLogo.levelL * width) != oldPixel || (int) std::round (vuLogo.levelR * width) != oldPixel)
        vuLogo.repaint();

    bgVis.sampleL = p0;
    bgVis.sampleR = p1;
    bgVis.sampleAvg = mean;

    levelMeter.setValue (mean);
    levelMeter.foreground = mean >= 1.001f ? juce::Colours::red : processor.theme.getMain (1);
}

//==============================================================================
// Labels, menus and activation

void kvAPE::updateSmartLabels()
{
    auto setAlt = [] (SliderGroup& group, int index, const juce::String& text)
    {
        if (index < group.altLabels.size())
            group.altLabels.set (index, text);
        else
            group.altLabels.add (text);
    };

    auto& values = processor.renderValues;
    setAlt (synth1_tuneGroup, 0, juce::String (values.synth1TuneSemi.load()));
    setAlt (synth1_tuneGroup, 1, juce::String (std::floor (100.0f * values.synth1TuneCent.load())));
    setAlt (synth2_tuneGroup, 0, juce::String (values.synth2TuneSemi.load()));
    setAlt (synth2_tuneGroup, 1, juce::String (std::floor (100.0f * values.synth2TuneCent.load())));
    setAlt (synth1_voiceGroup, 0, juce::String (values.synth1Unison.load()));
    setAlt (synth2_voiceGroup, 0, juce::String (values.synth2Unison.load()));
    setAlt (lfo1_rateSlider, 0, processor.getLfoRateText (1));
    setAlt (lfo2_rateSlider, 0, processor.getLfoRateText (2));
    setAlt (filterGroup, 0, juce::String (processor.filterCutoffString()));
}

void kvAPE::activateSlider (SliderGroup& group, int index)
{
    auto& slider = group.sliders[(size_t) index];
    slider.setColour (juce::Slider::trackColourId, group.valueLowColour);
    slider.setColour (juce::Slider::rotarySliderFillColourId, group.valueLowColour);
    slider.setInterceptsMouseClicks (true, true);

    for (int k = 0; k < group.sliderCount; ++k)
    {
        const auto colour = SliderGroup::blendValueColour (group.valueLowColour, group.valueHighColour,
                                                           (float) group.sliders[(size_t) k].getValue());
        group.sliders[(size_t) k].setColour (juce::Slider::rotarySliderFillColourId, colour);
        group.sliders[(size_t) k].setColour (juce::Slider::trackColourId, colour);
    }
}

void kvAPE::deactivateSlider (SliderGroup& group, int index)
{
    auto& slider = group.sliders[(size_t) index];
    slider.setColour (juce::Slider::trackColourId, group.panelColour);
    slider.setColour (juce::Slider::rotarySliderFillColourId, group.panelColour);
    slider.setInterceptsMouseClicks (false, false);
}

void kvAPE::updateOscTypes (bool fromTimer)
{
    if (! fromTimer)
        processor.updateOscTypes();

    const std::tuple<const char*, juce::TextButton*, SliderGroup*> sections[] = {
        { "synth1_oscType", &osc1MenuBtn, &synth1_pGroup },
        { "synth2_oscType", &osc2MenuBtn, &synth2_pGroup },
        { "lfo1_oscType", &lfo1MenuBtn, &lfo1_pGroup },
        { "lfo2_oscType", &lfo2MenuBtn, &lfo2_pGroup },
    };

    auto& registry = processor.waveManager.waveforms;
    for (auto [key, menu, group] : sections)
    {
        if (registry.isEmpty())
            return;

        const auto id = processor.getModMap (key);
        Waveform* wave = registry.getFirst();
        for (auto* candidate : registry)
        {
            if (candidate->getId() == id)
            {
                wave = candidate;
                break;
            }
        }

        const auto name = wave->getName();
        if (menu->getButtonText() != name)
            menu->setButtonText (name);

        if (wave->acceptsParam1())
            activateSlider (*group, 0);
        else
            deactivateSlider (*group, 0);

        if (wave->acceptsParam2())
            activateSlider (*group, 1);
        else
            deactivateSlider (*group, 1);
    }
}

void kvAPE::updateLockVol()
{
    const auto v = processor.apvts.getParameter ("lockVol")->getValue();
    synth2_utilGroup.buttons[1].setColour (juce::TextButton::buttonColourId,
                                           v > 0.5f ? processor.theme.getAccent (1) : processor.theme.getLight (2));
}

void kvAPE::toggleLockVol()
{
    const auto v = processor.apvts.getParameter ("lockVol")->getValue();
    processor.apvts.getParameterAsValue ("lockVol") = v > 0.5f ? 0.0f : 1.0f;
    updateLockVol();
}

void kvAPE::updateButtons()
{
    const auto v = processor.apvts.getParameter ("limiter")->getValue();
    limiterBtn.setColour (juce::TextButton::buttonColourId, v > 0.5f ? processor.theme.getBg2 (3) : processor.theme.getBg (1));
}

//==============================================================================
// Painting

void kvAPE::paint (juce::Graphics& g)
{
    auto& theme = processor.theme;
    const int p = metrics.spacing, u = metrics.unit;
    const int W = getWidth();
    const int y3 = gridY (3);

    if (! bgVisAttached)
    {
        g.setColour (theme.getBg (1));
        g.fillAll();
    }

    g.setColour (theme.getMain (1));
    g.setOpacity (0.75f);
    g.setFont (2.5f * (float) u);
    g.drawFittedText ("KORVANE", W / 2 - 100, y3 + 150 + p, 200, 2 * u, juce::Justification::horizontallyCentred, 1);
    g.setFont (1.5f * (float) u);
    g.drawFittedText ("-beta-", W / 2 - 100, y3 + 190 + p, 200, u, juce::Justification::horizontallyCentred, 1);
    g.setFont (1.25f * (float) u);
    g.drawFittedText (juce::String ("v") + Korvane::versionText, W / 2 - 100, y3 + 220 + p, 200, u, juce::Justification::horizontallyCentred, 1);

    if (! startsWithF (settingOr ("startupMsg", "true")))
        showStartupMessage();

    g.setColour (theme.getLight (2));
    auto caption = [&] (const char* text, int x, int y)
    {
        g.setOpacity (0.5f);
        g.setFont (1.5f * (float) u);
        g.drawFittedText (text, x, y, 200, u, juce::Justification::left, 1);
    };

    caption ("oscillator 1", p + 2 * p + gridX (0), u + gridY (0) - p);
    caption ("oscillator 2", p + 2 * p + gridX (8), u + gridY (0) - p);
    if (currentSubScreen == "lfo")
        caption ("lfo 1", p + lfo1MenuBtn.getX(), lfo1MenuBtn.getY() - u - p);
    if (currentSubScreen == "lfo2")
        caption ("lfo 2", p + lfo1MenuBtn.getX(), lfo1MenuBtn.getY() - u - p);

    g.setColour (theme.getBg (1));
    g.setOpacity (0.5f);
    g.fillRect (p + (2 * p + (4 * p - 1 + 400)), p + (metrics.gridTop + (p - 1 + (100 + p))), 200 - 2 * p, 200 - 2 * p);

    g.setColour (theme.getLight (1));
    g.setOpacity (0.5f);
    g.setColour (theme.getLight (1));
    g.setFont (1.75f * (float) u);
    g.drawFittedText (processor.patchName, W / 2 - 100, 2 * p, 200, (int) (1.5f * (float) u), juce::Justification::horizontallyCentred, 1);

    paintBrackets (g);
}

void kvAPE::paintOverChildren (juce::Graphics& g)
{
    if (currentScreen == "main")
        paintBrackets (g);
}

void kvAPE::paintBrackets (juce::Graphics& g)
{
    const float p = (float) metrics.spacing, u = (float) metrics.unit;
    const float W = (float) getWidth();
    const float y3 = (float) gridY (3);
    const float c = W * 0.5f;

    juce::Path left, right;
    left.startNewSubPath (c - 120.0f, 0.0f);
    left.lineTo (c - 100.0f - p, p + 2.0f * u);
    left.lineTo (c - 100.0f - p, y3 - 2.0f * p);
    left.lineTo (c - 100.0f - 2.0f * p, y3 - p);
    left.lineTo (0.0f, y3 - p);

    right.startNewSubPath (c + 120.0f, 0.0f);
    right.lineTo (c + 100.0f + p, p + 2.0f * u);
    right.lineTo (c + 100.0f + p, y3 - 2.0f * p);
    right.lineTo (c + 100.0f + 2.0f * p, y3 - p);
    right.lineTo (W, y3 - p);

    g.setColour (processor.theme.getAccent (1));
    g.setOpacity (0.1f);
    const juce::PathStrokeType stroke (0.25f * p);
    g.strokePath (left, stroke);
    g.strokePath (right, stroke);
}

void kvAPE::showStartupMessage()
{
    // Written back first, so that a settings file that cannot be saved still
    // shows the message only once in this run.
    processor.settings.values["startupMsg"] = "false";

    const juce::String crlf = "\r\n";
    juce::String message = juce::String ("v") + Korvane::versionText + " Alpha" + crlf + crlf;
    for (auto* line : { "Waddup Korvaners? ", "Major changes are coming! ",
                        "This means patches you make now might not work later. ",
                        "There will be bugs. Please let me know about them! ",
                        "Don't forget to join the Discord! ", "Thanks for testing! " })
        message << line << crlf;
    message << crlf << "- Orbel " << crlf << crlf << crlf << "OrbelAudio";

    // Shown after this paint: a message box opened from inside paint would
    // take the paint's graphics context down with it on some back ends.
    juce::MessageManager::callAsync ([message] { Notices::show ("Korvane", message, "YEE"); });

    processor.settings.save (processor.fileIO);
}

void kvAPE::setThemeTweaks()
{
    auto& lf = getLookAndFeel();
    auto& theme = processor.theme;
    lf.setColour (juce::Slider::thumbColourId, juce::Colours::black.withAlpha (0.0f));
    lf.setColour (juce::PopupMenu::backgroundColourId, theme.getBg (2));
    lf.setColour (juce::PopupMenu::textColourId, theme.getMain (1));
    lf.setColour (juce::PopupMenu::highlightedBackgroundColourId, theme.getMain (1));
    lf.setColour (juce::PopupMenu::highlightedTextColourId, theme.getBg (1));
}
