// The evaluation service on the generated test networks: random mode, finished games,
// the deterministic linear models end to end, batching, the cache, pausing, refused
// models and concurrent use.
#include "evaluation/evaluator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <numeric>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using eval::EvalResult;
using eval::Evaluator;
using eval::ModelError;

std::string model(const std::string& name) { return std::string(TEST_MODEL_DIR) + "/" + name + ".onnx"; }

BoardConfig config(Rule rule = Rule::Freestyle, int width = 15, int height = 15) {
  return BoardConfig{rule, height, width, 2, 4};
}

std::unique_ptr<Evaluator> make_evaluator(const BoardConfig& c = config(), int batch = 8, int cache = 1024,
                                          const std::string& device = "cpu") {
  return std::make_unique<Evaluator>(cache, c.width, c.height, c.rule, 0, 0, batch, 1, device, 0, 0, "", "");
}

bool ready(std::future<EvalResult>& f) { return f.wait_for(0s) == std::future_status::ready; }

EvalResult evaluate(Evaluator& e, const Board& b) {
  auto futures = e.submit({&b}, 0);
  e.flush();
  return futures[0].get();
}

// Unfinished, pairwise different positions of random games, some with blocked cells.
std::vector<Board> random_positions(const BoardConfig& c, size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Board> positions;
  std::set<uint64_t> seen;
  while (positions.size() < count) {
    CellArray cells{};
    for (int i = 0; i < 3; ++i) cells[cell_index(rng() % c.width, rng() % c.height)] = BLOCKED;
    Board b(c, 0, cells, 0);
    for (int move = 0; move < 30 && !b.game_over && positions.size() < count; ++move) {
      b.play(b.candidates[rng() % b.candidates.size()]);
      if (!b.game_over && seen.insert(b.hash).second) positions.push_back(b);
    }
  }
  return positions;
}

Board black_five() {
  CellArray cells{};
  for (int x = 3; x < 8; ++x) cells[cell_index(x, 7)] = BLACK;
  for (int x = 3; x < 7; ++x) cells[cell_index(x, 9)] = WHITE;
  return Board(config(), 9, cells, 1);
}

// No empty cell left: stones in the corner without a five, every other cell blocked.
Board drawn() {
  CellArray cells{};
  cells.fill(BLOCKED);
  const char* rows[] = {"XXOOX", "OOXXO", "XXOOX", "OOXXO", "XXOOX"};
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5; ++x) cells[cell_index(x, y)] = rows[y][x] == 'X' ? BLACK : WHITE;
  }
  return Board(config(), 25, cells, 1);
}

void expect_valid(const Board& b, const EvalResult& r) {
  ASSERT_EQ(r.policy.size(), b.candidates.size());
  EXPECT_NEAR(std::accumulate(r.policy.begin(), r.policy.end(), 0.0), 1.0, 1e-5);
  EXPECT_EQ(r.values[0], -r.values[1]);
}

void expect_same(const EvalResult& a, const EvalResult& b, float tolerance) {
  ASSERT_EQ(a.policy.size(), b.policy.size());
  for (size_t i = 0; i < a.policy.size(); ++i) EXPECT_NEAR(a.policy[i], b.policy[i], tolerance) << "prior " << i;
  EXPECT_NEAR(a.values[0], b.values[0], tolerance);
  EXPECT_NEAR(a.values[1], b.values[1], tolerance);
  EXPECT_NEAR(a.draw_rate, b.draw_rate, tolerance);
}

// What linear40 and linear42 answer: every candidate has logit 2, so the policy is
// uniform; the value is the stone balance of the side to move over the on-board cells.
void expect_linear(const Board& b, const EvalResult& r) {
  int on_board = 0, own = 0, opponent = 0;
  for (int y = 0; y < b.config.height; ++y) {
    for (int x = 0; x < b.config.width; ++x) {
      const int state = b.cell(x, y);
      on_board += state != BLOCKED;
      own += state == b.side_to_move + 1;
      opponent += state == 2 - b.side_to_move;
    }
  }
  const float win = static_cast<float>(own - opponent) / static_cast<float>(on_board);
  ASSERT_EQ(r.policy.size(), b.candidates.size());
  for (float p : r.policy) EXPECT_NEAR(p, 1.0 / b.candidates.size(), 1e-6);
  EXPECT_NEAR(r.values[b.side_to_move], win, 1e-6);
  EXPECT_NEAR(r.values[1 - b.side_to_move], -win, 1e-6);
  EXPECT_NEAR(r.draw_rate, static_cast<float>(b.candidates.size()) / static_cast<float>(on_board), 1e-6);
}

