#include "AudioAnalysis.h"
#include "LoopbackServer.h"
#include "UiTestSupport.h"
#include "diagnostics/Notices.h"
#include "editor/PluginEditor.h"

#include <gtest/gtest.h>

#include <memory>

namespace
{
    /** Records the notices shown while it lives. */
    struct NoticeRecorder
    {
        NoticeRecorder()
        {
            Notices::setHandler ([this] (const Notice& notice) { notices.push_back (notice); });
        }

        ~NoticeRecorder() { Notices::setHandler (Notices::toStandardError()); }

        std::vector<Notice> notices;
    };

    /** A prepared processor and its editor, as a host opens it. */
    struct EditorRig
    {
        /** The message of the day comes from baseUrl (by default a port
            where nothing listens, so the fetch fails at once). */
        explicit EditorRig (const juce::String& baseUrl = "http://127.0.0.1:1/",
                            std::map<juce::String, juce::String> settings = {})
        {
            keepLoopbackDirect();
            OAMotdScreen::setBaseUrl (baseUrl);
            proc.settings.values["startupMsg"] = "false"; // the one-time message has its own test
            for (auto& [key, value] : settings)
                proc.settings.values[key] = value;
            proc.setRateAndBufferSizeDetails (48000.0, 512);
            proc.prepareToPlay (48000.0, 512);
            editor = std::make_unique<kvAPE> (proc);
        }

        ~EditorRig()
        {
            editor.reset();
            OAMotdScreen::setBaseUrl (OAMotdScreen::defaultBaseUrl);
        }

        void setParam (const juce::String& id, float value)
        {
            proc.apvts.getParameter (id)->setValueNotifyingHost (value);
        }

        float param (const juce::String& id) { return proc.apvts.getParameter (id)->getValue(); }

        kvAP proc;
        std::unique_ptr<kvAPE> editor;
    };

    Waveform* findWave (kvAP& proc, bool param1, bool param2)
    {
        for (auto* wave : proc.waveManager.waveforms)
            if (wave->acceptsParam1() == param1 && wave->acceptsParam2() == param2)
                return wave;
        return nullptr;
    }

    bool clickable (juce::Component& c)
    {
        bool self = false, children = false;
        c.getInterceptsMouseClicks (self, children);
        return self;
    }
}

TEST (Editor, LayoutTableAndComponentLists)
{
    EditorRig rig;
    auto& e = *rig.editor;

    EXPECT_EQ (e.getWidth(), 1119);
    EXPECT_EQ (e.getHeight(), 700);

    const std::pair<juce::Component*, juce::Rectangle<int>> expected[] = {
        { &e.keyboard, { 0, 650, 1119, 50 } },
        { &e.vuLogo, { 409, 389, 300, 300 } },
        { &e.osc1MenuBtn, { 19, 91, 200, 32 } },
        { &e.synth1_tuneGroup, { 219, 59, 239, 100 } },
        { &e.synth1_adsrGroup, { -1, 169, 459, 100 } },
        { &e.synth2_utilGroup, { 879, 279, 239, 100 } },
        { &e.osc2MenuBtn, { 899, 91, 200, 32 } },
        { &e.filterGroup, { 439, 59, 239, 100 } },
        { &e.env1Mapping, { -1, 499, 459, 229 } },
        { &e.env2_adsrGroup, { 659, 389, 459, 100 } },
        { &e.filterQSlider, { 989, 499, 121, 100 } },
        { &e.overdriveGroup, { 329, 389, 129, 100 } },
        { &e.lfo2MenuBtn, { 19, 421, 200, 32 } },
        { &e.lfo1_rateSlider, { 879, 389, 129, 100 } },
        { &e.numberModeBtn, { 1009, 10, 50, 32 } },
        { &e.settingsBtn, { 1059, 10, 50, 32 } },
        { &e.infoBtn, { 10, 10, 48, 48 } },
        { &e.makerLogoBtn, { 199, 10, 165, 28 } },
        { &e.initPatchBtn, { 759, 10, 50, 32 } },
        { &e.randomizePatchBtn, { 959, 10, 50, 32 } },
        { &e.varTab, { 349, 618, 100, 32 } },
        { &e.masterVolSlider, { 459, 329, 200, 100 } },
        { &e.levelMeter, { 459, 373, 200, 12 } },
        { &e.limiterBtn, { 624, 385, 50, 33 } },
        { &e.shade, { 0, 0, 1119, 700 } },
        { &e.loadScreen, { 324, 64, 471, 572 } },
        { &e.mapScreen, { 64, 64, 991, 572 } },
        { &e.oscScreen, { 64, 64, 991, 572 } },
        { &e.discordBtn, { 57, 10, 25, 25 } },
        { &e.bugReportBtn, { 98, 10, 25, 25 } },
        { &e.scope, { 469, 179, 180, 180 } },
        { &e.scopeScan, { 469, 179, 180, 180 } },
    };

    for (auto [component, bounds] : expected)
        EXPECT_EQ (component->getBounds(), bounds) << component->getName() << " " << component->getBounds().toString();

    // The logo is scaled to half its component's width by the first layout.
    EXPECT_EQ (e.vuLogo.logo.getWidth(), 150);

    EXPECT_EQ (e.envComponents.count, 4);
    EXPECT_EQ (e.lfo1Components.count, 6);
    EXPECT_EQ (e.lfo2Components.count, 6);
    EXPECT_EQ (e.varComponents.count, 8);
    EXPECT_EQ (e.mainComponents.count, 18);

    // z-order: the overlays lie above the panels, the message screen on top.
    EXPECT_LT (e.getIndexOfChildComponent (&e.keyboard), e.getIndexOfChildComponent (&e.shade));
    EXPECT_GT (e.getIndexOfChildComponent (&e.motdScreen), e.getIndexOfChildComponent (&e.loadScreen));
    EXPECT_GT (e.getIndexOfChildComponent (&e.saveScreen), e.getIndexOfChildComponent (&e.shade));

    // The state remembers the editor's size.
    auto ui = rig.proc.apvts.state.getChildWithName ("uiState");
    EXPECT_EQ ((int) ui.getProperty ("width"), 1119);
    EXPECT_EQ ((int) ui.getProperty ("height"), 700);
}

