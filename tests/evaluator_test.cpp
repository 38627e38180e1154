// Evaluation: feature planes of hand-drawn positions against the planes drawn out by
// hand, and the reading of one row of network output; the evaluation service on the
// generated test networks (failing runs, batching, the cache and finished games, pausing,
// and refused settings, positions and models); and the result cache on its own.
#include "evaluation/evaluator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <tuple>

#include "evaluation/code_network.h"
#include "evaluation/eval_cache.h"
#include "evaluation/features.h"
#include "test_positions.h"

namespace tovan {

namespace {

using namespace std::chrono_literals;
using eval::EvalCache;
using eval::EvalResult;
using eval::Evaluator;
using eval::EvaluatorOptions;
using eval::ModelError;

std::string model(const std::string& name) { return std::string(TEST_MODEL_DIR) + "/" + name + ".onnx"; }

BoardConfig config(Rule rule = Rule::Freestyle, int width = 15, int height = 15) {
  return board_config(rule, width, height);
}

std::unique_ptr<Evaluator> make_evaluator(const BoardConfig& c = config(), int batch = 8, int cache = 1024) {
  return std::make_unique<Evaluator>(c.rule, c.width, c.height,
                                     EvaluatorOptions{.batch_size = batch, .cache_capacity = cache});
}

bool ready(std::future<EvalResult>& f) { return f.wait_for(0s) == std::future_status::ready; }

EvalResult evaluate(Evaluator& e, const Board& b) {
  auto futures = e.submit({&b});
  e.flush();
  return futures[0].get();
}

// The first positions of a random game on a board with two blocked cells.
std::vector<Board> game_positions(const BoardConfig& c, size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Board> positions{board_from_rows(c, {"", "#", "", "", "....#"}, 0)};
  while (positions.size() < count) {
    Board b = positions.back();
    b.play(b.candidates()[rng() % b.candidates().size()]);
    positions.push_back(b);
  }
  EXPECT_FALSE(positions.back().game_over());
  return positions;
}

// What linear40 and linear42 answer: every candidate has logit 2, so the policy is
// uniform; the value is the stone balance of the side to move over the on-board cells,
// the draw rate the candidates over the on-board cells.
void expect_linear(const Board& b, const EvalResult& r) {
  int on_board = 0, balance = 0;
  for (int y = 0; y < b.config().height; ++y) {
    for (int x = 0; x < b.config().width; ++x) {
      on_board += b.cell(x, y) != BLOCKED;
      balance += (b.cell(x, y) == b.side_to_move() + 1) - (b.cell(x, y) == 2 - b.side_to_move());
    }
  }
  ASSERT_EQ(r.policy.size(), b.candidates().size());
  for (float p : r.policy) EXPECT_NEAR(p, 1.0 / b.candidates().size(), 1e-6);
  EXPECT_NEAR(r.values[b.side_to_move()], static_cast<float>(balance) / on_board, 1e-6);
  EXPECT_EQ(r.values[1 - b.side_to_move()], -r.values[b.side_to_move()]);
  EXPECT_NEAR(r.draw_rate, static_cast<float>(b.candidates().size()) / on_board, 1e-6);
}

// 'X' where the plane is set, as full rows of the board.
std::vector<std::string> plane_rows(const Board& b, int plane) {
  const int w = b.config().width, h = b.config().height;
  const eval::FeatureBuffer f = eval::build_features(b).spatial_feature;
  EXPECT_EQ(f.size(), static_cast<size_t>(eval::channel_count(b.config().rule)) * w * h);
  std::vector<std::string> rows(h, std::string(w, '.'));
  for (int i = 0; i < w * h; ++i) rows[i / w][i % w] = f[static_cast<size_t>(plane) * w * h + i] == 1 ? 'X' : '.';
  return rows;
}

TEST(FeaturePlanes, MatchTheirDrawings) {
  const BoardConfig small = board_config(Rule::Standard, 7, 5), edge = board_config(Rule::Freestyle, 9, 6);
  const BoardConfig free15 = board_config(Rule::Freestyle), renju15 = board_config(Rule::Renju);
  const std::vector<std::string> stones = {"X....#.", ".O.....", "......O", "#..X..."};
  const std::vector<std::string> two = {"O", "", "", "", "", "", "", ".....XX", "", "", "", "", "", "", "..............O"};
  auto on_row7 = [](const std::string& row) { return std::vector<std::string>{"", "", "", "", "", "", "", row}; };
  // Playing (7, 7) makes a four on row 7 and an open three on column 7, and under Renju
  // two open threes for Black.
  const std::vector<std::string> four_three = {
      "O", "", "", "", "", ".......X", ".......X", "...OXXX", "", "", "", "", "", "", "O.............O"};
  const std::vector<std::string> double_three = {
      "", "", "", "", "", ".......X", ".......X", ".....XX", "", "..O..O..O..O"};
  struct Case {
    const char* what;
    BoardConfig config;
    std::vector<std::string> position;
    int side, plane;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"on board", small, stones, 0, 0, {"XXXXX.X", "XXXXXXX", "XXXXXXX", ".XXXXXX", "XXXXXXX"}},
      {"own stones, Black to move", small, stones, 0, 1, {"X", "", "", "...X"}},
      {"opponent stones, Black to move", small, stones, 0, 2, {"", ".X", "......X"}},
      {"own stones, White to move", small, stones, 1, 1, {"", ".X", "......X"}},
      {"open three spans", free15, two, 0, 4 + 3, on_row7("...XXXXXX")},
      {"open three spans, opponent block", free15, two, 1, 4 + 18 + 3, on_row7("...XXXXXX")},
      {"open three cut by the edge", edge, {"", "", "......XX", "", "", "OO"}, 0, 4 + 3, {"", "", "....XXXX"}},
      {"threes up to the edge", edge, {"", "", "......XX", "", "", "OO"}, 0, 4 + 4, {"", "", "...XXXXXX"}},
      {"five", edge, {"", ".XXXX", "", "OOOO"}, 0, 4, {"", "X....X"}},
      {"four and open three in two lines", free15, four_three, 0, 4 + 9,
       {"", "", "", "", ".......X", ".......X", ".......X", "....XXXXX", ".......X"}},
      {"two fours in one line", free15, on_row7("OX.XX..XO"), 0, 4 + 1, on_row7(".XXXXXXX")},
      {"no threat for Renju Black", renju15, on_row7("OX.XX..XO"), 0, 6 + 1, {}},
      {"a threat for Renju White", renju15, on_row7("XO.OO..OX"), 1, 6 + 1, on_row7(".XXXXXXX")},
      {"Black to move", renju15, double_three, 0, 4, std::vector<std::string>(15, std::string(15, 'X'))},
      {"White to move", renju15, double_three, 1, 4, {}},
      {"forbidden for Black to move", renju15, double_three, 0, 5, on_row7(".......X")},
      {"forbidden for White to move", renju15, double_three, 1, 5, on_row7(".......X")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Board b = board_from_rows(c.config, c.position, c.side);
    std::vector<std::string> want = c.want;  // drawn up to the last set cell
    want.resize(b.config().height);
    for (std::string& row : want) row.resize(b.config().width, '.');
    EXPECT_EQ(plane_rows(b, c.plane), want);
  }
}

// The logit of a candidate is read at its own cell of the output row.
TEST(DecodeOutput, ReadsTheCandidatesRowMajor) {
  std::vector<std::string> rows = {"", "...XO", "....X*", "...O"};
  const std::optional<Move> target = take_mark(rows, '*');
  const Board b = board_from_rows(board_config(Rule::Freestyle, 9, 6), rows, 0);
  std::vector<float> logits(6 * 9, 0.0f);
  logits[target->y * 9 + target->x] = 10.0f;
  const eval::EvalResult r = eval::decode_output(b, logits.data(), 0.25f, 0.5f);
  ASSERT_EQ(r.policy.size(), b.candidates().size());
  for (size_t i = 0; i < r.policy.size(); ++i) EXPECT_EQ(r.policy[i] > 0.5f, b.candidates()[i] == *target) << i;
}

// Queued positions wait for flush, which runs them in batches of at most the batch size,
// as many rows as positions on the CPU, each row answered on its own. batch_value answers
// only batches of one row rightly (see below).
TEST(Evaluator, BatchesAnswerEveryRowOnItsOwn) {
  const BoardConfig caro = config(Rule::StandardCaro, 18, 12);
  const std::tuple<BoardConfig, const char*, int> cases[] = {
      {caro, "linear40", 3}, {caro, "linear40", 32}, {config(Rule::Renju), "linear42", 8}, {caro, "batch_value", 1}};
  for (const auto& [c, name, batch] : cases) {
    SCOPED_TRACE(std::string(name) + " batch " + std::to_string(batch));
    const std::vector<Board> positions = game_positions(c, 20, 11);
    auto e = make_evaluator(c, batch);
    e->load_model(model(name));
    std::vector<std::future<EvalResult>> futures;
    for (const Board& b : positions) futures.push_back(std::move(e->submit({&b})[0]));
    for (auto& f : futures) EXPECT_FALSE(ready(f));
    e->flush();
    for (size_t i = 0; i < positions.size(); ++i) expect_linear(positions[i], futures[i].get());
  }
}

TEST(Evaluator, AFailingRunFailsEveryWaitingRequestAndReachesTheCaller) {
  // batch_value answers one win rate for a whole batch: right for one position, too few
  // values for several, which the evaluator refuses after the run.
  const auto positions = game_positions(config(), 10, 9);
  auto e = make_evaluator(config(), 4);
  e->load_model(model("batch_value"));
  std::vector<const Board*> boards;
  for (const Board& b : positions) boards.push_back(&b);
  auto futures = e->submit(boards);
  EXPECT_THROW(e->flush(), ModelError);
  for (auto& future : futures) {
    ASSERT_TRUE(ready(future));
    EXPECT_THROW(future.get(), ModelError);
  }
  // The queue is empty afterwards, and one position runs as one row on the CPU.
  e->flush();
  expect_linear(positions.back(), evaluate(*e, positions.back()));
}

TEST(Evaluator, PauseHoldsSubmitsUntilTheNextLoadHasFinished) {
  const Board b = game_positions(config(), 10, 5).back();
  auto e = make_evaluator();
  // A failed load ends the pause too, so that nobody waits for a model that never comes.
  for (const std::string& release : {model("linear40"), model("no_such_model")}) {
    SCOPED_TRACE(release);
    e->load_model("pause");
    auto answer = std::async(std::launch::async, [&] { return evaluate(*e, b); });
    EXPECT_EQ(answer.wait_for(200ms), std::future_status::timeout);
    try {
      e->load_model(release);
    } catch (const ModelError&) {
      EXPECT_EQ(release, model("no_such_model"));
    }
    expect_linear(b, answer.get());  // answered by the new model, never by the mode before it
  }
}

// Cached positions and finished games are answered inside submit; a model load empties
// the cache.
TEST(Evaluator, CacheAndFinishedGamesAnswerInsideSubmit) {
  std::vector<std::string> full(15, std::string(15, '#'));  // no empty cell, no five
  for (int y = 0; y < 5; ++y) full[y].replace(0, 5, y % 2 ? "OOXXO" : "XXOOX");
  const Board win = board_from_rows(config(), {"", "", "...XXXXX", "", "...OOOO"}, 1);
  const Board draw = board_from_rows(config(), full, 1);
  ASSERT_TRUE(win.game_over() && win.winner() == 0 && draw.game_over() && draw.winner() == 2);
  const Board b = game_positions(config(), 10, 3).back();
  auto e = make_evaluator();
  auto uncached = make_evaluator(config(), 8, 0);
  for (Evaluator* evaluator : {e.get(), uncached.get()}) {
    evaluator->load_model(model("linear40"));
    evaluate(*evaluator, b);
  }
  auto futures = e->submit({&b, &win, &draw});
  ASSERT_TRUE(ready(futures[0]) && ready(futures[1]) && ready(futures[2]));
  expect_linear(b, futures[0].get());
  const EvalResult w = futures[1].get(), d = futures[2].get();
  EXPECT_TRUE(w.policy.empty() && d.policy.empty());
  EXPECT_EQ(w.values, (std::array<float, 2>{1.0f, -1.0f}));
  EXPECT_EQ(d.values, (std::array<float, 2>{0.0f, 0.0f}));
  EXPECT_EQ(std::pair(w.draw_rate, d.draw_rate), std::pair(0.0f, 1.0f));

  EXPECT_FALSE(ready(uncached->submit({&b})[0]));
  e->load_model(model("linear40"));
  EXPECT_FALSE(ready(e->submit({&b})[0]));
  e->flush();
  uncached->flush();
}

TEST(Evaluator, RefusesBadSettingsPositionsOfAnotherRuleOrSizeAndModelsThatDoNotFit) {
  EXPECT_THROW(make_evaluator(config(), 0), std::invalid_argument);
  // Their features would overrun the network's input rows.
  for (const BoardConfig& other : {config(Rule::Renju), config(Rule::Freestyle, 15, 14)}) {
    const Board b(other, 0, CellArray{}, 0);
    EXPECT_THROW(make_evaluator()->submit({&b}), std::invalid_argument);
  }
  // A refused model leaves the one before it in use.
  const std::pair<const char*, std::vector<std::string>> cases[] = {  // the model, what the message names
      {"no_such_model", {"no_such_model.onnx"}},
      {"bad_input_name", {"spatial_feature", "\"input\""}},
      {"bad_channels", {"40", "39"}},
      {"int8_input", {"float32", "int8"}},
      {"missing_draw_rate", {"draw_rate"}},
      {"tiny42", {"40", "42"}},
  };
  const Board b = game_positions(config(), 10, 9).back();
  for (const auto& [name, mentions] : cases) {
    SCOPED_TRACE(name);
    auto e = make_evaluator();
    e->load_model(model("linear40"));
    try {
      e->load_model(model(name));
      ADD_FAILURE() << "loaded";
    } catch (const ModelError& error) {
      for (const std::string& mention : mentions) EXPECT_NE(std::string(error.what()).find(mention), std::string::npos);
    }
    EXPECT_EQ(e->model_name(), "linear40");
    expect_linear(b, evaluate(*e, b));
  }
}

// The built-in evaluator against the pattern network of the same numbers, over whole
// games under every rule on square, rectangular, small and large boards, finished
// positions and blocked cells included. Half the moves are the built-in evaluator's
// favourite, so that the games hold fours, fives to play and Renju forbidden points, not
// only quiet moves.
TEST(PatternEvaluator, AnswersAsThePatternNetworkOfTheSameNumbers) {
  const std::pair<BoardConfig, const char*> cases[] = {
      {config(Rule::Freestyle), "freestyle"},          {config(Rule::Freestyle, 20, 20), "freestyle_large"},
      {config(Rule::Freestyle, 6, 5), "freestyle"},    {config(Rule::Standard, 17, 12), "standard"},
      {config(Rule::Renju), "renju"},                  {config(Rule::Renju, 11, 19), "renju"},
      {config(Rule::StandardCaro, 20, 9), "standard_caro"}};
  const Board blocked = board_from_rows(config(), {"#", "", "", "......#", "", "", "", "", "", "..#"}, 0);
  const std::string models = SHIPPED_MODEL_DIR "/";
  std::mt19937 random(15);
  std::map<float, int> decided;  // win rates of the decided cases: a five to play, two against, a strong threat
  for (const auto& [c, name] : cases) {
    SCOPED_TRACE(name + (" " + std::to_string(c.width) + "x" + std::to_string(c.height)));
    auto network = make_evaluator(c, 16, 0), patterns = make_evaluator(c, 16, 0);
    network->load_model(models + name + ".onnx");
    patterns->load_model(models + name + ".weights");
    int forbidden = 0;
    for (int game = 0; game < 6; ++game) {
      std::vector<Board> positions{game == 0 && c.width == 15 && c.height == 15 ? Board(c, 0, blocked.cells(), 0)
                                                                                 : Board(c, 0, CellArray{}, 0)};
      std::vector<EvalResult> built_in;
      while (true) {
        const Board& b = positions.back();
        auto future = std::move(patterns->submit({&b})[0]);
        ASSERT_TRUE(ready(future));
        built_in.push_back(future.get());
        if (b.game_over()) break;
        const std::vector<float>& policy = built_in.back().policy;
        const size_t best = std::max_element(policy.begin(), policy.end()) - policy.begin();
        Board next = b;
        next.play(b.candidates()[random() % 2 ? best : random() % policy.size()]);
        positions.push_back(next);
      }
      std::vector<const Board*> boards;
      for (const Board& b : positions) boards.push_back(&b);
      auto futures = network->submit(boards);
      network->flush();
      for (size_t i = 0; i < positions.size(); ++i) {
        const EvalResult want = futures[i].get();
        const EvalResult& got = built_in[i];
        ASSERT_EQ(got.policy.size(), want.policy.size());
        for (size_t m = 0; m < want.policy.size(); ++m) ASSERT_NEAR(got.policy[m], want.policy[m], 1e-5) << i << " " << m;
        ASSERT_NEAR(got.values[0], want.values[0], 1e-5) << i;
        ASSERT_NEAR(got.values[1], want.values[1], 1e-5) << i;
        ASSERT_NEAR(got.draw_rate, want.draw_rate, 1e-5) << i;
        const auto& marks = positions[i].forbidden();
        forbidden += std::count(marks.begin(), marks.end(), 1);
        ++decided[want.values[positions[i].side_to_move()]];
      }
    }
    if (c.rule == Rule::Renju) {
      EXPECT_GT(forbidden, 0);
    }
  }
  for (float value : {0.95f, -0.95f, 0.85f}) EXPECT_GT(decided[value], 0) << value;
}

// A weights file with a fault is refused, the fault named, and the model before it stays.
TEST(PatternEvaluator, RefusesFaultyWeightsFiles) {
  std::ifstream shipped(SHIPPED_MODEL_DIR "/freestyle.weights");
  const std::string good((std::istreambuf_iterator<char>(shipped)), std::istreambuf_iterator<char>());
  auto edited = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  const std::pair<std::string, std::string> cases[] = {  // the file's text, what the message names
      {"# nothing\n", "empty"},
      {edited("tovan-pattern-weights 1", "tovan-pattern-weights 2"), "line 3: version 2"},
      {edited("tovan-pattern-weights 1", "onnx 1"), "line 3: expected \"tovan-pattern-weights 1\""},
      {edited("draw_fill 4.0\n", ""), "missing draw_fill"},
      {edited("draw_fill 4.0", "draw_fill 4.0\nvalue_tempo 0.1"), "repeated name value_tempo"},
      {edited("combo_scale 0.4", "combo_scale 0.4 0.5"), "combo_scale takes 1 numbers, not 2"},
      {edited("value_tempo 0.1", "value_tempo nan"), "not a finite number: nan"},
      {edited("value_tempo 0.1", "value_tempo 1e99"), "not a finite number: 1e99"},
      {edited("value_tempo 0.1", "value_tempo 0.1x"), "not a finite number: 0.1x"},
      {edited("combo_divisor 30.0", "combo_divisor 0"), "combo_divisor is 0"},
  };
  const std::string path = testing::TempDir() + "faulty.weights";
  const Board b = game_positions(config(), 10, 9).back();
  auto e = make_evaluator();
  for (const auto& [text, mention] : cases) {
    SCOPED_TRACE(mention);
    std::ofstream(path) << text;
    e->load_model(model("linear40"));
    try {
      e->load_model(path);
      ADD_FAILURE() << "loaded";
    } catch (const ModelError& error) {
      EXPECT_NE(std::string(error.what()).find(mention), std::string::npos) << error.what();
    }
    expect_linear(b, evaluate(*e, b));
  }
  EXPECT_THROW(e->load_model(testing::TempDir() + "no_such.weights"), ModelError);
}

// The result cache: first in, first out, whatever is read or overwritten, within its
// entry capacity and its byte budget.
EvalResult result(float value) { return EvalResult{{value, 1.0f - value}, {value, -value}, value / 2}; }

// The keys from 1 to 9 that the cache holds, as digits.
std::string held(EvalCache& cache) {
  std::string keys;
  for (uint64_t key = 1; key <= 9; ++key)
    if (cache.lookup(key)) keys += static_cast<char>('0' + key);
  return keys;
}

// Random weights on random positions, with and without the policy's context: the AVX2
// code and the baseline give the same numbers (both where the machine runs AVX2), and so
// do cells answered from a thread's memo of earlier positions and a network that has seen
// nothing yet.
TEST(CodeNetwork, TheBaselineTheAvx2CodeAndTheMemoAnswerAlike) {
  std::mt19937 random(23);
  std::normal_distribution<float> draw(0.0f, 0.3f);
  for (const auto& [c, context] : {std::pair{config(Rule::Freestyle), true}, std::pair{config(Rule::Freestyle), false},
                                   std::pair{config(Rule::Renju, 12, 9), true}}) {
    SCOPED_TRACE(context);
    eval::CodeNetworkWeights weights;
    weights.channels = eval::channel_count(c.rule);
    for (auto [array, count] : std::initializer_list<std::pair<std::vector<float>*, int>>{
             {&weights.cell_bias, eval::kCellWidth},
             {&weights.plane_columns, weights.channels * eval::kCellWidth},
             {&weights.own_code_columns, eval::kCodeIndices * eval::kCellWidth},
             {&weights.opponent_code_columns, eval::kCodeIndices * eval::kCellWidth},
             {&weights.policy_hidden, eval::kPolicyHidden * eval::kCellWidth},
             {&weights.policy_hidden_bias, eval::kPolicyHidden},
             {&weights.policy_out, eval::kPolicyHidden},
             {&weights.policy_out_bias, 1},
             {&weights.value_hidden, eval::kValueHidden * 2 * eval::kCellWidth},
             {&weights.value_hidden_bias, eval::kValueHidden},
             {&weights.value_out, eval::kOutcomes * eval::kValueHidden},
             {&weights.value_out_bias, eval::kOutcomes}}) {
      for (int i = 0; i < count; ++i) array->push_back(draw(random));
    }
    if (context) {
      for (float& weight : weights.policy_context) weight = draw(random);
    }
    std::vector<Board> positions;
    for (int i = 0; i < 40; ++i) positions.push_back(random_position(random, c, 0, 1, 30));
    const eval::CodeNetwork best(weights, c.rule), baseline(weights, c.rule, false);
    std::vector<EvalResult> first;
    for (const Board& b : positions) first.push_back(best.evaluate(b));
    for (size_t i = 0; i < positions.size(); ++i) {
      SCOPED_TRACE(i);
      for (const EvalResult& again :
           {best.evaluate(positions[i]), baseline.evaluate(positions[i]),
            eval::CodeNetwork(weights, c.rule).evaluate(positions[i])}) {
        EXPECT_EQ(again.policy, first[i].policy);
        EXPECT_EQ(again.values, first[i].values);
        EXPECT_EQ(again.draw_rate, first[i].draw_rate);
      }
    }
  }
}

TEST(EvalCache, EvictsTheOldestInsertionWithinItsCapacityAndByteBudget) {
  EvalCache cache(2);
  cache.insert(1, result(0.1f));
  cache.insert(2, result(0.2f));
  cache.insert(1, result(0.5f));  // neither overwriting nor reading makes 1 younger
  EXPECT_EQ(cache.lookup(1)->policy, result(0.5f).policy);
  cache.insert(3, result(0.3f));
  EXPECT_EQ(held(cache), "23");
  cache.insert(1, result(0.4f));  // an evicted key comes back as the youngest
  EXPECT_EQ(held(cache), "13");
  EXPECT_EQ(cache.lookup(1)->values[0], 0.4f);
  // No trace of the old order may evict the new entries early.
  cache.clear();
  cache.insert(3, result(0.3f));
  cache.insert(4, result(0.4f));
  EXPECT_EQ(held(cache), "34");
  cache.insert(5, result(0.5f));
  EXPECT_EQ(held(cache), "45");

  const int64_t entry = EvalCache::entry_bytes(result(0.0f));
  EvalCache budgeted(100);
  budgeted.set_byte_budget(3 * entry);
  for (uint64_t key = 1; key <= 5; ++key) budgeted.insert(key, result(0.1f));
  EXPECT_EQ(budgeted.bytes(), 3 * entry);
  EXPECT_EQ(held(budgeted), "345");
  budgeted.set_byte_budget(entry);  // a smaller budget evicts at once
  EXPECT_EQ(budgeted.bytes(), entry);
  EXPECT_EQ(held(budgeted), "5");
}

}  // namespace

}  // namespace tovan
