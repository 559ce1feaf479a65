// The emulated sensor's capture protocol.
#include "sim/sensor_model.h"

#include <cerrno>

#include "protocol/sensor_frames.h"

namespace sim {

void SensorModel::hostWrote(const uint8_t *bytes, size_t length)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_writes.emplace_back(bytes, bytes + length);
    switch (commandFrameCode(bytes, static_cast<int>(length))) {
    case VL_CMD_CAPTURE_BEGIN:
    case VL_CMD_VERIFY_BEGIN:
        m_capturing = true;
        m_captureStart = Clock::now();
        break;
    case VL_CMD_CAPTURE_END: m_capturing = false; break;
    default: break;
    }
}

std::vector<uint8_t> SensorModel::nextFrameLocked()
{
    std::vector<uint8_t> frame = m_source ? m_source(m_sourceFrames++) : m_frame;
    if (m_artefacts.any() && frame.size() == VL_FRAME_SIZE) {
        uint16_t samples[VL_IMG_PIXELS];
        unpackFrame(frame.data(), samples);
        m_artefacts.apply(samples, m_framesSent);
        packFrame(samples, frame.data());
    }
    return frame;
}

void SensorModel::setArtefacts(const Artefacts &artefacts)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_artefacts = artefacts;
}

Artefacts SensorModel::artefacts() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_artefacts;
}

InReply SensorModel::pollIn(size_t maxLength)
{
    std::lock_guard<std::mutex> guard(m_lock);
    InReply reply;
    if (m_inStream.empty() && m_capturing && Clock::now() >= m_captureStart + std::chrono::milliseconds(m_delayMs)) {
        const Fault fault = m_fault;
        const bool finger = m_source || !m_frame.empty();
        if (fault == Fault::Stall || fault == Fault::IoError) {
            m_capturing = false;
            m_fault = Fault::None;
            m_delayMs = 0;
            reply.ready = true;
            reply.status = fault == Fault::Stall ? -EPIPE : -EPROTO;
            return reply;
        }
        if (fault == Fault::ShortFrame || finger) {
            std::vector<uint8_t> frame = finger ? nextFrameLocked() : std::vector<uint8_t>();
            frame.resize(VL_FRAME_SIZE);
            if (fault == Fault::ShortFrame)
                frame.resize(VL_FRAME_SIZE / 2);
            m_inStream.insert(m_inStream.end(), frame.begin(), frame.end());
            m_capturing = false;
            m_fault = Fault::None;
            m_delayMs = 0;
            ++m_framesSent;
        }
    }
    if (m_inStream.empty())
        return reply;
    const size_t n = maxLength < m_inStream.size() ? maxLength : m_inStream.size();
    reply.ready = true;
    reply.bytes.assign(m_inStream.begin(), m_inStream.begin() + static_cast<long>(n));
    m_inStream.erase(m_inStream.begin(), m_inStream.begin() + static_cast<long>(n));
    return reply;
}

void SensorModel::placeFrame(std::vector<uint8_t> frame)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_frame = std::move(frame);
    m_source = nullptr;
}

void SensorModel::placeSource(FrameSource source)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_source = std::move(source);
    m_sourceFrames = 0;
    m_frame.clear();
}

void SensorModel::lift()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_frame.clear();
    m_source = nullptr;
}

void SensorModel::delayNextFrame(int ms)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_delayMs = ms < 0 ? 0 : ms;
}

void SensorModel::failNextCapture(Fault fault)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_fault = fault;
}

void SensorModel::queueBytes(const std::vector<uint8_t> &bytes)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_inStream.insert(m_inStream.end(), bytes.begin(), bytes.end());
}

void SensorModel::clearWrites()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_writes.clear();
}

void SensorModel::holdWrites(bool hold)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_holdWrites = hold;
}

bool SensorModel::writesHeld() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_holdWrites;
}

std::vector<std::vector<uint8_t>> SensorModel::writes() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_writes;
}

bool SensorModel::capturing() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_capturing;
}

bool SensorModel::fingerPlaced() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_source || !m_frame.empty();
}

int SensorModel::framesSent() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_framesSent;
}

} // namespace sim
