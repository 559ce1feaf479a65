// What the emulated sensor does with the bytes the host sends and when it
// answers: after a begin-capture frame it sends one raw frame once a finger
// is on it (and nothing otherwise); an end-capture frame ends the capture.
// Thread-safe: the usbfs handler and the control socket both drive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sensor_artefacts.h"

namespace sim {

using Clock = std::chrono::steady_clock;

// How the next capture is answered instead of with the finger's frame.
enum class Fault { None, ShortFrame, Stall, IoError };

// What a pending bulk IN request gets.
struct InReply {
    bool ready = false;
    int status = 0; // 0, or a negative errno as usbfs reports it
    std::vector<uint8_t> bytes;
};

// Produces the frame of the n-th capture while a generated finger is placed.
using FrameSource = std::function<std::vector<uint8_t>(int capture)>;

class SensorModel {
public:
    // Bytes the host wrote to the bulk OUT endpoint, one transfer at a time.
    void hostWrote(const uint8_t *bytes, size_t length);
    // Answers a bulk IN request of up to maxLength bytes, or not yet.
    InReply pollIn(size_t maxLength);

    void placeFrame(std::vector<uint8_t> frame);
    void placeSource(FrameSource source);
    void lift();
    // Real-sensor artefacts on every frame sent from now on.
    void setArtefacts(const Artefacts &artefacts);
    Artefacts artefacts() const;
    void delayNextFrame(int ms);
    void failNextCapture(Fault fault);
    // Raw bytes for the IN endpoint, sent ahead of anything else.
    void queueBytes(const std::vector<uint8_t> &bytes);
    void clearWrites();
    // While held, OUT transfers stay pending (a device that does not take data).
    void holdWrites(bool hold);
    bool writesHeld() const;

    std::vector<std::vector<uint8_t>> writes() const;
    bool capturing() const;
    bool fingerPlaced() const;
    int framesSent() const;

private:
    std::vector<uint8_t> nextFrameLocked();

    mutable std::mutex m_lock;
    std::vector<std::vector<uint8_t>> m_writes;
    std::deque<uint8_t> m_inStream;
    bool m_capturing = false;
    Clock::time_point m_captureStart{};
    std::vector<uint8_t> m_frame;
    FrameSource m_source;
    int m_sourceFrames = 0;
    int m_delayMs = 0;
    Fault m_fault = Fault::None;
    int m_framesSent = 0;
    bool m_holdWrites = false;
    Artefacts m_artefacts;
};

} // namespace sim