TEST(Evaluator, RefusesBadSettings) {
  EXPECT_THROW(Evaluator(16, 15, 15, Rule::Freestyle, 0, 0, 0, 1, "cpu", 0, 0, "", ""), std::invalid_argument);
  EXPECT_THROW(Evaluator(16, 15, 15, Rule::Freestyle, 0, 0, -3, 1, "cpu", 0, 0, "", ""), std::invalid_argument);
  EXPECT_THROW(Evaluator(16, 15, 15, Rule::Freestyle, 1, 0, 8, 1, "cpu", 0, 0, "", ""), std::invalid_argument);
  EXPECT_NO_THROW(Evaluator(16, 15, 15, Rule::Freestyle, 0, 3, 1, 1, "cpu", 0, 0, "", ""));
}

// A position of another rule or size would overrun the network's input rows.
TEST(Evaluator, RefusesPositionsOfAnotherRuleOrSize) {
  auto e = make_evaluator();
  e->load_model(TEST_MODEL_DIR "/tiny40.onnx");
  for (const BoardConfig& other : {config(Rule::Renju), config(Rule::Freestyle, 15, 14)}) {
    const Board b(other, 0, CellArray{}, 0);
    EXPECT_THROW(e->submit({&b}, 0), std::invalid_argument);
  }
  e->flush();
}

TEST(Evaluator, RandomModeAnswersInsideSubmit) {
  auto e = make_evaluator();
  const std::vector<Board> positions = random_positions(config(), 12, 1);
  std::set<float> values;
  auto check_all = [&] {
    for (const Board& b : positions) {
      auto futures = e->submit({&b}, 0);
      ASSERT_TRUE(ready(futures[0]));
      const EvalResult r = futures[0].get();
      expect_valid(b, r);
      EXPECT_LE(std::abs(r.values[0]), 0.005f);
      EXPECT_EQ(r.draw_rate, 0.0f);
      values.insert(r.values[0]);
    }
  };
  check_all();
  EXPECT_GT(values.size(), 1u);
  e->load_model(model("linear40"));
  e->load_model("random");
  EXPECT_EQ(e->model_name(), "random");
  check_all();
}

TEST(Evaluator, FinishedGamesAnswerWithTheResult) {
  const Board win = black_five(), draw = drawn();
  ASSERT_TRUE(win.game_over && win.winner == 0);
  ASSERT_TRUE(draw.game_over && draw.winner == 2);
  auto random = make_evaluator();
  auto network = make_evaluator();
  network->load_model(model("tiny40"));
  for (Evaluator* e : {random.get(), network.get()}) {
    auto futures = e->submit({&win, &draw}, 0);
    ASSERT_TRUE(ready(futures[0]) && ready(futures[1]));
    const EvalResult w = futures[0].get(), d = futures[1].get();
    EXPECT_TRUE(w.policy.empty());
    EXPECT_EQ(w.values, (std::array<float, 2>{1.0f, -1.0f}));
    EXPECT_EQ(w.draw_rate, 0.0f);
    EXPECT_TRUE(d.policy.empty());
    EXPECT_EQ(d.values, (std::array<float, 2>{0.0f, 0.0f}));
    EXPECT_EQ(d.draw_rate, 1.0f);
  }
}

TEST(Evaluator, LinearModelsEndToEnd) {
  struct Case {
    BoardConfig config;
    const char* model;
  };
  const Case cases[] = {{config(Rule::Standard, 18, 12), "linear40"}, {config(Rule::Renju), "linear42"}};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.model);
    auto e = make_evaluator(t.config, 4);
    e->load_model(model(t.model));
    EXPECT_EQ(e->model_name(), t.model);
    for (const Board& b : random_positions(t.config, 6, 7)) {
      for (int side : {0, 1}) {
        const Board position(b.config, b.move_count, b.cells, side);
        expect_linear(position, evaluate(*e, position));
      }
    }
  }
}

