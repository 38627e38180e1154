// An evaluator that answers a position straight from the board, in the calling thread:
// the built-in pattern evaluator and the code network.
#pragma once

#include "board/board.h"
#include "evaluation/eval_result.h"

namespace tovan::eval {

class BoardEvaluator {
 public:
  virtual ~BoardEvaluator() = default;
  // The result of a position whose game is not over. Any number of threads may call it.
  virtual EvalResult evaluate(const Board& board) const = 0;
};

}  // namespace tovan::eval
