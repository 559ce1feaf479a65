// Control commands of the emulated sensor.
#include "sim/sim_control.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "fpgen.h"
#include "protocol/sensor_frames.h"
#include "sim/frame_image.h"

namespace sim {

namespace {

std::string hex(const std::vector<uint8_t> &bytes)
{
    std::string out;
    char b[3];
    for (uint8_t v : bytes) {
        snprintf(b, sizeof b, "%02X", v);
        out += b;
    }
    return out;
}

std::vector<uint8_t> unhex(const std::string &text)
{
    if (text.size() % 2)
        throw std::invalid_argument("odd number of hex digits");
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

int intArg(std::istringstream &in, const char *what)
{
    std::string word;
    if (!(in >> word))
        throw std::invalid_argument(std::string("missing ") + what);
    size_t used = 0;
    const int v = std::stoi(word, &used);
    if (used != word.size())
        throw std::invalid_argument(std::string("bad ") + what);
    return v;
}

// The emulated sensor's fingers are the generator's easy style: the tests
// and the demo name them by number and rely on their pixels.
void placeGenerated(SensorModel &model, std::istringstream &args)
{
    const int finger = intArg(args, "finger number");
    int impression = -1;
    std::string word;
    if (args >> word)
        impression = std::stoi(word);
    if (finger < 0)
        throw std::invalid_argument("finger number must not be negative");
    if (impression >= 0) {
        const fpgen::Frame f = fpgen::render_frame(fpgen::kDefaultSeed, finger, impression, fpgen::Style::easy);
        model.placeFrame(std::vector<uint8_t>(f.begin(), f.end()));
        return;
    }
    model.placeSource([finger](int capture) {
        const fpgen::Frame f = fpgen::render_frame(fpgen::kDefaultSeed, finger, capture, fpgen::Style::easy);
        return std::vector<uint8_t>(f.begin(), f.end());
    });
}

std::string state(Testbed &tb, int dev)
{
    SensorModel &model = tb.model(dev);
    std::ostringstream out;
    out << "ok plugged=" << tb.plugged(dev) << " claimed=" << tb.interfaceClaimed(dev)
        << " driver=" << tb.kernelDriverBound(dev) << " capturing=" << model.capturing()
        << " finger=" << model.fingerPlaced() << " frames=" << model.framesSent();
    return out.str();
}

std::string dispatch(Testbed &tb, const std::string &line)
{
    const int dev = tb.firstSensor();
    if (dev < 0)
        return "err no emulated sensor";
    SensorModel &model = tb.model(dev);
    std::istringstream args(line);
    std::string cmd;
    args >> cmd;

    if (cmd == "place") {
        std::string path;
        std::getline(args >> std::ws, path);
        if (path.empty())
            return "err place needs a file";
        model.placeFrame(frameFromFile(path));
    } else if (cmd == "place-finger") {
        placeGenerated(model, args);
    } else if (cmd == "lift") {
        model.lift();
    } else if (cmd == "place-empty") {
        // The bare sensor: nothing on it but what the artefacts add.
        std::vector<uint16_t> white(VL_IMG_PIXELS, 4095);
        std::vector<uint8_t> frame(VL_FRAME_SIZE);
        packFrame(white.data(), frame.data());
        model.placeFrame(frame);
    } else if (cmd == "artefacts") {
        std::string rest;
        std::getline(args, rest);
        Artefacts a = model.artefacts();
        parseArtefacts(rest, a);
        model.setArtefacts(a);
        return "ok " + a.describe();
    } else if (cmd == "delay") {
        model.delayNextFrame(intArg(args, "milliseconds"));
    } else if (cmd == "fault") {
        std::string kind;
        args >> kind;
        if (kind == "short")
            model.failNextCapture(Fault::ShortFrame);
        else if (kind == "stall")
            model.failNextCapture(Fault::Stall);
        else if (kind == "ioerror")
            model.failNextCapture(Fault::IoError);
        else if (kind == "none")
            model.failNextCapture(Fault::None);
        else
            return "err fault is short, stall, ioerror or none";
    } else if (cmd == "queue") {
        std::string text;
        args >> text;
        model.queueBytes(unhex(text));
    } else if (cmd == "unplug") {
        tb.unplug(dev);
    } else if (cmd == "replug") {
        tb.replug(dev);
    } else if (cmd == "commands") {
        const auto writes = model.writes();
        std::string out = "ok " + std::to_string(writes.size());
        for (const auto &w : writes)
            out += " " + hex(w);
        return out;
    } else if (cmd == "hold-writes") {
        std::string onOff;
        args >> onOff;
        if (onOff != "on" && onOff != "off")
            return "err hold-writes on|off";
        model.holdWrites(onOff == "on");
    } else if (cmd == "clear-commands") {
        model.clearWrites();
    } else if (cmd == "state") {
        return state(tb, dev);
    } else if (cmd == "testbed") {
        return "ok " + tb.rootDir();
    } else {
        return "err unknown command '" + cmd + "'";
    }
    return "ok";
}

} // namespace

std::string runControl(Testbed &testbed, const std::string &line)
{
    try {
        return dispatch(testbed, line);
    } catch (const std::exception &e) {
        return std::string("err ") + e.what();
    }
}

} // namespace sim