TEST (Editor, GroupLabelsTitlesAndColouring)
{
    EditorRig rig;
    auto& e = *rig.editor;

    EXPECT_EQ (e.synth1_tuneGroup.labels[0], "SEM");
    EXPECT_EQ (e.synth1_tuneGroup.labels[1], "CEN");
    EXPECT_EQ (e.synth2_tuneGroup.labels[0], "SMI");
    EXPECT_EQ (e.synth2_tuneGroup.labels[1], "CNT");
    EXPECT_EQ (e.velocityGroup.labels[2], "GAN");
    EXPECT_EQ (e.overdriveGroup.title, "overdrive");
    EXPECT_EQ (e.filterQSlider.title, "filter q max");
    EXPECT_TRUE (e.synth2_utilGroup.buttons[1].isVisible());
    EXPECT_FALSE (e.synth2_utilGroup.buttons[0].isVisible());
    EXPECT_EQ (e.tempoLabel.getFont().getTypefaceName(), OATheme::getCustomFont().getTypefaceName());
}

TEST (Editor, SizeFromAStoredStateKeepsTheFixedDesign)
{
    EditorRig rig;
    auto ui = rig.proc.apvts.state.getChildWithName ("uiState");
    ui.setProperty ("width", 400, nullptr);
    ui.setProperty ("height", 200, nullptr);
    runPendingMessages();

    EXPECT_EQ (rig.editor->getWidth(), 1119);
    EXPECT_EQ (rig.editor->getHeight(), 700);
    EXPECT_EQ ((int) ui.getProperty ("width"), 1119);
    EXPECT_EQ ((int) ui.getProperty ("height"), 700);
}

TEST (Editor, SmartLabelsShowWhatTheEngineRuns)
{
    EditorRig rig;
    auto& e = *rig.editor;

    struct Case { float microtune; const char* cents; };
    for (auto c : { Case { 0.25f, "-50" }, Case { 0.2525f, "-50" }, Case { 0.5f, "0" }, Case { 1.0f, "100" } })
    {
        rig.setParam ("synth1_microtune", c.microtune);
        e.updateSmartLabels();
        EXPECT_EQ (e.synth1_tuneGroup.altLabels[1], juce::String (std::floor (100.0f * rig.proc.renderValues.synth1TuneCent.load())));
        EXPECT_EQ (e.synth1_tuneGroup.altLabels[1], c.cents) << c.microtune;
    }

    rig.setParam ("synth2_tune", 1.0f);
    rig.setParam ("synth1_unison", 1.0f);
    rig.setParam ("cutoff", 0.5f);
    e.updateSmartLabels();
    EXPECT_EQ (e.synth2_tuneGroup.altLabels[0], "24");
    EXPECT_EQ (e.synth1_voiceGroup.altLabels[0], "16");
    EXPECT_EQ (e.filterGroup.altLabels[0], juce::String (rig.proc.filterCutoffString()));
    EXPECT_TRUE (e.filterGroup.altLabels[0].endsWith (" Hz"));
    EXPECT_EQ (e.lfo1_rateSlider.altLabels[0], rig.proc.getLfoRateText (1));
    // Entries without a live text keep showing the plain label.
    EXPECT_EQ (e.synth1_voiceGroup.altLabels[1], "unset");
}