TEST(Evaluator, BatchesAnswerLikeSinglePositions) {
  struct Case {
    BoardConfig config;
    int batch;
    size_t count;
  };
  const Case cases[] = {{config(), 8, 20}, {config(Rule::StandardCaro, 18, 12), 16, 16}};
  for (const Case& t : cases) {
    SCOPED_TRACE("batch " + std::to_string(t.batch));
    const std::vector<Board> positions = random_positions(t.config, t.count, 11);
    auto single = make_evaluator(t.config, 1);
    auto batched = make_evaluator(t.config, t.batch);
    single->load_model(model("tiny40"));
    batched->load_model(model("tiny40"));

    std::vector<std::future<EvalResult>> futures;
    for (size_t first = 0; first < positions.size(); first += 3) {
      std::vector<const Board*> group;
      for (size_t i = first; i < std::min(first + 3, positions.size()); ++i) group.push_back(&positions[i]);
      for (auto& f : batched->submit(group, 0)) futures.push_back(std::move(f));
    }
    for (auto& f : futures) EXPECT_FALSE(ready(f));
    batched->flush();
    std::set<float> values;
    for (size_t i = 0; i < positions.size(); ++i) {
      ASSERT_TRUE(ready(futures[i]));
      const EvalResult r = futures[i].get();
      expect_valid(positions[i], r);
      expect_same(r, evaluate(*single, positions[i]), 1e-5f);
      values.insert(r.values[0]);
    }
    EXPECT_GT(values.size(), positions.size() / 2);  // the rows really differ
  }
  make_evaluator()->flush();  // an empty queue
}

TEST(Evaluator, CacheAnswersRepeatsUntilTheNextLoad) {
  const Board b = random_positions(config(), 1, 3)[0];
  auto e = make_evaluator();
  e->load_model(model("tiny40"));
  auto first = e->submit({&b}, 0);
  auto second = e->submit({&b}, 0);
  EXPECT_FALSE(ready(first[0]));
  EXPECT_FALSE(ready(second[0]));
  e->flush();
  ASSERT_TRUE(ready(first[0]) && ready(second[0]));
  const EvalResult answer = first[0].get();
  expect_same(second[0].get(), answer, 0.0f);

  auto cached = e->submit({&b}, 0);
  ASSERT_TRUE(ready(cached[0]));
  expect_same(cached[0].get(), answer, 0.0f);

  e->load_model(model("tiny40"));
  auto reloaded = e->submit({&b}, 0);
  EXPECT_FALSE(ready(reloaded[0]));
  e->flush();
  expect_same(reloaded[0].get(), answer, 1e-6f);

  auto uncached = make_evaluator(config(), 8, 0);
  uncached->load_model(model("tiny40"));
  evaluate(*uncached, b);
  auto again = uncached->submit({&b}, 0);
  EXPECT_FALSE(ready(again[0]));
  uncached->flush();
}

