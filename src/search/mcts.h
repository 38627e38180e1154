// The search object: owns the tree and a fixed pool of search threads. A decision
// installs a freshly evaluated root (set_root) and runs one or more timed searches on it.
//
// Each round, every search thread collects a batch of leaves by descents, submits their
// positions to its evaluator (thread i uses evaluator i mod n), meets the others at a
// barrier, flushes evaluator i if i < n (so each evaluator runs once per round with every
// thread's positions), backs its leaves up, and meets the others again; thread 0 decides
// between rounds whether to go on. Evaluators that answer inside submit give the threads
// nothing to meet for: each thread then flushes its own evaluator, goes on alone and checks
// the stop rule after every leaf, as the caller does when it searches with one thread.
//
// Thread safety: set_root and search are called from one thread at a time; the tree is
// shared by the search threads through the nodes' own locks. The root and its position may
// be read between searches.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "board/board.h"
#include "evaluation/evaluator.h"
#include "search/node.h"
#include "search/node_config.h"
#include "search/process_memory.h"
#include "search/search_barrier.h"
#include "search/simulation.h"
#include "search/threat_solver.h"

namespace tovan::search {

// When a search stops: the visits and time limits, and with fast_search also when the
// root has fast_visits_threshold visits and either its best child holds
// best_visits_proportion of them, or a side's win rate reaches win_rate_threshold, or
// the draw rate reaches draw_rate_threshold.
struct SearchLimits {
  float visits_limit = 0.0f;
  float seconds = 0.0f;
  // The end of the whole move on the monotonic clock, when it is searched in several
  // calls: freeing subtrees at the tree's budget begins only when it fits before.
  int64_t move_end_ns = std::numeric_limits<int64_t>::max();
  bool fast_search = false;
  float fast_visits_threshold = 0.0f;
  float best_visits_proportion = 0.0f;
  float win_rate_threshold = 0.0f;
  float draw_rate_threshold = 0.0f;
};

// The threat searches of the tree's positions: each new position for a VCF of its side to
// move within `vcf` (nodes 0: none), and each position whose node reaches `vct_visits`
// visits (0: none) for a VCT of at most `vct_threes` threats within `vct_nodes`. A win
// found makes the node a proven win.
struct TreeThreats {
  ThreatLimits vcf{0, 0, 0};
  int32_t vct_visits = 0;
  int32_t vct_threes = 0;
  int64_t vct_nodes = 0;
};

struct SearchOptions {
  int32_t threads = 1;
  int32_t batch_size = 1;  // leaves each thread collects a round
  // Whether a new root that follows from the last one by the moves of the tree (at most
  // one of each side's) keeps the subtree of its position.
  bool keep_tree = false;
};

class MCTS {
 public:
  static constexpr int64_t kNoTreeLimit = std::numeric_limits<int64_t>::max();
  // The least budget a tree is given, whatever the memory limit leaves it.
  static constexpr int64_t kMinTreeBytes = int64_t{4} << 20;

  // Throws std::invalid_argument without evaluators or with a thread count or batch size
  // below 1.
  MCTS(const SearchOptions& options, std::vector<eval::Evaluator*> evaluators);
  ~MCTS();

  // Evaluates the position through the first evaluator and makes it the new root, its
  // prior under root_temperature. With keep_tree, when the position follows from the last
  // root by one move, or by one move of each side, through nodes of the tree, the subtree
  // of the position is kept under the new root (its visits are then kept_visits()); the
  // rest of the previous tree is freed. The tree's nodes share a copy of `constants` kept
  // here.
  void set_root(const NodeConfig& constants, const Board& board, float root_temperature, bool balanced,
                bool exploration);

  // Searches until the stop rule says stop; true when the root gained visits. No round
  // starts that would, by the rounds before, end past `limits.seconds`. An exception in a
  // search thread (a failed inference) stops the search, every thread leaves, and it is
  // rethrown here.
  bool search(const SearchLimits& limits);
  // How long the next round may take, from the rounds before; read between searches.
  float round_estimate_seconds() const { return static_cast<float>(round_estimate_ns_ / 1e9); }

  // Seeds the generator of the root noise, which is otherwise seeded afresh by each search
  // object, so that exploring searches repeat.
  void seed_noise(uint64_t seed) { noise_generator_.seed(seed); }

  // The root's visits that the last set_root kept from the previous tree (0: none).
  float kept_visits() const { return kept_visits_; }