TEST (Editor, ShapeKnobsFollowTheWaveform)
{
    EditorRig rig;
    auto& e = *rig.editor;
    auto& group = e.synth1_pGroup;

    struct Case { bool p1, p2; };
    for (auto c : { Case { false, false }, Case { false, true }, Case { true, false }, Case { true, true } })
    {
        auto* wave = findWave (rig.proc, c.p1, c.p2);
        if (wave == nullptr)
            continue; // the registry has no shape of this kind

        ASSERT_TRUE (rig.proc.setModMapEntry ("synth1_oscType", wave->getId()));
        e.updateOscTypes (false);

        SCOPED_TRACE (wave->getId().toStdString());
        EXPECT_EQ (e.osc1MenuBtn.getButtonText(), wave->getName());
        EXPECT_EQ (clickable (group.sliders[0]), c.p1);
        EXPECT_EQ (clickable (group.sliders[1]), c.p2);

        const auto valueColour = [&] (int i) {
            return SliderGroup::blendValueColour (group.valueLowColour, group.valueHighColour, (float) group.sliders[(size_t) i].getValue());
        };

        if (! c.p1 && ! c.p2)
        {
            EXPECT_EQ (group.sliders[0].findColour (juce::Slider::trackColourId), group.panelColour);
            EXPECT_EQ (group.sliders[1].findColour (juce::Slider::rotarySliderFillColourId), group.panelColour);
        }
        if (c.p2)
        {
            // Activating knob 1 recolours every knob of the group by value,
            // also a knob 0 that ignores the mouse.
            EXPECT_EQ (group.sliders[0].findColour (juce::Slider::trackColourId), valueColour (0));
            EXPECT_EQ (group.sliders[1].findColour (juce::Slider::trackColourId), valueColour (1));
        }
    }

    // An id that names no shape shows the registry's first one and its flags.
    ASSERT_TRUE (rig.proc.setModMapEntry ("synth1_oscType", "no_such_shape"));
    e.updateOscTypes (true);
    auto* first = rig.proc.waveManager.waveforms.getFirst();
    EXPECT_EQ (e.osc1MenuBtn.getButtonText(), first->getName());
    EXPECT_EQ (clickable (group.sliders[0]), first->acceptsParam1());
}

TEST (Editor, LockVolumeAndLimiterToggleAtTheirMidpoint)
{
    EditorRig rig;
    auto& e = *rig.editor;
    auto& theme = rig.proc.theme;

    rig.setParam ("lockVol", 0.5f);
    e.updateLockVol();
    EXPECT_EQ (e.synth2_utilGroup.buttons[1].findColour (juce::TextButton::buttonColourId), theme.getLight (2));

    // The group's button 1 reaches the editor as an action message.
    e.synth2_utilGroup.buttons[1].triggerClick();
    ASSERT_TRUE (runMessagesUntil ([&] { return rig.param ("lockVol") == 1.0f; }));
    runPendingMessages();
    EXPECT_EQ (e.synth2_utilGroup.buttons[1].findColour (juce::TextButton::buttonColourId), theme.getAccent (1));
    e.actionListenerCallback ("synth2_utilGroup.btnClicked.0");
    EXPECT_EQ (rig.param ("lockVol"), 1.0f);
    e.actionListenerCallback ("synth2_utilGroup.btnClicked.1");
    EXPECT_EQ (rig.param ("lockVol"), 0.0f);

    rig.setParam ("limiter", 0.5f);
    e.buttonClicked (&e.limiterBtn);
    EXPECT_EQ (rig.param ("limiter"), 1.0f);
    e.updateButtons();
    EXPECT_EQ (e.limiterBtn.findColour (juce::TextButton::buttonColourId), theme.getBg2 (3));
    e.buttonClicked (&e.limiterBtn);
    EXPECT_EQ (rig.param ("limiter"), 0.0f);
    e.updateButtons();
    EXPECT_EQ (e.limiterBtn.findColour (juce::TextButton::buttonColourId), theme.getBg (1));
}

