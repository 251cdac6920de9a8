// The 32 factory sounds. Times are seconds, the filter is cutoff in Hz and Q,
// tuning is semitones and cents, depths are fractions of a parameter's range
// (negative: downwards), LFO rates are note lengths at the host's tempo.
// Levels were balanced by measuring each sound on its category's phrase
// (`make gallery`, docs/gallery).
#include "FactoryRecipes.h"

namespace Factory
{
namespace
{
    constexpr auto A = Osc::a;
    constexpr auto B = Osc::b;

    std::vector<Recipe> makeRecipes()
    {
        std::vector<Recipe> bank;
        const auto add = [&bank] (Recipe r) { bank.push_back (std::move (r)); };

        //==============================================================================
        // Bass: one voice per layer (a new note takes over the old one), short
        // envelopes, the filter envelope for the bite, a little glide on two.
        add (Recipe ("Sub Bass", Category::bass, "A sine with a triangle an octave up; a click of filter envelope on each note")
                .wave (A, "sine_og").level (A, 1.0f).voices (A, 1).amp (A, 0.003, 0.3, 0.9f, 0.06)
                .wave (B, "triangle_og").tune (B, 12).level (B, 0.25f).voices (B, 1).amp (B, 0.003, 0.3, 0.9f, 0.06)
                .filter (900.0, 0.7)
                .env (1, "cutoff", 0.15f, 0.0, 0.08, 0.0f, 0.05)
                .master (1.0f));

        add (Recipe ("Rubber Bass", Category::bass, "Mellow saw and square under a resonant filter that snaps open on every note; slight glide")
                .wave (A, "sawtooth_og").level (A, 0.8f).voices (A, 1).glide (A, 0.12f).amp (A, 0.002, 0.5, 0.6f, 0.08)
                .wave (B, "square_og").tune (B, 0, 8.0f).level (B, 0.4f).voices (B, 1).glide (B, 0.12f).amp (B, 0.002, 0.5, 0.6f, 0.08)
                .filter (150.0, 3.0)
                .env (1, "cutoff", 0.3f, 0.0, 0.18, 0.1f, 0.1)
                .master (1.0f));

        add (Recipe ("Acid Bass", Category::bass, "Square through a screaming resonance, a fast filter decay, glide and a touch of drive")
                .wave (A, "pulse_if_full", 0.5f).level (A, 0.9f).voices (A, 1).glide (A, 0.35f).amp (A, 0.002, 0.4, 0.7f, 0.06)
                .level (B, 0.0f)
                .filter (300.0, 9.0)
                .env (1, "cutoff", 0.6f, 0.0, 0.3, 0.0f, 0.1)
                .drive (0.12f)
                .master (0.22f));

        add (Recipe ("Drive Bass", Category::bass, "Soft square and sine pushed hard into the overdrive, then tamed by the filter")
                .wave (A, "square_soft", 0.3f).level (A, 0.8f).voices (A, 1).amp (A, 0.002, 0.6, 0.7f, 0.1)
                .wave (B, "sine_og").level (B, 0.6f).voices (B, 1).amp (B, 0.002, 0.6, 0.7f, 0.1)
                .drive (0.3f)
                .filter (2400.0, 1.5)
                .env (1, "cutoff", 0.3f, 0.0, 0.3, 0.0f, 0.1)
                .master (0.32f));

        //==============================================================================
        // Lead: mono with glide, a supersaw, a chip square, a breathy flute.
        add (Recipe ("Glide Lead", Category::lead, "Mono saws that slide between notes, with a vibrato that fades in on each note")
                .sustained()
                .wave (A, "sawtooth_mod").level (A, 0.8f).voices (A, 1).glide (A, 0.45f).tune (A, 0, -10.0f).amp (A, 0.01, 0.3, 0.85f, 0.15)
                .wave (B, "sawtooth_og").tune (B, 0, 7.0f).level (B, 0.5f).voices (B, 1).glide (B, 0.45f).amp (B, 0.01, 0.3, 0.85f, 0.15)
                .filter (2800.0, 2.0)
                .lfo (1, "synth1_microtune", "sine_og", "1/8", 0.1f, true).raw ("lfo1_attack", 0.9f)
                .master (0.6f));

        add (Recipe ("Supersaw Lead", Category::lead, "Seven detuned saws with five more an octave up")
                .sustained()
                .wave (A, "sawtooth_mod").unison (A, 7, 0.3f).level (A, 1.0f).voices (A, 4).amp (A, 0.04, 0.5, 0.8f, 0.25)
                .wave (B, "sawtooth_mod").tune (B, 12).unison (B, 5, 0.25f).level (B, 0.6f).voices (B, 4).amp (B, 0.04, 0.5, 0.8f, 0.25)
                .filter (6000.0, 0.8)
                .master (1.0f));

        add (Recipe ("Chip Lead", Category::lead, "A stepped duty-cycle square over a square an octave down, instant on and off")
                .sustained()
                .wave (A, "game_dude_square", 0.25f, 0.35f).tune (A, 0, -6.0f).level (A, 0.8f).voices (A, 1).amp (A, 0.001, 0.1, 0.9f, 0.05)
                .wave (B, "pulse_og", 0.5f).tune (B, -12).level (B, 0.3f).voices (B, 1).amp (B, 0.001, 0.1, 0.9f, 0.05)
                .filter (12000.0, 0.7)
                .lfo (1, "synth1_microtune", "sine_og", "1/8", 0.06f)
                .master (0.8f));

        add (Recipe ("Flute Lead", Category::lead, "Sine with breath noise and a soft octave, slow to speak, delayed vibrato")
                .sustained()
                .wave (A, "sine_og").noise (A, 0.3f).tune (A, 0, -6.0f).level (A, 1.0f).voices (A, 1).glide (A, 0.1f).amp (A, 0.08, 0.3, 0.9f, 0.2)
                .wave (B, "triangle_og").tune (B, 12).level (B, 0.2f).voices (B, 1).amp (B, 0.08, 0.3, 0.9f, 0.2)
                .filter (2500.0, 1.0)
                .lfo (1, "synth1_microtune", "sine_og", "1/8", 0.06f, true).raw ("lfo1_attack", 0.9f)
                .master (1.0f));

        //==============================================================================
        // Pad: unison and detune, slow attack, long release, slow LFOs.
        add (Recipe ("Warm Pad", Category::pad, "Six mellow saws and a low triangle stack, the filter breathing over two bars")
                .sustained()
                .wave (A, "sawtooth_og").unison (A, 6, 0.2f).level (A, 1.0f).voices (A, 6).amp (A, 1.0, 1.0, 0.9f, 2.0)
                .wave (B, "triangle_og").tune (B, -12).unison (B, 3, 0.12f).level (B, 0.5f).voices (B, 6).amp (B, 1.0, 1.0, 0.9f, 2.0)
                .filter (1400.0, 1.0)
                .lfo (1, "cutoff", "sine_og", "2/1", 0.1f)
                .master (1.0f));

        add (Recipe ("Glass Pad", Category::pad, "Sines with partials at 2, 3 and 8 times the pitch, the two sections panning against each other")
                .sustained()
                .wave (A, "sine_string", 0.3f).unison (A, 4, 0.15f).level (A, 1.0f).voices (A, 6).pan (A, 0.3f).amp (A, 0.6, 1.0, 0.8f, 2.5)
                .wave (B, "super_sine_theory", 0.2f).tune (B, 12).unison (B, 3, 0.1f).level (B, 0.5f).voices (B, 6).pan (B, 0.7f).amp (B, 0.6, 1.0, 0.8f, 2.5)
                .filter (9000.0, 0.7)
                .lfo (1, "synth1_pan", "triangle_og", "1/1", 0.4f)
                .lfo (2, "synth2_pan", "triangle_og", "1/1", -0.4f)
                .master (0.8f));

        add (Recipe ("Dark Pad", Category::pad, "Eight wide soft squares over a sub sine; the filter opens slowly while held")
                .sustained()
                .wave (A, "square_soft", 0.1f).unison (A, 8, 0.35f).level (A, 1.0f).voices (A, 6).amp (A, 1.5, 1.0, 1.0f, 3.0)
                .wave (B, "sine_og").tune (B, -12).level (B, 0.5f).voices (B, 6).amp (B, 1.5, 1.0, 1.0f, 3.0)
                .filter (300.0, 2.0)
                .env (1, "cutoff", 0.25f, 2.5, 1.0, 1.0f, 3.0, false)
                .master (0.5f));

        add (Recipe ("String Ensemble", Category::pad, "Two stacks of eight naive saws, an octave apart, with a slow ensemble vibrato")
                .sustained()
                .wave (A, "sawtooth_mod").unison (A, 8, 0.25f).tune (A, 0, -4.0f).level (A, 1.0f).voices (A, 6).amp (A, 0.3, 0.5, 0.9f, 0.8)
                .wave (B, "sawtooth_mod").tune (B, 12).unison (B, 8, 0.3f).level (B, 0.35f).voices (B, 6).amp (B, 0.3, 0.5, 0.9f, 0.8)
                .filter (4000.0, 0.8)
                .lfo (1, "synth1_microtune", "sine_og", "1/4", 0.04f)
                .master (0.9f));

        //==============================================================================
        // Pluck: a fast filter envelope, no sustain.
        add (Recipe ("Bright Pluck", Category::pluck, "Two detuned naive saws; the filter envelope snaps shut in a fifth of a second")
                .wave (A, "sawtooth_mod").level (A, 0.8f).voices (A, 8).amp (A, 0.001, 0.45, 0.0f, 0.3)
                .wave (B, "sawtooth_mod").tune (B, 0, 9.0f).level (B, 0.6f).voices (B, 8).amp (B, 0.001, 0.45, 0.0f, 0.3)
                .filter (300.0, 2.0)
                .env (1, "cutoff", 0.8f, 0.0, 0.25, 0.0f, 0.2)
                .master (0.25f));

        add (Recipe ("Harp Pluck", Category::pluck, "Triangle with a decaying octave partial, long and soft")
                .wave (A, "triangle_og").level (A, 0.9f).voices (A, 8).amp (A, 0.001, 1.2, 0.0f, 0.8)
                .wave (B, "sine_string", 0.2f).tune (B, 12).level (B, 0.5f).voices (B, 8).amp (B, 0.001, 0.4, 0.0f, 0.4)
                .filter (5000.0, 0.7)
                .master (0.6f));

        add (Recipe ("Muted Pluck", Category::pluck, "A pulse through a resonant filter, gone in a tenth of a second")
                .wave (A, "pulse_og", 0.4f).level (A, 0.9f).voices (A, 8).amp (A, 0.001, 0.12, 0.0f, 0.08)
                .level (B, 0.0f)
                .filter (400.0, 6.0)
                .env (1, "cutoff", 0.35f, 0.0, 0.06, 0.0f, 0.05)
                .master (0.25f));

        add (Recipe ("Crush Pluck", Category::pluck, "A bit-crushed sine that grows coarser as it decays, with an octave ping, its grit filtered soft")
                .wave (A, "sine_crush", 0.3f, 0.1f).level (A, 0.9f).voices (A, 8).amp (A, 0.001, 0.3, 0.0f, 0.3)
                .wave (B, "sine_og").tune (B, 12).level (B, 0.3f).voices (B, 8).amp (B, 0.001, 0.15, 0.0f, 0.1)
                .filter (4500.0, 0.7)
                .env (1, "synth1_param2", 0.5f, 0.0, 0.2, 0.0f, 0.1)
                .master (0.6f));

        //==============================================================================
        // Keys
        add (Recipe ("Electric Piano", Category::keys, "Sine body with a short bright tine, auto-panned in eighths")
                .wave (A, "sine_og").level (A, 1.0f).voices (A, 8).pan (A, 0.3f).amp (A, 0.002, 2.5, 0.25f, 0.4)
                .wave (B, "super_sine_theory", 0.316f).level (B, 0.4f).voices (B, 8).amp (B, 0.001, 0.25, 0.0f, 0.2)
                .filter (8000.0, 0.7)
                .velocity (0.2f, 1.0f, 0.0f)
                .lfo (1, "synth1_pan", "sine_og", "1/8", 0.4f)
                .master (0.27f));

        add (Recipe ("Drawbar Organ", Category::keys, "Drawbars at 8', 4' and 1 1/3' from two sine pairs; no velocity, a fast tremolo")
                .sustained()
                .wave (A, "sine_string", 0.2f).level (A, 0.8f).voices (A, 8).amp (A, 0.003, 0.1, 1.0f, 0.05)
                .wave (B, "sine_string", 0.3f).tune (B, 12).level (B, 0.5f).voices (B, 8).amp (B, 0.003, 0.1, 1.0f, 0.05)
                .filter (9000.0, 0.7)
                .velocity (1.0f, 1.0f, 0.0f)
                .lfo (1, "synth1_volume", "sine_og", "1/16", -0.2f)
                .master (0.4f));

        add (Recipe ("Clav", Category::keys, "Narrow pulses through a resonant filter that bites on every key")
                .wave (A, "pulse_og", 0.7f).level (A, 0.8f).voices (A, 8).amp (A, 0.001, 0.6, 0.15f, 0.06)
                .wave (B, "pulse_og", 0.3f).tune (B, 12).level (B, 0.3f).voices (B, 8).amp (B, 0.001, 0.6, 0.15f, 0.06)
                .filter (600.0, 5.0)
                .env (1, "cutoff", 0.5f, 0.0, 0.15, 0.2f, 0.1)
                .master (0.18f));

        add (Recipe ("Felt Piano", Category::keys, "Soft triangle with a fading octave, dark and slow to die away")
                .wave (A, "triangle_og").level (A, 1.0f).voices (A, 8).amp (A, 0.004, 3.0, 0.0f, 1.0)
                .wave (B, "sine_og").tune (B, 12).level (B, 0.3f).voices (B, 8).amp (B, 0.004, 1.5, 0.0f, 0.6)
                .filter (1200.0, 0.7)
                .env (1, "cutoff", 0.2f, 0.0, 0.6, 0.0f, 0.3)
                .velocity (0.1f, 1.0f, 0.0f)
                .master (0.5f));

        //==============================================================================
        // Bell and mallet: bright, inharmonic partials, long decays.
        add (Recipe ("Tubular Bell", Category::bell, "Partials at 1, 2, 2.4 and 5.4 times the pitch, ringing for seconds")
                .wave (A, "super_sine_theory", 0.155f).level (A, 0.9f).voices (A, 8).amp (A, 0.001, 4.0, 0.0f, 2.5)
                .wave (B, "nebula_venom", 0.1f, 0.27f).tune (B, 12).level (B, 0.4f).voices (B, 8).amp (B, 0.001, 2.0, 0.0f, 1.5)
                .filter (9000.0, 0.7)
                .master (0.5f));

        add (Recipe ("Glass Bell", Category::bell, "A high sine with a partial at 2.7 times, and a short ping two octaves up")
                .wave (A, "sine_stringB", 0.07f).tune (A, 12).level (A, 0.9f).voices (A, 8).amp (A, 0.001, 2.5, 0.0f, 2.0)
                .wave (B, "sine_og").tune (B, 24).level (B, 0.3f).voices (B, 8).amp (B, 0.001, 0.3, 0.0f, 0.2)
                .filter (16000.0, 0.7)
                .master (0.6f));

        add (Recipe ("Marimba", Category::bell, "The bar's partials at 1, 4 and 10 times, woody and short")
                .wave (A, "sine_string", 0.4f).tune (A, -12).level (A, 0.9f).voices (A, 8).amp (A, 0.001, 0.5, 0.0f, 0.4)
                .wave (B, "sine_string", 1.0f).tune (B, -12).level (B, 0.25f).voices (B, 8).amp (B, 0.001, 0.12, 0.0f, 0.1)
                .filter (9000.0, 0.7)
                .master (1.0f));

        add (Recipe ("Steel Drum", Category::bell, "Harmonics 1, 2 and 3 with a pitch blip at the strike")
                .wave (A, "nebula_venom", 0.1f, 0.2f).level (A, 0.9f).voices (A, 8).amp (A, 0.001, 2.5, 0.0f, 0.6)
                .wave (B, "super_sine_theory", 0.173f).level (B, 0.4f).voices (B, 8).amp (B, 0.001, 0.5, 0.0f, 0.3)
                .filter (6000.0, 0.7)
                .env (1, "synth1_microtune", 0.1f, 0.0, 0.05, 0.0f, 0.05)
                .master (0.9f));

        //==============================================================================
        // Sequence: held notes, the rhythm from tempo-synced LFOs.
        add (Recipe ("Trance Gate", Category::sequence, "A supersaw chord chopped into sixteenths by square LFOs on both volumes")
                .sustained()
                .wave (A, "sawtooth_mod").unison (A, 5, 0.25f).level (A, 1.0f).voices (A, 4).amp (A, 0.002, 0.3, 1.0f, 0.3)
                .wave (B, "sawtooth_mod").tune (B, 12).unison (B, 3, 0.2f).level (B, 0.4f).voices (B, 4).amp (B, 0.002, 0.3, 1.0f, 0.3)
                .filter (3500.0, 1.5)
                .lfo (1, "synth1_volume", "square_if", "1/16", -0.9f, true)
                .lfo (2, "synth2_volume", "square_if", "1/16", -0.4f, true)
                .master (0.75f));

        add (Recipe ("Wobble Bass", Category::sequence, "Saw and sub square under a resonant filter swept in eighths")
                .sustained()
                .wave (A, "sawtooth_mod").level (A, 0.9f).voices (A, 2).amp (A, 0.002, 0.3, 1.0f, 0.1)
                .wave (B, "square_if").tune (B, -12).level (B, 0.4f).voices (B, 2).amp (B, 0.002, 0.3, 1.0f, 0.1)
                .filter (200.0, 6.0)
                .lfo (1, "cutoff", "sine_og", "1/8", 0.45f, true)
                .drive (0.08f)
                .master (0.2f));

        add (Recipe ("Octave Hop", Category::sequence, "A pulse jumping an octave every sixteenth over a steady triangle")
                .sustained()
                .wave (A, "pulse_if_full", 0.35f).level (A, 0.8f).voices (A, 2).amp (A, 0.002, 0.3, 1.0f, 0.1)
                .wave (B, "triangle_og").level (B, 0.5f).voices (B, 2).amp (B, 0.002, 0.3, 1.0f, 0.1)
                .filter (2500.0, 3.0)
                .lfo (1, "synth1_tune", "square_if", "1/16", 0.25f, true)
                .lfo (2, "cutoff", "sine_og", "1/1", 0.25f, true)
                .master (0.42f));

        add (Recipe ("Filter Steps", Category::sequence, "Saws that strike and fall away on every eighth: ramp LFOs on the filter and the volume")
                .sustained()
                .wave (A, "sawtooth_mod").tune (A, 12).unison (A, 3, 0.15f).level (A, 0.9f).voices (A, 4).amp (A, 0.002, 0.3, 1.0f, 0.2)
                .level (B, 0.0f)
                .filter (4000.0, 3.0)
                .lfo (1, "cutoff", "sawtooth_mod", "1/8", -0.5f, true)
                .lfo (2, "synth1_volume", "sawtooth_mod", "1/8", -0.8f, true)
                .master (0.55f));

        //==============================================================================
        // Effects and texture: noise, slow sweeps, rising pitch, broken timbres.
        add (Recipe ("Wind", Category::texture, "Noise-jittered saws through a whistling filter that sweeps over two bars")
                .sustained()
                .wave (A, "sawtooth_mod").noise (A, 0.99f).level (A, 0.9f).voices (A, 4).amp (A, 0.8, 1.0, 1.0f, 1.5)
                .level (B, 0.0f)
                .filter (800.0, 12.0)
                .lfo (1, "cutoff", "triangle_og", "2/1", 0.35f)
                .lfo (2, "synth1_pan", "sine_og", "1/1", 0.6f)
                .pan (A, 0.2f)
                .master (0.2f));

        add (Recipe ("Space Drone", Category::texture, "A wide stack of sub-octave and fifth partials with a slowly shifting shape above")
                .sustained()
                .wave (A, "nebula_venom", 0.05f, 0.15f).unison (A, 6, 0.4f).level (A, 1.0f).voices (A, 2).amp (A, 2.0, 1.0, 1.0f, 2.5)
                .wave (B, "miasma", 0.6f).tune (B, 12).unison (B, 3, 0.3f).level (B, 0.6f).voices (B, 2).amp (B, 2.0, 1.0, 1.0f, 2.5)
                .filter (1500.0, 2.0)
                .lfo (1, "synth2_param1", "triangle_og", "4/1", 0.3f)
                .master (1.0f));

        add (Recipe ("Noise Riser", Category::texture, "Noisy saw climbing two octaves in semitone steps over three seconds as the filter opens")
                .sustained()
                .wave (A, "sawtooth_mod").noise (A, 0.6f).level (A, 0.8f).voices (A, 2).amp (A, 1.5, 1.0, 1.0f, 0.5)
                .level (B, 0.0f)
                .filter (300.0, 2.0)
                .env (1, "synth1_tune", 0.5f, 3.0, 1.0, 1.0f, 0.5, false)
                .env (2, "cutoff", 0.6f, 3.0, 1.0, 1.0f, 0.5, false)
                .master (0.6f));

        add (Recipe ("Broken Radio", Category::texture, "Sparse harmonics full of static through a narrow resonance, stuttering in 32nds and skipping on every beat")
                .sustained()
                .wave (A, "fourier_spec", 0.0f, 1.0f).tune (A, 12).noise (A, 0.5f).level (A, 0.9f).voices (A, 2).amp (A, 0.01, 0.3, 1.0f, 0.3)
                .level (B, 0.0f)
                .filter (1800.0, 10.0)
                .lfo (1, "synth1_volume", "square_if", "1/32", -0.6f, true)
                .lfo (2, "synth1_param1", "sawtooth_mod", "1/4", 0.1f, true)
                .master (0.36f));

        return bank;
    }
}

const std::vector<Recipe>& recipes()
{
    static const auto bank = makeRecipes();
    return bank;
}
}
