// Every tuning constant of the matcher, grouped by the stage that uses it.
// Stage code holds no bare numbers; change a value here and re-run the bench.
#pragma once

#include <cstdint>

#include "../engine/alg/fpalg.h"

namespace fpalg::params {

// Image geometry: the sensor delivers 96 x 96 samples of 10 bits.
inline constexpr int kSide = 96;
inline constexpr int kPixels = kSide * kSide;
inline constexpr int kMaxSample = 1023;

// Band-pass: a small binomial blur removes pixel noise, a wide box blur
// (three passes) estimates the background; their difference keeps ridges.
inline constexpr int kBackgroundBoxRadius = 4;  // three passes ~ sigma 4.5 px
inline constexpr int kEnergyBoxRadius = 6;      // local ridge energy, two passes

// Quantisation of the band-passed ridges into two bits: sign, and whether
// the magnitude exceeds this many sixteenths of the local RMS.
inline constexpr int kLevelThresholdSixteenths = 14;

// Foreground: 8 x 8 blocks whose ridge energy exceeds this many sixty-fourths
// of the 90th percentile block's, and an absolute floor for blank images.
inline constexpr int kMaskBlock = 8;
inline constexpr int kMaskGrid = kSide / kMaskBlock;
inline constexpr int kMaskRelativeSixtyFourths = 3;
inline constexpr int kMaskEnergyFloor = 24;  // mean squared band value, 10-bit units
// A capture with fewer foreground blocks than this is refused.
inline constexpr int kMinForegroundBlocks = 40;

// Template capacity: nine enrollment views and two renewal slots.
inline constexpr int kEnrollViews = 9;
inline constexpr int kMaxViews = 11;

// Coarse alignment: phase-only correlation at half resolution over rotations.
inline constexpr int kHalf = kSide / 2;
inline constexpr int kFftSide = 64;
inline constexpr int kAngleStepDeciDeg = 30;
inline constexpr int kAngleCount = 31;  // -45 .. +45 degrees
inline constexpr int kPocBandLow = 3;   // frequency band kept, in FFT bins
inline constexpr int kPocBandHigh = 22;
inline constexpr int kMinOverlapHalfPx = 20;  // shifts leaving less than this (per axis) are skipped
inline constexpr int kCoarseAngleStride = 3;  // every third angle is tried first, then the best one's neighbours
inline constexpr int kCandidates = 8;         // best peaks screened by a single correlation
inline constexpr int kVerified = 3;           // of those, alignments verified in full

// Ambiguity: the best correlation of a view with itself shifted by at least
// kAmbiguityMinShift px (a ridge pattern without detail repeats itself).
inline constexpr int kAmbiguityMinShift = 6;
inline constexpr int kAmbiguityMaxShift = 21;
inline constexpr int kAmbiguityStep = 3;
inline constexpr int kAmbiguityMinOverlap = 3000;
inline constexpr float kAmbiguityWeight = 0.5f;

// Hand-made evidence: cube of the discounted block agreement, times the
// square root of the blocks compared, times (1 + weight x coarse peak)
// squared, times the share confirmed by minutiae. It picks the best
// alignment and is one input of the learned stage.
inline constexpr float kPeakWeight = 3.0f;

// Verification at full resolution.
inline constexpr int kRefineRadius = 1;  // px, global shift refinement
inline constexpr int kBlock = 16;        // px, local correlation blocks
inline constexpr int kBlockGrid = kSide / kBlock;
inline constexpr int kBlockShift = 1;       // px, local distortion allowance
inline constexpr int kBlockMinValid = 160;  // of 256 pixels valid in both images
inline constexpr float kBlockGoodNcc = 0.45f;
inline constexpr int kMinOverlapPx = 1200;
inline constexpr float kMinOverlapNcc = 0.1f;  // whole-overlap correlation below which blocks are not compared
// Elastic verification: blocks of the best alignment may move up to
// kElasticReach px each way, paying kElasticStiffness (in correlation) per
// squared px of difference from each neighbour and kElasticAnchor per
// squared px away from the rigid pose.
inline constexpr int kElasticReach = 3;
inline constexpr float kElasticStiffness = 0.03f;
inline constexpr float kElasticAnchor = 0.005f;
inline constexpr int kElasticSweeps = 4;
// ... looked for only when the rigid evidence could come near a match.
inline constexpr float kElasticFloor = 2.0f;
// The union of registered views is verified when it adds this many pixels.
inline constexpr int kUnionMinExtraPx = 400;
// ... and only for an alignment with this much evidence on its own view.
inline constexpr float kUnionMinRaw = 2.0f;

// Two verified alignments this far apart (px, |dy| + |dx|) on one view are
// two poses.
inline constexpr int kOtherPoseShift = 8;

// Ridge direction and spacing compared on cells of this size (px), where
// at least this many pixels are valid in both images.
inline constexpr int kFlowAgreementCell = 16;
inline constexpr int kFlowAgreementMinPx = 128;

// Registration of enrollment views into one frame: a new view is placed
// when its best verified alignment on a registered view is this convincing.
inline constexpr float kRegisterBlockNcc = 0.45f;
inline constexpr int kRegisterMinBlocks = 8;
inline constexpr int kMaxPoseAngleDeci = 1800;
inline constexpr int kMaxPoseShiftEighths = 8 * 400;  // 400 px, in 1/8 px

// Merge: a capture that repeats a stored view this closely adds nothing.
inline constexpr int kDuplicateOverlapPx = 7800;
inline constexpr float kDuplicateNcc = 0.9f;

// Minutiae checked after alignment: at most this many per image, none
// closer than kMinutiaEdgeDistance px to the edge of the common area or
// kMinutiaMinSpacing px to another; a pair lies within kMinutiaPairRadius px.
inline constexpr int kMaxMinutiae = 48;
inline constexpr int kFlowCell = 4;         // px; the flow is estimated over 3 x 3 cells
inline constexpr int kFlowSmoothReach = 3;  // px each way along the ridge
inline constexpr int kMinutiaEdgeDistance = 6;
inline constexpr int kMinutiaMinSpacing = 5;
inline constexpr int kMinutiaPairRadius = 4;
// This many pairs confirm the alignment fully; fewer discount it.
inline constexpr int kMinutiaePairsForFull = 3;

// Score scale: raw evidence (the learned stage's) at which the score
// reaches 1, 30, the match threshold (46) and 100; fitted with
// bench/fpalg_tailfit.py (see README.md) on all eight image sets at 21
// probes per impression (1,518,300 impostor pairs): 9 in 10 impostors stay
// below 1 (most never reach the learned stage), 1 in 1,000 reaches 30, and
// 46 is the upper end of the 95 % interval for 2 false matches in a
// million, times 1.1. A fit on 4 probes per impression (289,200 pairs) put
// 46 at 21.89, where the larger pool counts 11 impostors above 45: that
// tail is heavier than exponential, and a fifth of the pool had too few
// of its look-alikes to show it.
inline constexpr float kRawFloor = 1.14f;
inline constexpr float kRaw30 = 7.41f;
inline constexpr float kRawThreshold = 42.40f;
inline constexpr float kRawTop = 84.80f;

// Minutiae are only looked for when the hand-made evidence could come near
// a match (its threshold was 24.24).
inline constexpr float kDetailCheckFloor = 8.484f;

// Renewal folds a probe in only far above the match threshold.
inline constexpr int kMatchThreshold = 45;
inline constexpr int kRenewMinScore = 70;
// ... and takes a renewal slot only when it shows this much area (px) that
// no stored view of its frame covers.
inline constexpr int kRenewMinNewPx = 1500;

// What the daemon was built against must be what the matcher computes with.
static_assert(kSide == FPALG_IMAGE_SIDE);
static_assert(kMatchThreshold == FPALG_MATCH_THRESHOLD);
static_assert(kMaxSample == (1 << 10) - 1, "the public header promises 10-bit samples");

}  // namespace fpalg::params