TEST (Editor, StartupMessageIsShownOnceAndWrittenBack)
{
    struct Case { const char* value; bool shown; };
    for (auto c : { Case { "true", true }, Case { "1", true }, Case { "", true }, Case { "False", false }, Case { "f", false } })
    {
        SCOPED_TRACE (c.value);
        NoticeRecorder recorder;
        EditorRig rig;
        rig.proc.settings.values["startupMsg"] = c.value;

        renderComponent (*rig.editor);
        renderComponent (*rig.editor);
        runPendingMessages();

        const auto count = std::count_if (recorder.notices.begin(), recorder.notices.end(),
                                          [] (const Notice& n) { return n.title == "Korvane"; });
        EXPECT_EQ (count, c.shown ? 1 : 0);
        if (c.shown)
        {
            EXPECT_EQ (rig.proc.settings.values["startupMsg"], "false");
            auto stored = rig.proc.settings;
            stored.values["startupMsg"] = "true";
            stored.load (rig.proc.fileIO);
            EXPECT_EQ (stored.values["startupMsg"], "false");
            const auto& notice = *std::find_if (recorder.notices.begin(), recorder.notices.end(),
                                                [] (const Notice& n) { return n.title == "Korvane"; });
            EXPECT_EQ (notice.button, "YEE");
            EXPECT_TRUE (notice.text.startsWith ("v25.9.26 Alpha\r\n\r\nWaddup Korvaners? \r\n"));
            EXPECT_TRUE (notice.text.endsWith ("- Orbel \r\n\r\n\r\nOrbelAudio"));
        }
    }
}

TEST (Editor, StartupMessageKeepsTheSoundTheHostRestored)
{
    NoticeRecorder recorder;
    EditorRig rig;
    rig.setParam ("cutoff", 0.123f);
    rig.proc.settings.values["startupMsg"] = "true";
    renderComponent (*rig.editor);
    EXPECT_NEAR (rig.param ("cutoff"), 0.123f, 1e-6f);
}

TEST (Editor, ScreensAndSubScreens)
{
    EditorRig rig;
    auto& e = *rig.editor;

    e.setCurrentScreen ("motd");
    EXPECT_TRUE (e.motdScreen.isVisible());
    EXPECT_TRUE (e.shade.isVisible());
    EXPECT_TRUE (e.keyboard.isVisible());
    EXPECT_GT (e.getIndexOfChildComponent (&e.motdScreen), e.getIndexOfChildComponent (&e.shade));

    const std::pair<const char*, juce::Component*> overlays[] = {
        { "savePatch", &e.saveScreen }, { "loadPatch", &e.loadScreen }, { "settings", &e.settingsScreen },
        { "map", &e.mapScreen }, { "osc", &e.oscScreen },
    };
    for (auto [name, screen] : overlays)
    {
        e.setCurrentScreen (name);
        EXPECT_TRUE (screen->isVisible()) << name;
        EXPECT_TRUE (e.shade.isVisible()) << name;
        EXPECT_FALSE (e.motdScreen.isVisible()) << name;
    }

    e.setCurrentScreen ("nowhere");
    for (auto [name, screen] : overlays)
        EXPECT_FALSE (screen->isVisible()) << name;
    EXPECT_TRUE (e.shade.isVisible());

    e.setCurrentScreen ("main");
    EXPECT_FALSE (e.shade.isVisible());

    const auto active = rig.proc.theme.getBg (10), inactive = rig.proc.theme.getBg (1);
    e.setCurrentSubScreen ("lfo");
    EXPECT_TRUE (e.lfo1_rateSlider.isVisible());
    EXPECT_FALSE (e.env1_adsrGroup.isVisible());
    EXPECT_EQ (e.lfo1Tab.findColour (juce::TextButton::buttonColourId), active);
    EXPECT_EQ (e.envTab.findColour (juce::TextButton::buttonColourId), inactive);

    for (auto* wrong : { "lfo1", "LFO" })
    {
        e.setCurrentSubScreen (wrong);
        EXPECT_FALSE (e.lfo1_rateSlider.isVisible());
        EXPECT_EQ (e.lfo1Tab.findColour (juce::TextButton::buttonColourId), inactive);
    }

    e.buttonClicked (&e.varTab);
    EXPECT_TRUE (e.glideGroup.isVisible());
    EXPECT_EQ (e.currentSubScreen, "var");

    // An overlay leaves the sub-screen as it was.
    e.buttonClicked (&e.osc2MenuBtn);
    EXPECT_EQ (e.currentScreen, "osc");
    EXPECT_EQ (e.oscScreen.targetKey, "synth2_oscType");
    e.actionListenerCallback ("oscScreen.exit.-1");
    EXPECT_EQ (e.currentScreen, "main");
    EXPECT_TRUE (e.glideGroup.isVisible());
}