  // Bytes the tree's nodes may hold (kNoTreeLimit: unbounded). A search that reaches them
  // frees the subtrees of the least visited nodes until the tree holds three quarters of
  // them, and goes on; `say` gets one DEBUG line per root that says so.
  void set_tree_budget(int64_t bytes, std::function<void(const std::string&)> say);
  // The process's memory limit in bytes (0: none), watched during searches through
  // `resident`, the process's resident bytes. The heap cannot always reuse what the tree
  // and the caches free, so the process can near the limit while they are within their
  // budgets: when resident memory passes 63/64 of the limit and has grown by 1/256 of it
  // (1 MiB at least) since the last time, the tree's budget is lowered to what it holds
  // (kMinTreeBytes at least; a budget there is left alone), its least visited subtrees
  // are freed as at the budget, and the search goes on, the tree now growing into the
  // blocks it freed; `say` gets a DEBUG line each time.
  void set_memory_limit(int64_t process_bytes, std::function<int64_t()> resident = resident_bytes);
  int64_t tree_bytes() const { return tree_.bytes; }

  void set_tree_threats(const TreeThreats& threats);
  // The solver of the move decision's checks at the root.
  ThreatSolver& root_solver() { return root_solver_; }
  // Bytes of the solvers' transposition tables.
  int64_t solver_bytes() const;

  Node* root() const { return root_.get(); }
  const Board& root_board() const { return *root_board_; }

 private:
  void thread_routine(int32_t index, const SearchLimits& limits, double deadline);
  void collect_leaves(int32_t index, const SearchLimits& limits, double deadline, std::vector<Leaf>& leaves);
  // Runs the search threads until the stop rule says stop.
  void run_threads(const SearchLimits& limits, double deadline);
  // At the tree's budget: frees the least visited subtrees, when that fits before the
  // move's end, until the tree holds three quarters of its budget; false when the search
  // is to stop instead.
  bool free_at_budget(const SearchLimits& limits);
  // Frees the least visited subtrees until the tree holds three quarters of its budget;
  // false when that is more than the whole tree below the root's children.
  bool make_room();
  // Whether resident memory has come near the memory limit: looked at every
  // kResidentCheckNs by whichever search thread asks first, and kept until the search
  // lowers the tree's budget.
  bool near_memory_limit();
  // After near_memory_limit: lowers the tree's budget to what the tree holds and frees
  // subtrees as free_at_budget does; false when the search is to stop instead.
  bool lower_tree_budget(const SearchLimits& limits);
  // Clears the spare boards' positions, which belonged to nodes that may be gone.
  void forget_spare_positions();
  // The node of the tree whose position is `board`, reached from the root by at most one
  // move of each side; null if none.
  Node* node_of(const Board& board);
  // Searches the position of `node` for a VCT of its side to move with search thread
  // `index`'s solver; one found proves the node won.
  void check_threats(int32_t index, Node& node);
  // Whether the search is to stop now, by `limits` and the deadline, a failure, a
  // finished root or the tree budget.
  bool time_to_stop(const SearchLimits& limits, double deadline);
  bool limits_reached(const SearchLimits& limits, double deadline);
  void record_failure();
  void pool_thread();

  const uint32_t batch_size_;
  const bool keep_tree_;
  const std::vector<eval::Evaluator*> evaluators_;
  const int32_t num_threads_;

  ThreatSolver root_solver_;
  TreeThreats tree_threats_;
  std::vector<std::unique_ptr<ThreatSolver>> tree_solvers_;  // one per search thread
  std::vector<std::vector<SpareBoard>> spare_boards_;        // per search thread: boards for its leaves

  std::atomic<bool> keep_searching_{true};  // set by search, then by thread 0 of a pool
  // How long a round may take, in nanoseconds, kept from search to search and written by
  // the first search thread alone (and by set_root, between searches). A slow network's round can outlast the time kept
  // back for the reply, so the deadline must hold for a whole round.
  double round_estimate_ns_ = 0.0;
  std::unique_ptr<SearchBarrier> barrier_;  // with two threads or more
  bool pooled_ = false;                     // whether the current search's threads meet at the barrier
  std::mutex failure_mutex_;
  std::exception_ptr failure_;       // the first exception of the current search
  std::atomic<bool> failed_{false};  // set with failure_, read without its lock

  std::mutex pool_mutex_;
  std::condition_variable pool_wakeup_;
  std::condition_variable search_done_;
  std::deque<std::function<void()>> tasks_;
  bool pool_alive_ = true;
  uint32_t running_threads_ = 0;
  std::vector<std::thread> pool_threads_;

  std::mt19937_64 noise_generator_{std::random_device{}()};
  Tree tree_;
  std::unique_ptr<Node> root_;
  std::unique_ptr<Board> root_board_;
  float kept_visits_ = 0.0f;
  bool tree_whole_ = true;  // false after a failed search, whose visits may be left in flight

  int64_t tree_budget_ = kNoTreeLimit;
  bool tree_limit_reported_ = false;  // for the current root
  std::function<void(const std::string&)> say_;

  int64_t memory_limit_ = 0;  // the process's; 0: none
  std::function<int64_t()> resident_;
  int64_t resident_after_cut_ = 0;  // resident bytes after the budget was last lowered
  std::atomic<int64_t> next_resident_check_ns_{0};
  std::atomic<bool> near_memory_limit_{false};
};

}  // namespace tovan::search
