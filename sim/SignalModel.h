// What the amplifier inputs of one board see: per channel an alpha rhythm that
// waxes and wanes, white and slow noise, mains hum and an electrode offset;
// the ADS1299 internal inputs (shorted, supply, temperature, test signal); the
// lead-off drive used for impedance; and the accelerometer. Seeded, so a seed
// gives the same signals every run.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/Rng.h"

namespace sim {

// Internal test signal as set by the board commands "0 - = p [ ]".
enum class TestSignal { None, Ground, Slow1x, Fast1x, Dc, Slow2x, Fast2x };

struct ChannelTraits {
    double alphaUv = 0;      // peak of the alpha rhythm
    double alphaHz = 10;
    double alphaPhase = 0;
    double waxHz = 0.2;      // how fast the rhythm waxes and wanes
    double waxPhase = 0;
    double mainsUv = 0;      // peak of the mains hum
    double mainsPhase = 0;
    double noiseUv = 0;      // white noise, standard deviation
    double wanderUv = 0;     // slow wander, standard deviation
    double dcUv = 0;         // electrode offset
    double electrodeOhms = 0;
};

class SignalModel {
public:
    static constexpr double kMainsHz = 50.0;
    static constexpr double kLeadOffHz = 31.25;      // lead-off drive: a square wave of this frequency
    static constexpr double kLeadOffAmps = 6e-9;     // and this peak current
    static constexpr double kSeriesOhms = 2200;      // the board's resistor in front of every input
    static constexpr double kTestUv = 4.5e6 / 2400;  // 1x test signal amplitude, 1.875 mV
    static constexpr double kSlowTestHz = 2.048e6 / (1 << 21);
    static constexpr double kFastTestHz = 2.048e6 / (1 << 20);

    explicit SignalModel(std::uint64_t seed, int channels = 16);

    // Microvolts at the input of channel ch (0-based) at board time t seconds,
    // for the channel's input type code (0..7). Draws one sample of noise, so
    // it is called once per sample of a channel, in time order.
    double sampleUv(int ch, double t, int inputType, TestSignal test, bool leadOffP, bool leadOffN);
    // The noise-free part of a Normal input (tests compare against it).
    double cleanUv(int ch, double t) const;
    // Accelerometer reading in g at board time t: gravity on Y, a small tilt on X and Z.
    std::array<double, 3> accelG(double t);

    int channels() const { return static_cast<int>(traits_.size()); }
    const ChannelTraits& traits(int ch) const { return traits_[ch]; }
    void setElectrodeOhms(int ch, double ohms) { traits_[ch].electrodeOhms = ohms; }

private:
    std::vector<ChannelTraits> traits_;
    std::vector<double> wander_;
    Rng rng_;
};

}  // namespace sim
