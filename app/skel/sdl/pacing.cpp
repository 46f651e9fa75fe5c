// Frame pacing: whole-millisecond periods with the fraction carried over, so
// that 30 frames a second come 33, 33 and 34 ms apart.
#include "platform.h"

namespace kv {

void PacingSetRate(FramePacing* pacing, int32 maxFrameRate) {
    if (maxFrameRate <= 0) {
        pacing->framePeriod = 0;
        return;
    }
    if (pacing->framePeriod != 0) return;
    // In double: a single-precision third falls short, and three of them would
    // not add up to the carried millisecond.
    const double period = 1000.0 / maxFrameRate;
    pacing->framePeriod = static_cast<uint32>(period);
    pacing->frameFraction = static_cast<float>(period - pacing->framePeriod);
}

bool PacingFrameDue(FramePacing* pacing, uint32* lastFrameTime, uint32 now) {
    // Compared as a signed difference so that the schedule survives the
    // timer's wrap after 49.7 days.
    const uint32 due = *lastFrameTime + pacing->frameCarry + pacing->framePeriod;
    if (static_cast<int32>(now - due) <= 0) return false;
    *lastFrameTime += pacing->framePeriod + pacing->frameCarry;
    pacing->fractionSum += pacing->frameFraction;
    if (pacing->fractionSum >= 1.0f) {
        pacing->frameCarry = 1;
        pacing->fractionSum -= 1.0f;
    } else {
        pacing->frameCarry = 0;
    }
    return true;
}

}  // namespace kv