TEST(Evaluator, PauseHoldsSubmitsUntilTheNextLoadHasFinished) {
  const Board b = random_positions(config(), 1, 5)[0];
  auto e = make_evaluator();
  // A failed load ends the pause too, so that nobody waits for a model that never comes.
  for (const std::string& release : {std::string("random"), model("linear40"), model("no_such_model")}) {
    SCOPED_TRACE(release);
    e->load_model("pause");
    std::atomic<bool> answered{false};
    EvalResult result;
    std::thread submitter([&] {
      result = evaluate(*e, b);
      answered = true;
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(answered);
    if (release.find("no_such_model") != std::string::npos) {
      EXPECT_THROW(e->load_model(release), ModelError);
    } else {
      e->load_model(release);
    }
    submitter.join();
    expect_valid(b, result);
    // Released by a model load, the submit is answered by that model, never by the mode before it.
    if (release != "random") expect_linear(b, result);
  }
}

TEST(Evaluator, AFailingRunFailsEveryWaitingRequestAndReachesTheCaller) {
  // batch_value answers one win rate for a whole batch: fine for one position, too few
  // values for several, which the evaluator refuses after the run.
  const auto positions = random_positions(config(), 12, 9);
  auto e = make_evaluator(config(), 4);
  e->load_model(model("batch_value"));
  std::vector<const Board*> boards;
  for (const Board& b : positions) boards.push_back(&b);
  auto futures = e->submit(boards, 1);
  EXPECT_THROW(e->flush(), ModelError);
  for (auto& future : futures) {
    ASSERT_TRUE(ready(future));
    EXPECT_THROW(future.get(), ModelError);
  }
  // The queue is empty afterwards and single positions still work.
  e->flush();
  expect_linear(positions[0], evaluate(*e, positions[0]));
}

TEST(Evaluator, RefusedModelsLeaveTheOldOneInUse) {
  struct Case {
    const char* file;
    BoardConfig config;
    std::vector<std::string> mentions;  // what the message must name
  };
  const Case cases[] = {
      {"no_such_model", config(), {"no_such_model.onnx"}},
      {"bad_input_name", config(), {"spatial_feature", "\"input\""}},
      {"bad_channels", config(), {"40", "39"}},
      {"int8_input", config(), {"float32", "int8"}},
      {"missing_draw_rate", config(), {"draw_rate"}},
      {"fixed_policy225", config(Rule::Freestyle, 18, 12), {"policy", "216", "225"}},
      {"tiny42", config(), {"40", "42"}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.file);
    auto e = make_evaluator(t.config);
    e->load_model(model("linear40"));
    try {
      e->load_model(model(t.file));
      ADD_FAILURE() << "loaded";
    } catch (const ModelError& error) {
      for (const std::string& mention : t.mentions)
        EXPECT_NE(std::string(error.what()).find(mention), std::string::npos) << error.what();
    }
    EXPECT_EQ(e->model_name(), "linear40");
    const Board b = random_positions(t.config, 1, 9)[0];
    expect_linear(b, evaluate(*e, b));
  }

  // From random mode a refused model keeps random mode.
  auto e = make_evaluator();
  EXPECT_THROW(e->load_model(model("bad_channels")), ModelError);
  const Board b = random_positions(config(), 1, 9)[0];
  EXPECT_TRUE(ready(e->submit({&b}, 0)[0]));

  // The fixed policy size is no fault where it fits the board.
  e->load_model(model("fixed_policy225"));
  const EvalResult r = evaluate(*e, b);
  expect_valid(b, r);
  EXPECT_FLOAT_EQ(r.values[b.side_to_move], 0.25f);
  EXPECT_FLOAT_EQ(r.draw_rate, 0.125f);
}

TEST(Evaluator, GpuDevicesWithoutProviderFailCleanly) {
  for (const std::string device : {"cuda", "tensorrt"}) {
    SCOPED_TRACE(device);
    auto e = make_evaluator(config(), 4, 16, device);
    try {
      e->load_model(model("linear40"));
      GTEST_SKIP() << "a GPU provider is available here";
    } catch (const ModelError& error) {
      EXPECT_NE(std::string(error.what()).find(device), std::string::npos) << error.what();
    }
    const Board b = random_positions(config(), 1, 9)[0];
    EXPECT_TRUE(ready(e->submit({&b}, 0)[0]));  // still in random mode
  }
}

TEST(Evaluator, ConcurrentSubmitsAndFlushes) {
  auto e = make_evaluator(config(), 4, 64);
  e->load_model(model("tiny40"));
  constexpr int kThreads = 4;
  std::vector<std::vector<Board>> boards;
  for (int t = 0; t < kThreads; ++t) boards.push_back(random_positions(config(), 10, 20 + t % 2));
  std::vector<std::vector<std::future<EvalResult>>> futures(kThreads);
  std::atomic<int> submitting{kThreads};

  std::thread flusher([&] {
    while (submitting > 0) {
      e->flush();
      std::this_thread::yield();
    }
    e->flush();
  });
  std::vector<std::thread> submitters;
  for (int t = 0; t < kThreads; ++t) {
    submitters.emplace_back([&, t] {
      for (const Board& b : boards[t]) futures[t].push_back(std::move(e->submit({&b}, 0)[0]));
      --submitting;
    });
  }
  for (auto& s : submitters) s.join();
  flusher.join();
  for (int t = 0; t < kThreads; ++t) {
    for (size_t i = 0; i < boards[t].size(); ++i) {
      ASSERT_EQ(futures[t][i].wait_for(10s), std::future_status::ready);
      expect_valid(boards[t][i], futures[t][i].get());
    }
  }
}

}  // namespace
