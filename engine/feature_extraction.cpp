#include "engine/feature_extraction.h"

#include <cstring>

#include "engine/alg/fpalg.h"
#include "engine/finger_presence.h"
#include "log/log.h"
#include "protocol/sensor_frames.h"

namespace {

// The 12-bit samples of the frame, row-major.
uint16_t m_samples[VL_IMG_PIXELS];
// The image handed to the library: 10-bit samples, then a zero second half.
uint16_t m_image_buf_16[VL_IMG_PIXELS * 2];
uint8_t m_opImage[FPALG_SCRATCH_SIZE];
// Only the running worker extracts, so a plain flag is enough.
int handle_once_flag = 0;

} // namespace

int CreateFingerPrintMinutiae(const uint8_t *frame, uint8_t *feature, uint8_t *countRecord)
{
    // Initialised once per process, whatever the result: a failed
    // initialisation is logged, not retried.
    if (handle_once_flag == 0) {
        int rtt = FpAlg_Init(5);
        _vllog("%s rtt =%d\n", "CreateFingerPrintMinutiae", rtt);
        handle_once_flag = 1;
    }
    std::memset(m_opImage, 0, sizeof m_opImage);
    std::memset(m_image_buf_16, 0, sizeof m_image_buf_16);
    std::memset(feature, 0, FPALG_TEMPLATE_SIZE);
    std::memset(countRecord, 0, 10);
    std::memset(countRecord + 36, 0, 4);

    unpackFrame(frame, m_samples);
    // No template from a bare sensor: the same answer as the library gives
    // for a blank image, so enrollment waits for the next touch and
    // verification asks for one.
    if (!fingerPresent(m_samples)) {
        vllogstr("no finger on the frame");
        return 0;
    }
    // The library takes the top 10 of the sensor's 12 bits.
    for (int n = 0; n < VL_IMG_PIXELS; ++n)
        m_image_buf_16[n] = static_cast<uint16_t>(m_samples[n] >> 2);
    return FpAlg_CreateTemplate16(m_image_buf_16, m_opImage, VL_IMG_SIDE, VL_IMG_SIDE, feature, countRecord);
}
