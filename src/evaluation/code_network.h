// The code network: a small learned evaluator that reads the board's own pattern data and
// runs inside the search threads, without ONNX Runtime.
//
// Every cell on the board gets a vector of kCellWidth numbers: a bias, plus the column of
// each input plane set on the cell (the network input planes of features.h), plus, for
// each of the four line directions, the column of the side to move's code there and the
// column of the opponent's code there (code_indices). Clipped to 0..1 it is the cell's
// state h. The mean and the largest (by component) of the states of all cells, joined, are
// the position's pool g. A candidate's logit is policy_out . clip(policy_hidden h +
// policy_hidden_bias + policy_context g) + policy_out_bias, the policy their softmax. g
// goes through clip(value_hidden g + value_hidden_bias), then value_out (+ value_out_bias)
// gives the logits of win, draw and loss of the side to move: the value is P(win) -
// P(loss), the draw rate P(draw). tools/tovan/codenet.py computes the same function in
// torch and trains it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "board/board.h"
#include "evaluation/board_evaluator.h"
#include "evaluation/code_network_weights.h"

namespace tovan::eval {

inline constexpr int kCodesPerCell = 8;

// The code indices of cell `index`: the side to move's four lanes, then the opponent's
// (0 on an occupied cell, whose codes are 0).
std::array<uint16_t, kCodesPerCell> code_indices(const Board& board, int index);

class CodeNetwork : public BoardEvaluator {
 public:
  // Throws ModelError when the weights' input planes do not fit `rule`. Without
  // allow_avx2 the cells are worked out with the build's baseline instructions even where
  // the machine runs AVX2 (the answers are the same).
  CodeNetwork(const CodeNetworkWeights& weights, Rule rule, bool allow_avx2 = true);

  // For a position of the network's rule.
  EvalResult evaluate(const Board& board) const override;

  // The weights as the evaluation reads them.
  struct Tables {
    // For each combination of a cell's flags (its stone, candidate, Renju planes): the
    // bias plus the columns of the input planes they stand for.
    std::vector<float> flag_columns;
    std::vector<float> plane_columns;
    // The code indices that occur, numbered; a direction's own and opponent codes are
    // looked up together: code_pairs holds own + opponent columns at (own * pair_stride +
    // opponent) * kCellWidth.
    std::array<uint8_t, kCodeIndices> compact;
    int pair_stride;
    std::vector<float> code_pairs;
    std::vector<float> policy_hidden_by_input;  // kCellWidth x kPolicyHidden
    std::vector<float> policy_hidden_bias;
    std::vector<float> policy_out;
    float policy_out_bias;
    std::vector<float> policy_context;  // kPolicyHidden x 2 kCellWidth
    std::vector<float> value_hidden;
    std::vector<float> value_hidden_bias;
    std::vector<float> value_out;
    std::vector<float> value_out_bias;
  };

 private:
  Tables tables_;
  uint64_t serial_;  // this network's number, for the threads' memos of cell states
  bool use_avx2_;    // the machine runs AVX2: the cells are worked out 8 numbers at a time
  bool has_context_;  // the policy sees the pool (else each candidate's logit is kept in the memo)
};

}  // namespace tovan::eval