TEST (Editor, ActionMessagesAndKeys)
{
    EditorRig rig;
    auto& e = *rig.editor;

    e.actionListenerCallback ("motd.release-2.-1");
    EXPECT_EQ (rig.proc.settings.values["motdTag"], "release-2");
    EXPECT_EQ (e.currentScreen, "main");
    e.actionListenerCallback ("motd.v1.5.-1");
    EXPECT_EQ (rig.proc.settings.values["motdTag"], "v1");

    e.actionListenerCallback ("showScreenMap.lfo2_mappedParam.-1");
    EXPECT_EQ (e.currentScreen, "map");
    EXPECT_EQ (e.mapScreen.targetKey, "lfo2_mappedParam");
    e.actionListenerCallback ("mapScreen.exit.-1");
    EXPECT_EQ (e.currentScreen, "main");

    e.actionListenerCallback ("settingsScreen.motd.-1");
    EXPECT_EQ (e.currentScreen, "motd");

    // Messages that name nothing change nothing.
    for (auto* noise : { "", "...", "exit", "filterGroup.sliderChanged.-1", "loadScreen", "oscScreen.exit" })
    {
        e.setCurrentScreen ("settings");
        e.actionListenerCallback (noise);
        EXPECT_EQ (e.currentScreen, juce::String (noise) == "oscScreen.exit" ? "main" : "settings") << noise;
    }

    e.setCurrentScreen ("main");
    for (int i = 0; i < 6; ++i)
        e.keyPressed (juce::KeyPress ('z'), &e.keyboard);
    EXPECT_EQ (e.keyboardOctave, 0);
    for (int i = 0; i < 12; ++i)
        e.keyPressed (juce::KeyPress ('x'), &e.keyboard);
    EXPECT_EQ (e.keyboardOctave, 10);
    EXPECT_TRUE (e.keyPressed (juce::KeyPress ('q'), &e.keyboard));

    // Number mode switches every listed group and leaves the glide knobs alone.
    e.buttonClicked (&e.numberModeBtn);
    EXPECT_EQ (e.filterGroup.sliders[0].getSliderStyle(), juce::Slider::LinearHorizontal);
    EXPECT_EQ (e.env1Mapping.factorGroup.sliders[0].getSliderStyle(), juce::Slider::LinearHorizontal);
    EXPECT_EQ (e.glideGroup.sliders[0].getSliderStyle(), juce::Slider::RotaryVerticalDrag);
    e.buttonClicked (&e.numberModeBtn);
    EXPECT_EQ (e.filterGroup.sliders[0].getSliderStyle(), juce::Slider::RotaryVerticalDrag);
    EXPECT_EQ (e.panGroup.sliders[1].getSliderStyle(), juce::Slider::RotaryVerticalDrag);
}

TEST (Editor, LevelDisplaysFollowThePeakHistory)
{
    EditorRig rig;
    auto& e = *rig.editor;
    auto& proc = rig.proc;

    struct Case { double sample; bool overload; bool red; float meter; };
    for (auto c : { Case { -1.2, true, true, 1.0f }, Case { 1.0005, true, false, 1.0f }, Case { 0.5, false, false, 0.5f } })
    {
        for (auto& ring : proc.peakHistory)
            std::fill (ring.begin(), ring.end(), 0.0);
        proc.peakHistory[0][3] = c.sample;
        proc.peakHistory[1][7] = c.sample;
        proc.historyFull = true;

        e.updateVUValues();
        EXPECT_EQ (e.vuLogo.overload, c.overload) << c.sample;
        EXPECT_FLOAT_EQ (e.levelMeter.value, c.meter);
        EXPECT_EQ (e.levelMeter.foreground == juce::Colours::red, c.red) << c.sample;
        EXPECT_FLOAT_EQ (e.vuLogo.levelL, juce::jmin (1.0f, (float) std::abs (c.sample)));
    }

    proc.historyFull = false;
    e.updateVUValues();
    EXPECT_EQ (e.levelMeter.value, 0.0f);
    EXPECT_FALSE (e.vuLogo.overload);
}

