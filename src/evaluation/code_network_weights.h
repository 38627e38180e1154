// The weights of the code network (code_network.h): a binary file written by
// tools/tovan/codenet.py from a trained model.
//
// Format, little-endian: "TVCN", the version byte (2; 1 is read too), the input planes C
// (40, or 42 under Renju), the cell width (32), the policy's hidden width (16), the
// value's hidden width (32), ten zero bytes; then float32 arrays in this order, each
// row-major:
//   cell_bias (cell width), plane_columns (C x cell width), own_code_columns and
//   opponent_code_columns (1024 x cell width each), policy_hidden (policy hidden x cell
//   width), policy_hidden_bias, policy_out (policy hidden each), policy_out_bias (1),
//   value_hidden (value hidden x 2 cell width), value_hidden_bias (value hidden),
//   value_out (3 x value hidden), value_out_bias (3), and from version 2 on
//   policy_context (policy hidden x 2 cell width; zeros for a version 1 file).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tovan::eval {

inline constexpr int kCellWidth = 32;
inline constexpr int kPolicyHidden = 16;
inline constexpr int kValueHidden = 32;
inline constexpr int kOutcomes = 3;  // win, draw and loss of the side to move
// A lane of a cell's pattern code word holds its code in bits 1 to 10: the index of the
// code's column is the lane shifted right by one.
inline constexpr int kCodeIndices = 1024;

struct CodeNetworkWeights {
  int32_t channels = 0;
  std::vector<float> cell_bias;              // kCellWidth
  std::vector<float> plane_columns;          // channels x kCellWidth
  std::vector<float> own_code_columns;       // kCodeIndices x kCellWidth
  std::vector<float> opponent_code_columns;  // kCodeIndices x kCellWidth
  std::vector<float> policy_hidden;          // kPolicyHidden x kCellWidth
  std::vector<float> policy_hidden_bias;     // kPolicyHidden
  std::vector<float> policy_out;             // kPolicyHidden
  std::vector<float> policy_out_bias;        // 1
  std::vector<float> value_hidden;           // kValueHidden x 2 kCellWidth
  std::vector<float> value_hidden_bias;      // kValueHidden
  std::vector<float> value_out;              // kOutcomes x kValueHidden
  std::vector<float> value_out_bias;         // kOutcomes
  std::vector<float> policy_context = std::vector<float>(size_t{kPolicyHidden} * 2 * kCellWidth);  // 0: none
};

// Throws ModelError naming the file and the fault: unreadable, another format or version,
// other sizes than this engine's, a file too short or too long, or a number that is not
// finite.
CodeNetworkWeights read_code_network(const std::string& path);

}  // namespace tovan::eval
