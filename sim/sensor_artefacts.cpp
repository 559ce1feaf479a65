// Real-sensor artefacts on emulated frames. Every random choice comes from a
// fixed seed, so a test or a benchmark sees the same sensor every time.
#include "sim/sensor_artefacts.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <stdexcept>

namespace sim {

namespace {

constexpr uint32_t SENSOR_SEED = 2547;
constexpr int SIDE = VL_IMG_SIDE;

double gaussian(std::mt19937 &rng)
{
    std::normal_distribution<double> n(0.0, 1.0);
    return n(rng);
}

} // namespace

bool Artefacts::any() const
{
    return level != 4095 || gain != 1.0 || columnSigma > 0 || noiseSigma > 0 || deadPixels > 0 || half;
}

void Artefacts::apply(uint16_t *samples, int frame) const
{
    // The sensor's fixed pattern: the same for every frame.
    std::mt19937 fixed(SENSOR_SEED);
    double columnOffset[SIDE];
    for (double &c : columnOffset)
        c = columnSigma * gaussian(fixed);
    std::mt19937 noise(SENSOR_SEED + 1 + static_cast<uint32_t>(frame));
    for (int y = 0; y < SIDE; ++y) {
        for (int x = 0; x < SIDE; ++x) {
            const int clean = (half && x >= SIDE / 2) ? 4095 : samples[y * SIDE + x];
            double v = level - gain * (4095 - clean) + columnOffset[x];
            if (noiseSigma > 0)
                v += noiseSigma * gaussian(noise);
            samples[y * SIDE + x] = static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 4095L));
        }
    }
    std::uniform_int_distribution<int> where(0, VL_IMG_PIXELS - 1);
    for (int i = 0; i < deadPixels; ++i)
        samples[where(fixed)] = (i % 2) ? 4095 : 0;
}

std::string Artefacts::describe() const
{
    std::ostringstream out;
    out << "level=" << level << " gain=" << gain << " columns=" << columnSigma << " noise=" << noiseSigma
        << " dead=" << deadPixels << " half=" << half;
    return out.str();
}

void parseArtefacts(const std::string &words, Artefacts &a)
{
    std::istringstream in(words);
    std::string key;
    Artefacts out = a;
    while (in >> key) {
        if (key == "none") {
            out = Artefacts{};
            continue;
        }
        std::string value;
        if (!(in >> value))
            throw std::invalid_argument(key + " needs a value");
        size_t used = 0;
        if (key == "half") {
            if (value != "on" && value != "off")
                throw std::invalid_argument("half is on or off");
            out.half = value == "on";
            continue;
        }
        const double v = std::stod(value, &used);
        if (used != value.size() || !std::isfinite(v) || v < 0)
            throw std::invalid_argument("bad value for " + key);
        if (key == "level" && v <= 4095)
            out.level = static_cast<int>(v);
        else if (key == "gain" && v <= 4)
            out.gain = v;
        else if (key == "columns" && v <= 4095)
            out.columnSigma = v;
        else if (key == "noise" && v <= 4095)
            out.noiseSigma = v;
        else if (key == "dead" && v <= VL_IMG_PIXELS)
            out.deadPixels = static_cast<int>(v);
        else
            throw std::invalid_argument("unknown artefact or value out of range: " + key + " " + value);
    }
    a = out;
}

} // namespace sim