TEST (Editor, MappingPanelsShowTheirTargetAndMeters)
{
    EditorRig rig;
    auto& e = *rig.editor;

    ASSERT_TRUE (rig.proc.setModMapEntry ("env1_mappedParam", "cutoff"));
    rig.proc.renderValues.env1Value = 0.25f;
    rig.proc.renderValues.env1Level = 2.0f;
    e.updateMeterValues();
    EXPECT_EQ (e.env1Mapping.targetButton.getButtonText(), rig.proc.paramMan.paramsById.at ("cutoff").displayName);
    EXPECT_FLOAT_EQ (e.env1Mapping.valueMeter.value, 0.25f);
    EXPECT_FLOAT_EQ (e.env1Mapping.levelMeter.value, 1.0f);

    // An entry that names no parameter shows "None" instead of failing.
    for (auto* id : { "dummy", "", "no_such_param" })
    {
        ASSERT_TRUE (rig.proc.setModMapEntry ("lfo2_mappedParam", id));
        EXPECT_NO_THROW (e.updateMeterValues());
        EXPECT_EQ (e.lfo2Mapping.targetButton.getButtonText(), "None") << id;
    }
}

TEST (Editor, BackgroundSwitchFollowsTheSetting)
{
    EditorRig rig;
    auto& e = *rig.editor;

    for (auto [value, attached] : { std::pair { "False", false }, std::pair { "true", true }, std::pair { "f", false },
                                    std::pair { "", true }, std::pair { "false", false }, std::pair { "yes", true } })
    {
        rig.proc.settings.values["showBgVis"] = value;
        e.timerCallback();
        EXPECT_EQ (e.bgVisAttached, attached) << value;
        EXPECT_EQ (e.bgVis.context.getTargetComponent() == &e, attached) << value;
    }

    // Without the background the editor fills its own.
    rig.proc.settings.values["showBgVis"] = "false";
    e.timerCallback();
    e.setCurrentScreen ("main");
    auto image = renderComponent (e);
    EXPECT_EQ (image.getPixelAt (1110, 640).withAlpha (1.0f), rig.proc.theme.getBg (1));
}

TEST (Editor, KnobsAndParametersFollowEachOther)
{
    EditorRig rig;
    auto& e = *rig.editor;

    auto renderNote = [&] {
        juce::AudioBuffer<float> buffer (2, 512), out (2, 48000);
        out.clear();
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 48, (juce::uint8) 110), 0);
        for (int pos = 0; pos < out.getNumSamples(); pos += 512)
        {
            buffer.clear();
            rig.proc.processBlock (buffer, midi);
            midi.clear();
            for (int ch = 0; ch < 2; ++ch)
                out.copyFrom (ch, pos, buffer, ch, 0, juce::jmin (512, out.getNumSamples() - pos));
        }
        juce::MidiBuffer off;
        off.addEvent (juce::MidiMessage::allNotesOff (1), 0);
        buffer.clear();
        rig.proc.processBlock (buffer, off);
        return out;
    };

    const auto loud = renderNote();
    const auto level = [] (const juce::AudioBuffer<float>& x) {
        return AudioAnalysis::rms (x.getReadPointer (0) + 24000, x.getNumSamples() - 24000);
    };
    ASSERT_GT (level (loud), 1e-3);

    // Knobs turned in the window move their parameters and the sound: the
    // master volume is linear, and both oscillators at volume 0 are silent.
    e.masterVolSlider.setValue (0.25, juce::sendNotificationSync);
    EXPECT_NEAR (rig.param ("masterVol"), 0.25f, 1e-3f);
    runPendingMessages();
    EXPECT_NEAR (level (renderNote()) / level (loud), 0.5, 0.05);

    auto& knob = e.synth1_utilGroup.sliders[1];
    knob.setValue (0.0, juce::sendNotificationSync);
    e.synth2_utilGroup.sliders[1].setValue (0.0, juce::sendNotificationSync);
    EXPECT_EQ (rig.param ("synth1_volume"), 0.0f);
    EXPECT_EQ (rig.param ("synth2_volume"), 0.0f);
    runPendingMessages();
    EXPECT_LT (level (renderNote()), 1e-5);

    // A change from the host or a patch load moves the knob.
    rig.setParam ("res", 0.7f);
    runPendingMessages();
    EXPECT_NEAR (e.filterGroup.sliders[1].getValue(), 0.7, 1e-3);
    rig.proc.loadDefaultPatch ("Init[OA]", true);
    runPendingMessages();
    EXPECT_NEAR (knob.getValue(), 0.5, 1e-3);
    EXPECT_NEAR (e.masterVolSlider.getValue(), rig.param ("masterVol"), 1e-3);
}

