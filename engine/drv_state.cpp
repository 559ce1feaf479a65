#include "engine/drv_state.h"

#include <cstring>

char m_usrname[64];
char m_finger[64];
char m_verifyUser[64];
char m_matchedFinger[64];

uint8_t m_opFeatureArr[VL_FEATURE_SLOTS * FPALG_TEMPLATE_SIZE];
uint8_t m_opnCharNumArr[VL_FEATURE_SLOTS * FPALG_COUNT_RECORD_SIZE];
uint8_t m_opFeatureLastMerge[FPALG_TEMPLATE_SIZE];
uint8_t m_opFeatureOut[FPALG_TEMPLATE_SIZE];
uint8_t m_opFeatureRecord[FPALG_TEMPLATE_SIZE];
uint8_t opnCharNum[FPALG_COUNT_RECORD_SIZE];

int m_enrol_stage;
std::atomic<int> m_enrollExit{0};
std::atomic<int> m_verifyExit{0};

bool copyName(char (&dst)[64], const char *src)
{
    std::size_t len = std::strlen(src);
    if (len >= sizeof dst) {
        dst[0] = '\0';
        return false;
    }
    std::memcpy(dst, src, len + 1);
    return true;
}
