// Weights of the learned stage, written by bench/fpalg_learn.py (do not edit):
//   bench/fpalg_learn.py CROPS.idx EVAL.csv... --train-without fvc2000_db4_b,fvc2002_db4_b,fvc2004_db4_b
//       --write fpalg/learned_weights.h
// trained on fvc2000_db1_b, fvc2000_db2_b, fvc2000_db3_b, fvc2002_db1_b, neurotech_crossmatch;
// 1695 genuine and 25615 impostor pairs.
#pragma once

namespace fpalg::learned {

enum Input {
    kLogBase,
    kLogB,
    kLogRigid,
    kLogBlocks,
    kLogPeak,
    kGoodShare,
    kElasticGain,
    kAmb,
    kPairs,
    kPairShare,
    kUnpaired,
    kChecked,
    kFlowDir,
    kFlowSpace,
    kLogCells,
    kRunner,
    kUnionShare,
    kInputs
};

// clang-format off
inline constexpr float kWeights[kInputs] = {
    -1.08034145f,  // log_base
    6.61874662f,  // log_b
    1.36880525f,  // log_rigid
    1.15847921f,  // log_blocks
    7.93910374f,  // log_peak
    0.280057002f,  // good_share
    -0.377677146f,  // elastic_gain
    0.933637373f,  // amb
    1.43546803f,  // pairs
    -0.244578151f,  // pair_share
    0.00277025402f,  // unpaired
    -0.904885005f,  // checked
    0.0504975811f,  // flow_dir
    -8.23683458f,  // flow_space
    -0.515688336f,  // log_cells
    -0.0599271764f,  // runner
    0.00884937686f,  // union_share
};
// clang-format on
inline constexpr float kIntercept = 3.64096621f;

}  // namespace fpalg::learned
