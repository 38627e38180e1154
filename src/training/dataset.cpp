#include "training/dataset.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>

#include "app/output.h"
#include "config/config_file.h"
#include "evaluation/code_network.h"
#include "evaluation/evaluator.h"
#include "evaluation/features.h"
#include "training/little_endian.h"
#include "training/selfplay_records.h"

namespace tovan::training {

namespace {

const char* const kDatasetUsage =
    "usage: pbrain-tovan dataset [options] RECORDS...\n"
    "  --out FILE     sample file, created or emptied (samples.tvds)\n"
    "  --model PATH   also record this model's answers: a network or a .weights file\n";

struct DatasetOptions {
  std::string out = "samples.tvds";
  std::string model;
  std::vector<std::string> records;
  bool help = false;
};

struct UsageError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

DatasetOptions parse_options(const std::vector<std::string>& args) {
  DatasetOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--help") {
      options.help = true;
    } else if (word == "--out" || word == "--model") {
      if (i + 1 == args.size() || args[i + 1].empty()) throw UsageError(word + " needs a value");
      (word == "--out" ? options.out : options.model) = args[++i];
    } else if (word.starts_with("--")) {
      throw UsageError("unknown option '" + word + "'");
    } else {
      options.records.push_back(word);
    }
  }
  if (options.records.empty() && !options.help) throw UsageError("no record file given");
  return options;
}

// A bad record names its game; the file is named by the caller.
struct RecordFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What a position is trained towards, for its side to move.
struct Targets {
  std::vector<float> policy;  // height x width, row-major
  float result;               // the game's result: 1 won, 0 drawn, -1 lost
  float draw;                 // 1 when the game was drawn
  float root_value;
  float root_draw;
};

// The sample file: a header, then samples of one fixed size (docs/formats.md, "Training samples").
class SampleWriter {
 public:
  static constexpr uint8_t kVersion = 2;

  SampleWriter(const std::string& path, const BoardConfig& config, bool with_model)
      : file_(path, std::ios::binary | std::ios::trunc) {
    if (!file_) throw std::runtime_error("cannot open " + path + " for writing");
    std::string header = "TVDS";
    for (const int field : {int{kVersion}, static_cast<int>(config.rule), config.width, config.height,
                            eval::channel_count(config.rule), int{with_model}, 0, 0, 0, 0, 0, 0}) {
      put(header, static_cast<uint8_t>(field), 1);
    }
    emit(header);
  }

  void write(const Board& board, const Targets& targets, const eval::EvalResult* answer) {
    std::string sample;
    eval::FeatureMap features = eval::build_features(board);
    const eval::FeatureBuffer& planes = features.spatial_feature;
    for (size_t i = 0; i < planes.size(); i += 8) {
      uint8_t byte = 0;
      for (size_t bit = 0; bit < 8 && i + bit < planes.size(); ++bit) byte |= (planes[i + bit] != 0) << bit;
      put(sample, byte, 1);
    }
    eval::FeatureBufferPool::instance().release(std::move(features.spatial_feature));
    for (int y = 0; y < board.config().height; ++y) {
      for (int x = 0; x < board.config().width; ++x) {
        for (const uint16_t code : eval::code_indices(board, cell_index(x, y))) put(sample, code, 2);
      }
    }
    for (const float p : targets.policy) put_float(sample, p);
    for (const float v : {targets.result, targets.draw, targets.root_value, targets.root_draw}) put_float(sample, v);
    if (answer != nullptr) {
      for (const float p : spread(board, answer->policy)) put_float(sample, p);
      put_float(sample, answer->values[board.side_to_move()]);
      put_float(sample, answer->draw_rate);
    }
    emit(sample);
  }

  // One value per candidate, in candidate order, spread over the board.
  static std::vector<float> spread(const Board& board, const std::vector<float>& per_candidate) {
    std::vector<float> plane(static_cast<size_t>(board.config().width) * board.config().height, 0.0f);
    for (size_t a = 0; a < per_candidate.size(); ++a) {
      const Move move = board.candidates()[a];
      plane[move.y * board.config().width + move.x] = per_candidate[a];
    }
    return plane;
  }

 private:
  void emit(const std::string& bytes) {
    file_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file_) throw std::runtime_error("cannot write the sample file");
  }

  std::ofstream file_;
};

// The candidate index of `move`; throws RecordFault when it is no candidate.
size_t candidate_index(const Board& board, Move move, const std::string& what) {
  const std::vector<Move>& candidates = board.candidates();
  const auto found = std::find(candidates.begin(), candidates.end(), move);
  if (found == candidates.end() || board.game_over()) {
    throw RecordFault(what + " (" + std::to_string(move.x) + "," + std::to_string(move.y) + ") is not a legal move");
  }
  return static_cast<size_t>(found - candidates.begin());
}

class Dataset {
 public:
  Dataset(const config::Settings& settings, const DatasetOptions& options) : settings_(settings), options_(options) {}

  // Writes the samples of every game of every record file.
  void run() {
    for (const std::string& path : options_.records) {
      std::error_code ignored;
      if (std::filesystem::equivalent(path, options_.out, ignored)) throw std::runtime_error(path + " is also --out");
    }
    for (const std::string& path : options_.records) {
      RecordReader reader(path);
      GameRecord game;
      for (int64_t number = 1; reader.next(game); ++number) {
        try {
          add(game);
        } catch (const RecordFault& fault) {
          throw std::runtime_error(path + ": game " + std::to_string(number) + ": " + fault.what());
        }
        ++games_;
      }
    }
    if (!writer_) throw std::runtime_error("the record files hold no game");
    app::say("dataset: " + std::to_string(games_) + " games, " + std::to_string(samples_) + " samples (" +
             std::to_string(line_samples_) + " on winning lines) in " + options_.out);
  }