TEST (Editor, OpensAndClosesRepeatedlyWhileNotesSound)
{
    kvAP proc;
    proc.settings.values["startupMsg"] = "false";
    proc.prepareToPlay (48000.0, 256);
    juce::AudioBuffer<float> buffer (2, 256);
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    midi.addEvent (juce::MidiMessage::noteOn (1, 64, (juce::uint8) 100), 0);
    proc.processBlock (buffer, midi);

    // A second instance with its editor open at the same time.
    kvAP other;
    other.settings.values["startupMsg"] = "false";
    std::unique_ptr<juce::AudioProcessorEditor> otherEditor (other.createEditorIfNeeded());
    ASSERT_NE (dynamic_cast<kvAPE*> (otherEditor.get()), nullptr);

    for (int round = 0; round < 10; ++round)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (proc.createEditorIfNeeded());
        ASSERT_NE (dynamic_cast<kvAPE*> (editor.get()), nullptr);
        auto& e = static_cast<kvAPE&> (*editor);
        juce::MidiBuffer none;
        for (int b = 0; b < 8; ++b)
        {
            buffer.clear();
            proc.processBlock (buffer, none);
            e.timerCallback();
        }
        renderComponent (e);
        runPendingMessages();
        proc.editorBeingDeleted (editor.get());
        editor.reset();
        EXPECT_EQ (proc.getActiveEditor(), nullptr);
    }

    EXPECT_GT (buffer.getMagnitude (0, buffer.getNumSamples()), 0.0f);
    other.editorBeingDeleted (otherEditor.get());
}

