#include "sim/SignalModel.h"

#include <cmath>

namespace sim {

namespace {
constexpr double kTwoPi = 2 * M_PI;
// The slow wander is first-order low-pass noise with this pole per sample.
constexpr double kWanderPole = 0.995;

double square(double t, double hz) {
    // A hair past the edge, so that a sample time rounded down keeps its half.
    double ph = t * hz + 1e-9 - std::floor(t * hz + 1e-9);
    return ph < 0.5 ? 1.0 : -1.0;
}
}  // namespace

SignalModel::SignalModel(std::uint64_t seed, int channels) : traits_(channels), wander_(channels, 0.0), rng_(seed) {
    Rng setup(streamSeed(seed, 0x5157));
    double mainsPhase = setup.uniform(0, kTwoPi);  // one mains source for the whole head
    for (auto& c : traits_) {
        c.alphaUv = setup.uniform(8, 30);
        c.alphaHz = setup.uniform(9.2, 10.8);
        c.alphaPhase = setup.uniform(0, kTwoPi);
        c.waxHz = setup.uniform(0.1, 0.35);
        c.waxPhase = setup.uniform(0, kTwoPi);
        c.mainsUv = setup.uniform(2, 15);
        c.mainsPhase = mainsPhase + setup.uniform(-0.2, 0.2);
        c.noiseUv = setup.uniform(1.5, 3.0);
        c.wanderUv = setup.uniform(3, 10);
        double off = setup.uniform(2000, 30000);
        c.dcUv = setup.chance(0.5) ? off : -off;
        c.electrodeOhms = setup.uniform(3e3, 40e3);
    }
}

double SignalModel::cleanUv(int ch, double t) const {
    const ChannelTraits& c = traits_[ch];
    double wax = 0.6 + 0.4 * std::sin(kTwoPi * c.waxHz * t + c.waxPhase);
    return c.dcUv + c.alphaUv * wax * std::sin(kTwoPi * c.alphaHz * t + c.alphaPhase) +
           c.mainsUv * std::sin(kTwoPi * kMainsHz * t + c.mainsPhase);
}

double SignalModel::sampleUv(int ch, double t, int inputType, TestSignal test, bool leadOffP, bool leadOffN) {
    const ChannelTraits& c = traits_[ch];
    double white = rng_.gauss();
    wander_[ch] = kWanderPole * wander_[ch] + std::sqrt(1 - kWanderPole * kWanderPole) * rng_.gauss();
    const int adsPin = ch % 8;
    switch (inputType) {
    case 0: {  // electrode
        double v = cleanUv(ch, t) + c.noiseUv * white + c.wanderUv * wander_[ch];
        int drives = (leadOffP ? 1 : 0) + (leadOffN ? 1 : 0);
        // The current flows through the electrode and the series resistor.
        if (drives) v += drives * kLeadOffAmps * (c.electrodeOhms + kSeriesOhms) * 1e6 * square(t, kLeadOffHz);
        return v;
    }
    case 1:  // inputs shorted: amplifier noise only
        return 0.4 * white;
    case 2:  // bias measurement: the common mode the bias drive fights
        return 0.5 * c.mainsUv * std::sin(kTwoPi * kMainsHz * t + c.mainsPhase) + 0.5 * white;
    case 3:  // supply: DVDD/4 on pins 3 and 4, the mid-supply elsewhere
        return (adsPin == 2 || adsPin == 3 ? 3.3e6 / 4 : 0.0) + 0.5 * white;
    case 4:  // temperature sensor, about 25 degrees
        return 145300 + 0.5 * white;
    case 5: {  // internal test signal
        double v = 0;
        switch (test) {
        case TestSignal::Slow1x: v = kTestUv * square(t, kSlowTestHz); break;
        case TestSignal::Fast1x: v = kTestUv * square(t, kFastTestHz); break;
        case TestSignal::Slow2x: v = 2 * kTestUv * square(t, kSlowTestHz); break;
        case TestSignal::Fast2x: v = 2 * kTestUv * square(t, kFastTestHz); break;
        case TestSignal::Dc: v = kTestUv; break;
        case TestSignal::None:
        case TestSignal::Ground: v = 0; break;
        }
        return v + 0.4 * white;
    }
    default:  // bias drive outputs
        return 0.5 * white;
    }
}

std::array<double, 3> SignalModel::accelG(double t) {
    return {0.06 + 0.01 * std::sin(kTwoPi * 0.1 * t) + 0.002 * rng_.gauss(),
            0.995 + 0.002 * rng_.gauss(),
            -0.08 + 0.01 * std::sin(kTwoPi * 0.07 * t + 1) + 0.002 * rng_.gauss()};
}

}  // namespace sim
