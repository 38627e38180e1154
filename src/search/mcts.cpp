#include "search/mcts.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "search/clock.h"
#include "search/simulation.h"
#include "search/temperature.h"

namespace tovan::search {
namespace {

// Transposition tables of the threat solvers: the root's, and each search thread's for
// the new positions of the tree.
constexpr int32_t kRootTableBits = 18;
constexpr int32_t kTreeTableBits = 16;

// Deadlines are kept as doubles: a visits-bound search may give a time limit far beyond
// what an integer count of nanoseconds holds.
double now_ns() { return static_cast<double>(monotonic_ns()); }

// What freeing subtrees may take, per byte of the tree: up to 5.0 ns in 20 x 20 games at
// 5 s a move, with trees of 120 to 131 MB, so 6 with a margin.
constexpr double kFreeNsPerByte = 6.0;

// How often resident memory is looked at during a search, against the memory limit: the
// tree grows by a few hundred kB at most in the meantime.
constexpr int64_t kResidentCheckNs = 2'000'000;
// The growth of resident memory since the budget was last lowered that lowers it again:
// 1/256 of the limit, and at least this.
constexpr int64_t kResidentGrowthBytes = int64_t{1} << 20;

// A round's estimate is the longest recent round: it falls by this factor a round and a
// new root, and rises at once to any longer round.
constexpr double kRoundEstimateDecay = 0.75;

}  // namespace

MCTS::MCTS(const SearchOptions& options, std::vector<eval::Evaluator*> evaluators)
    : batch_size_(static_cast<uint32_t>(std::max(options.batch_size, 0))),
      keep_tree_(options.keep_tree),
      evaluators_(std::move(evaluators)),
      num_threads_(options.threads),
      root_solver_(kRootTableBits),
      spare_boards_(static_cast<size_t>(std::max(options.threads, 0))) {
  if (evaluators_.empty()) throw std::invalid_argument("a search needs at least one evaluator");
  if (num_threads_ < 1) throw std::invalid_argument("a search needs at least one thread");
  if (options.batch_size < 1) throw std::invalid_argument("a search needs a batch size of at least 1");
  if (num_threads_ >= 2) {
    barrier_ = std::make_unique<SearchBarrier>(static_cast<uint32_t>(num_threads_));
    for (int32_t i = 0; i < num_threads_; ++i) pool_threads_.emplace_back([this] { pool_thread(); });
  }
}

MCTS::~MCTS() {
  {
    std::lock_guard lock(pool_mutex_);
    pool_alive_ = false;
  }
  pool_wakeup_.notify_all();
  for (std::thread& thread : pool_threads_) thread.join();
}

void MCTS::pool_thread() {
  while (true) {
    std::function<void()> task;
    {
      std::unique_lock lock(pool_mutex_);
      pool_wakeup_.wait(lock, [this] { return !tasks_.empty() || !pool_alive_; });
      if (!pool_alive_) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

void MCTS::set_root(const NodeConfig& constants, const Board& board, float root_temperature, bool balanced,
                    bool exploration) {
  const double start = now_ns();
  auto futures = evaluators_[0]->submit({&board});
  evaluators_[0]->flush();
  eval::EvalResult evaluation = futures[0].get();
  // A guess at a round before the first one (or a new model's), corrected by the rounds: a
  // network's batch takes at most as long as its positions one at a time, and evaluators
  // that answer inside submit end a round at the deadline leaf by leaf. A slow round of an
  // earlier search fades with each new root, so that it cannot keep every later search
  // from starting a round.
  const double scale = evaluators_[0]->answers_in_submit() ? 1.0 : static_cast<double>(batch_size_);
  round_estimate_ns_ = std::max(round_estimate_ns_ * kRoundEstimateDecay, (now_ns() - start) * scale);
  apply_temperature(evaluation.policy, root_temperature);
  Node* kept = keep_tree_ && tree_whole_ ? node_of(board) : nullptr;
  std::unique_ptr<Node> old_root = std::move(root_);
  tree_.constants = constants;
  root_ = std::make_unique<Node>(-1, nullptr, tree_, evaluation, board.game_over(), board.side_to_move(),
                                 proof_of_finished_game(board));
  if (balanced) root_->enable_balanced_mode();
  if (kept != nullptr && !root_->finished()) root_->adopt_children(*kept, board.candidates());
  old_root.reset();
  kept_visits_ = root_->get_visits() - 1.0f;
  tree_whole_ = true;
  tree_limit_reported_ = false;
  if (exploration) root_->enable_root_exploration(noise_generator_);
  root_board_ = std::make_unique<Board>(board);
  forget_spare_positions();
}

void MCTS::forget_spare_positions() {
  for (std::vector<SpareBoard>& spares : spare_boards_) {
    for (SpareBoard& spare : spares) spare.position = nullptr;
  }
}

Node* MCTS::node_of(const Board& board) {
  if (!root_ || !root_board_) return nullptr;
  const Board& last = *root_board_;
  const BoardConfig& a = last.config();
  const BoardConfig& b = board.config();
  if (a.rule != b.rule || a.width != b.width || a.height != b.height) return nullptr;
  // The stones added since, by side: every stone of the last root must still stand.
  std::vector<Move> added[2];
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      const int8_t before = last.cell(x, y);
      const int8_t now = board.cell(x, y);
      if (before == now) continue;
      if (before != EMPTY) return nullptr;
      added[now == BLACK ? 0 : 1].push_back({static_cast<int8_t>(x), static_cast<int8_t>(y)});
    }
  }
  const int32_t mover = last.side_to_move();
  if (added[mover].size() > 1 || added[mover ^ 1].size() > added[mover].size()) return nullptr;
  Node* node = root_.get();
  for (const std::vector<Move>* moves : {&added[mover], &added[mover ^ 1]}) {
    for (const Move move : *moves) {
      Node* next = node->child_of_move(move);
      if (next == nullptr || next->finished()) return nullptr;
      node = next;
    }
  }
  return node->side() == board.side_to_move() ? node : nullptr;
}

bool MCTS::search(const SearchLimits& limits) {
  if (!root_) throw std::logic_error("search before any root was set");
  const float visits_before = root_->get_visits();
  const double deadline = now_ns() + static_cast<double>(limits.seconds) * 1e9;
  run_threads(limits, deadline);
  while ((tree_.bytes >= tree_budget_ || near_memory_limit_) &&
         !limits_reached(limits, deadline - round_estimate_ns_)) {
    if (near_memory_limit_ && !lower_tree_budget(limits)) break;
    if (tree_.bytes >= tree_budget_ && !free_at_budget(limits)) break;
    run_threads(limits, deadline);
  }
  return root_->get_visits() > visits_before;
}

bool MCTS::free_at_budget(const SearchLimits& limits) {
  const int64_t bytes = tree_.bytes;
  const double start = now_ns();
  // Freeing takes time of its own: none is begun that would, by the bytes it walks, end
  // too late for a round after it.
  const double end = static_cast<double>(limits.move_end_ns) - round_estimate_ns_;
  const bool room = start + kFreeNsPerByte * static_cast<double>(bytes) < end && make_room();
  if (!tree_limit_reported_ && say_) {
    say_("DEBUG tree memory limit reached: " + std::to_string(bytes) + " of " + std::to_string(tree_budget_) +
         " bytes at " + std::to_string(static_cast<int64_t>(root_->get_visits())) + " visits; " +
         (room ? "the least visited subtrees were freed in " + std::to_string(std::lround((now_ns() - start) / 1e6)) +
                     " ms (" + std::to_string(tree_.bytes) + " bytes left) and the search goes on"
               : "the search stops"));
  }
  tree_limit_reported_ = true;
  return room;
}

void MCTS::run_threads(const SearchLimits& limits, double deadline) {
  failure_ = nullptr;
  failed_ = false;
  keep_searching_ = !time_to_stop(limits, deadline - round_estimate_ns_);
  // Evaluators that answer inside submit (random mode, the built-in evaluator) leave the
  // threads nothing to meet for: each then goes through its rounds on its own.
  pooled_ = barrier_ != nullptr && !std::ranges::all_of(evaluators_, &eval::Evaluator::answers_in_submit);
  // Nothing to search (a finished game, no time or visits left) starts no thread.
  if (keep_searching_ && pool_threads_.empty()) {
    thread_routine(0, limits, deadline);
  } else if (keep_searching_) {
    std::unique_lock lock(pool_mutex_);
    running_threads_ = static_cast<uint32_t>(pool_threads_.size());
    for (int32_t i = 0; i < static_cast<int32_t>(pool_threads_.size()); ++i) {
      tasks_.emplace_back([this, i, limits, deadline] {
        thread_routine(i, limits, deadline);
        std::lock_guard done_lock(pool_mutex_);
        if (--running_threads_ == 0) search_done_.notify_all();
      });
    }
    pool_wakeup_.notify_all();
    search_done_.wait(lock, [this] { return running_threads_ == 0; });
  }
  if (failure_) {
    tree_whole_ = false;
    std::rethrow_exception(failure_);
  }
}

bool MCTS::make_room() {
  // The lowest threshold of visits whose subtrees, freed, bring the tree down far enough.
  std::vector<int64_t> freed;
  root_->count_subtrees(freed);
  const int64_t target = tree_budget_ / 4 * 3;
  for (size_t k = 0; k < freed.size(); ++k) {
    if (tree_.bytes - freed[k] > target) continue;
    root_->free_subtrees(std::ldexp(1.0f, static_cast<int>(k)));
    forget_spare_positions();
    return true;
  }
  return false;
}

void MCTS::set_tree_budget(int64_t bytes, std::function<void(const std::string&)> say) {
  tree_budget_ = bytes;
  say_ = std::move(say);
}

void MCTS::set_memory_limit(int64_t process_bytes, std::function<int64_t()> resident) {
  memory_limit_ = process_bytes;
  resident_ = std::move(resident);
  resident_after_cut_ = 0;
  near_memory_limit_ = false;
}

bool MCTS::near_memory_limit() {
  // A budget at its least has nothing left to give.
  if (memory_limit_ <= 0 || tree_budget_ <= kMinTreeBytes) return false;
  if (near_memory_limit_.load(std::memory_order_relaxed)) return true;
  const int64_t now = monotonic_ns();
  int64_t due = next_resident_check_ns_.load(std::memory_order_relaxed);
  if (now < due || !next_resident_check_ns_.compare_exchange_strong(due, now + kResidentCheckNs)) return false;
  const int64_t resident = resident_();
  const int64_t growth = std::max(memory_limit_ / 256, kResidentGrowthBytes);
  if (resident > memory_limit_ - memory_limit_ / 64 && resident > resident_after_cut_ + growth) {
    near_memory_limit_ = true;
  }
  return near_memory_limit_.load(std::memory_order_relaxed);
}

bool MCTS::lower_tree_budget(const SearchLimits& limits) {
  const int64_t resident = resident_();
  const double start = now_ns();
  tree_budget_ = std::max(std::min(tree_budget_, tree_.bytes.load()), kMinTreeBytes);
  const bool room = tree_.bytes < tree_budget_ || free_at_budget(limits);
  resident_after_cut_ = resident_();
  near_memory_limit_ = false;
  if (say_) {
    say_("DEBUG resident memory " + std::to_string(resident) + " bytes, near the limit of " +
         std::to_string(memory_limit_) + ": the tree's budget is lowered to " + std::to_string(tree_budget_) +
         " bytes; " + std::to_string(tree_.bytes) + " held and " + std::to_string(resident_after_cut_) +
         " resident after " + std::to_string(std::lround((now_ns() - start) / 1e6)) + " ms");
  }
  return room;
}

void MCTS::set_tree_threats(const TreeThreats& threats) {
  tree_threats_ = threats;
  tree_solvers_.clear();
  if (threats.vcf.nodes == 0 && threats.vct_visits == 0) return;
  for (int32_t i = 0; i < num_threads_; ++i) tree_solvers_.push_back(std::make_unique<ThreatSolver>(kTreeTableBits));
}

int64_t MCTS::solver_bytes() const {
  return ThreatSolver::table_bytes(kRootTableBits) +
         static_cast<int64_t>(tree_solvers_.size()) * ThreatSolver::table_bytes(kTreeTableBits);
}

void MCTS::record_failure() {
  std::lock_guard lock(failure_mutex_);
  if (!failure_) failure_ = std::current_exception();
  failed_ = true;
}

void MCTS::thread_routine(int32_t index, const SearchLimits& limits, double deadline) {
  double round_start = now_ns();
  eval::Evaluator& evaluator = *evaluators_[static_cast<size_t>(index) % evaluators_.size()];

  // A failing step is recorded and skipped, but every thread still meets the others at
  // each barrier (when they meet) and flushes its evaluator, so nobody waits forever; the
  // stop rule then ends the search.
  auto guarded = [this](auto&& step) {
    try {
      step();
    } catch (...) {
      record_failure();
    }
  };
  // Kept from round to round, with their capacity.
  std::vector<Leaf> leaves;
  std::vector<const Board*> positions;
  std::vector<std::future<eval::EvalResult>> futures;
  std::vector<SpareBoard>& spare_boards = spare_boards_[static_cast<size_t>(index)];
  // Threads on their own each look at the stop rule: another thread's visit in flight,
  // which a collision may take back, must not end a search short of its visits limit.
  // Thread 0 keeps the rounds' estimate; the others' rounds are answered inside submit.
  auto keep_going = [&] {
    if (pooled_) return keep_searching_.load();
    return !time_to_stop(limits, index == 0 ? deadline - round_estimate_ns_ : deadline);
  };
  while (keep_going()) {
    leaves.clear();
    futures.clear();
    guarded([&] {
      collect_leaves(index, limits, deadline, leaves);
      positions.clear();
      for (const Leaf& leaf : leaves) {
        if (needs_network(leaf)) positions.push_back(leaf.board.get());
      }
      futures = evaluator.submit(positions);
    });
    if (pooled_) {
      barrier_->wait();
      if (static_cast<size_t>(index) < evaluators_.size()) guarded([&] { evaluators_[index]->flush(); });
    } else {
      guarded([&] { evaluator.flush(); });
    }
    guarded([&] {
      if (futures.size() != static_cast<size_t>(std::count_if(leaves.begin(), leaves.end(), needs_network))) {
        return;  // the collection failed
      }
      auto future = futures.begin();
      for (Leaf& leaf : leaves) {
        if (!needs_network(leaf)) {
          leaf.child = back_up(leaf, nullptr);
          continue;
        }
        eval::EvalResult evaluation = (future++)->get();
        leaf.child = back_up(leaf, &evaluation);
      }
    });
    if (index == 0) {
      const double now = now_ns();
      round_estimate_ns_ = std::max(now - round_start, round_estimate_ns_ * kRoundEstimateDecay);
      round_start = now;
      if (pooled_ && time_to_stop(limits, deadline - round_estimate_ns_)) keep_searching_ = false;
    }
    if (pooled_) barrier_->wait();
    // Every answer has come, so no evaluator holds the round's positions any more: their
    // boards serve the next round's leaves, each known as its new node's position once
    // backed up.
    for (Leaf& leaf : leaves) {
      if (leaf.board) spare_boards.push_back({leaf.child, std::move(leaf.board)});
    }
  }
}

void MCTS::collect_leaves(int32_t index, const SearchLimits& limits, double deadline, std::vector<Leaf>& leaves) {
  while (leaves.size() < batch_size_) {
    std::optional<Leaf> leaf =
        descend(*root_, *root_board_, spare_boards_[static_cast<size_t>(index)], tree_threats_.vct_visits);
    // A collision ends this thread's collection for the round.
    if (!leaf) return;
    if (leaf->due_threat_check != nullptr) check_threats(index, *leaf->due_threat_check);
    // A new position whose side to move wins by fours is proven without the network.
    if (tree_threats_.vcf.nodes > 0 && leaf->needs_evaluation && !leaf->board->game_over()) {
      const ThreatLine line = tree_solvers_[static_cast<size_t>(index)]->find_vcf(*leaf->board, tree_threats_.vcf);
      if (line.win()) leaf->proof = {Proof::kWin, static_cast<int16_t>(line.plies())};
    }
    leaves.push_back(std::move(*leaf));
    if (!pooled_ && time_to_stop(limits, deadline)) return;
  }
}

void MCTS::check_threats(int32_t index, Node& node) {
  if (node.finished()) return;
  thread_local std::unique_ptr<Board> board;
  if (board) {
    *board = *root_board_;
  } else {
    board = std::make_unique<Board>(*root_board_);
  }
  play_path(node, *board);
  const ThreatLimits limits{tree_threats_.vct_nodes, tree_threats_.vcf.depth, 0};
  const ThreatLine line = tree_solvers_[static_cast<size_t>(index)]->find_vct(*board, limits, tree_threats_.vct_threes);
  if (line.win()) node.prove_win(static_cast<int16_t>(line.plies()));
}

bool MCTS::time_to_stop(const SearchLimits& limits, double deadline) {
  return failed_ || tree_.bytes >= tree_budget_ || near_memory_limit() || limits_reached(limits, deadline);
}

bool MCTS::limits_reached(const SearchLimits& limits, double deadline) {
  // A finished game has nothing to search.
  if (root_->finished() || root_->candidate_count() == 0) return true;
  const float visits = root_->get_visits();
  if (!(now_ns() < deadline && limits.visits_limit > visits)) return true;
  if (!limits.fast_search || visits < limits.fast_visits_threshold) return false;
  const float win_rate = (root_->get_own_side_value() + 1.0f) * 0.5f;
  if (root_->get_best_child_visits() >= visits * limits.best_visits_proportion) return true;
  if (std::max(win_rate, 1.0f - win_rate) >= limits.win_rate_threshold) return true;
  return root_->get_value().draw_rate >= limits.draw_rate_threshold;
}

}  // namespace tovan::search