TEST (Editor, StartScreenFollowsTheMessageOfTheDay)
{
    LoopbackServer server (200, "Welcome|New patches|https://example.invalid/n|t42");
    ASSERT_TRUE (server.isListening());

    struct Case { const char* what; bool reachable; const char* updates; const char* storedTag; const char* screen; const char* headline; };
    const Case cases[] {
        { "new message, updates on", true, "true", "x", "motd", "Welcome" },
        { "new message, updates off", true, "false", "x", "main", "Welcome" },
        { "message already dismissed", true, "true", "t42", "main", "Welcome" },
        { "server unreachable, updates on", false, "true", "x", "motd", "motd" },
        { "server unreachable, updates off", false, "false", "x", "main", "motd" },
        { "server unreachable after its notice was dismissed", false, "true", "unset", "main", "motd" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        EditorRig rig (c.reachable ? server.baseUrl() : juce::String ("http://127.0.0.1:1/"),
                       { { "updates", c.updates }, { "motdTag", c.storedTag } });
        auto& e = *rig.editor;
        EXPECT_EQ (e.currentScreen, c.screen);
        EXPECT_EQ (e.motdScreen.isVisible(), juce::String (c.screen) == "motd");
        EXPECT_EQ (e.motdScreen.headline, c.headline);
        if (! c.reachable)
        {
            EXPECT_EQ (e.motdScreen.bodyText, "Can't reach OrbelAudio Servers...");
        }
    }

    // Dismissing stores the message's tag and writes the settings file.
    EditorRig rig (server.baseUrl(), { { "updates", "true" }, { "motdTag", "x" } });
    ASSERT_EQ (rig.editor->currentScreen, "motd");

    // The message box sits in the middle of the window, its buttons inside it.
    const auto& box = rig.editor->motdScreen.boxBounds;
    const juce::Rectangle<int> boxArea (box.x, box.y, box.width, box.height);
    EXPECT_EQ (boxArea, juce::Rectangle<int> (373, 234, 373, 233));
    EXPECT_TRUE (boxArea.contains (rig.editor->motdScreen.okButton.getBounds()));
    EXPECT_TRUE (boxArea.contains (rig.editor->motdScreen.moreInfoButton.getBounds()));
    rig.editor->motdScreen.okButton.triggerClick();
    ASSERT_TRUE (runMessagesUntil ([&] { return rig.editor->currentScreen == "main"; }));
    EXPECT_EQ (rig.proc.settings.values["motdTag"], "t42");
    auto stored = rig.proc.settings;
    stored.values["motdTag"] = "other";
    stored.load (rig.proc.fileIO);
    EXPECT_EQ (stored.values["motdTag"], "t42");
}

TEST (Editor, TimerDrivesTheReadOutAndTheScanLines)
{
    EditorRig rig;
    auto& e = *rig.editor;

    e.timerCallback();
    EXPECT_EQ (e.timecodeLabel.getText(), "[" + juce::SystemStats::getJUCEVersion() + "]   120.00 bpm, 4/4  -  00:00:00.000  -  1|1|000");
    EXPECT_EQ (e.tempoLabel.getText(), "120.00 4/4");
    EXPECT_EQ (kvAPE::timeToTimecodeString (3723.4567), "01:02:03.457");
    EXPECT_EQ (kvAPE::quarterNotePositionToBarsBeatsString (5.5, 4, 4), "2|2|480");

    {
        const juce::SpinLock::ScopedLockType lock (rig.proc.positionLock);
        rig.proc.lastPosInfo.isPlaying = true;
        rig.proc.lastPosInfo.ppqPosition = 7.0;
        rig.proc.lastPosInfo.timeSigNumerator = 3;
    }
    e.timerCallback();
    EXPECT_TRUE (e.timecodeLabel.getText().endsWith ("3|2|000  (playing)")) << e.timecodeLabel.getText();

    // The shade's offset moves every eighth tick only.
    for (int tick = 3; tick <= 15; ++tick)
        e.timerCallback();
    EXPECT_EQ (e.shade.tick, 15);
    EXPECT_EQ (e.shade.offset, 1);
    e.timerCallback();
    EXPECT_EQ (e.shade.offset, 2);
    EXPECT_EQ (e.scopeScan.offset, 2);
}

TEST (Editor, ZoomScalesTheWholeDesignAndSurvivesARestart)
{
    const auto scaleOf = [] (const juce::Component& c) { return c.getTransform().mat00; };

    {
        EditorRig rig;
        EXPECT_EQ (rig.editor->getZoom(), 100); // nothing stored yet
        EXPECT_FLOAT_EQ (scaleOf (*rig.editor), 1.0f);

        rig.editor->setZoom (150, true);
        EXPECT_FLOAT_EQ (scaleOf (*rig.editor), 1.5f);
        // The layout stays in design coordinates.
        EXPECT_EQ (rig.editor->getWidth(), 1119);
        EXPECT_EQ (rig.editor->initPatchBtn.getBounds(), juce::Rectangle<int> (759, 10, 50, 32));
        EXPECT_NEAR (rig.editor->getBoundsInParent().getWidth(), 1119 * 1.5, 1.0);

        for (int notAStep : { 0, 99, 300, -150 })
        {
            rig.editor->setZoom (notAStep, true);
            EXPECT_EQ (rig.editor->getZoom(), 150) << notAStep;
        }

        // A host's display scale comes on top of the zoom; nonsense from a host counts as 1.
        rig.editor->setScaleFactor (2.0f);
        EXPECT_FLOAT_EQ (scaleOf (*rig.editor), 3.0f);
        rig.editor->setScaleFactor (std::numeric_limits<float>::quiet_NaN());
        EXPECT_FLOAT_EQ (scaleOf (*rig.editor), 1.5f);
    }

    // The next editor (a restart) opens at the chosen zoom.
    {
        EditorRig rig;
        EXPECT_EQ (rig.editor->getZoom(), 150);
        EXPECT_FLOAT_EQ (scaleOf (*rig.editor), 1.5f);
    }

    // A stored value that is no step of the menu gives 100 %.
    const auto file = kvAPE::zoomFile (kvAP().fileIO);
    for (auto* text : { "", "abc", "0", "1e9", "150x", "-75", "nan", "99999999999999999999" })
    {
        ASSERT_TRUE (file.replaceWithText (text));
        EXPECT_EQ (kvAPE::readStoredZoom (kvAP().fileIO), 100) << text;
    }
    ASSERT_TRUE (file.replaceWithText ("75\n"));
    EXPECT_EQ (kvAPE::readStoredZoom (kvAP().fileIO), 75);
    file.deleteFile();
}