  // Whether the sample file was created (and so is removed after a failure).
  bool created() const { return writer_ != nullptr; }

 private:
  // The searched positions of the game, then each position of the VCF that ended it, whose
  // target is the line's move and whose value is the proven result.
  void add(const GameRecord& game) {
    start(game);
    Board board(config_, 0, CellArray{}, 0);
    auto position = game.positions.begin();
    for (size_t ply = 0; ply <= game.moves.size(); ++ply) {
      for (; position != game.positions.end() && position->ply == static_cast<int32_t>(ply); ++position) {
        add_searched(board, game, *position);
      }
      if (ply < game.moves.size()) {
        candidate_index(board, game.moves[ply], "a move");
        board.play(game.moves[ply]);
      }
    }
    if (position != game.positions.end()) throw RecordFault("a position's move index is out of order or too large");
    if (game.vcf.empty()) return;
    if (game.winner != board.side_to_move()) throw RecordFault("its winning line is not the winner's");
    for (const Move move : game.vcf) {
      if (board.game_over()) break;
      Targets targets{.policy = std::vector<float>(plane_size(), 0.0f),
                      .result = 0.0f,
                      .draw = 0.0f,
                      .root_value = 0.0f,
                      .root_draw = 0.0f};
      targets.policy[move.y * config_.width + move.x] = 1.0f;
      candidate_index(board, move, "a winning line's move");
      targets.result = targets.root_value = board.side_to_move() == game.winner ? 1.0f : -1.0f;
      write(board, targets);
      ++line_samples_;
      board.play(move);
    }
  }

  void add_searched(const Board& board, const GameRecord& game, const PositionRecord& position) {
    if (position.side != board.side_to_move()) throw RecordFault("a position's side to move is wrong");
    std::vector<float> weights(board.candidates().size(), 0.0f);
    double sum = 0.0;
    for (const PositionRecord::Weight& weight : position.policy) {
      if (!(weight.probability >= 0.0f && weight.probability <= 1.0f)) throw RecordFault("a weight is out of 0..1");
      weights[candidate_index(board, weight.move, "a weighted move")] += weight.probability;
      sum += weight.probability;
    }
    if (std::abs(sum - 1.0) > 1e-3) throw RecordFault("a position's weights do not sum to 1");
    if (!(std::abs(position.value) <= 1.0f && position.draw_rate >= 0.0f && position.draw_rate <= 1.0f)) {
      throw RecordFault("a position's root value is out of range");
    }
    const int32_t side = board.side_to_move();
    const float result = game.winner == 2 ? 0.0f : game.winner == side ? 1.0f : -1.0f;
    write(board, {SampleWriter::spread(board, weights), result, game.winner == 2 ? 1.0f : 0.0f, position.value,
                  position.draw_rate});
  }

  // The first game fixes the rule and board of the file; every later one must share them.
  void start(const GameRecord& game) {
    if (game.width < kMinSide || game.width > kMaxSide || game.height < kMinSide || game.height > kMaxSide) {
      throw RecordFault("its board is off the 5..20 range");
    }
    const BoardConfig config = settings_.board_config(game.rule, game.width, game.height);
    if (writer_) {
      if (config.rule != config_.rule || config.width != config_.width || config.height != config_.height) {
        throw RecordFault("its rule or board differs from the first game's");
      }
      return;
    }
    config_ = config;
    writer_ = std::make_unique<SampleWriter>(options_.out, config_, !options_.model.empty());
    if (!options_.model.empty()) load_model();
  }

  void load_model() {
    // Uncached: every position is asked once.
    eval::EvaluatorOptions options = settings_.evaluator;
    options.device.device_id = settings_.device_ids.front();
    options.cache_capacity = 0;
    evaluator_ = std::make_unique<eval::Evaluator>(config_.rule, config_.width, config_.height, options);
    evaluator_->load_model(eval::utf8_of(config::resolve_data_path(options_.model, settings_.executable_directory)));
  }

  void write(const Board& board, const Targets& targets) {
    std::optional<eval::EvalResult> answer;
    if (evaluator_) {
      auto futures = evaluator_->submit({&board});
      evaluator_->flush();
      answer = futures.front().get();
    }
    writer_->write(board, targets, answer ? &*answer : nullptr);
    ++samples_;
  }

  size_t plane_size() const { return static_cast<size_t>(config_.width) * config_.height; }

  const config::Settings& settings_;
  const DatasetOptions& options_;
  BoardConfig config_{};
  std::unique_ptr<SampleWriter> writer_;
  std::unique_ptr<eval::Evaluator> evaluator_;
  int64_t games_ = 0;
  int64_t samples_ = 0;
  int64_t line_samples_ = 0;
};

}  // namespace

int run_dataset(const config::Settings& settings, const std::vector<std::string>& args) {
  DatasetOptions options;
  try {
    options = parse_options(args);
  } catch (const UsageError& error) {
    std::cerr << "dataset: " << error.what() << "\n" << kDatasetUsage;
    return 2;
  }
  if (options.help) {
    std::cout << kDatasetUsage;
    return 0;
  }
  Dataset dataset(settings, options);
  try {
    dataset.run();
  } catch (const std::exception& error) {
    std::error_code ignored;
    if (dataset.created()) std::filesystem::remove(options.out, ignored);
    std::cerr << "dataset: " << error.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace tovan::training
