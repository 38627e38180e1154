#include "training/selfplay_records.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>
#include <string_view>

#include "training/little_endian.h"

namespace tovan::training {

namespace {

constexpr char kMagic[4] = {'T', 'V', 'S', 'P'};

void put_move(std::string& out, Move move) {
  put(out, static_cast<uint8_t>(move.x), 1);
  put(out, static_cast<uint8_t>(move.y), 1);
}

std::string game_bytes(const GameRecord& game) {
  std::string out;
  put(out, static_cast<uint8_t>(game.rule), 1);
  put(out, static_cast<uint8_t>(game.width), 1);
  put(out, static_cast<uint8_t>(game.height), 1);
  put(out, static_cast<uint8_t>(game.winner), 1);
  put(out, static_cast<uint8_t>(game.end), 1);
  put(out, game.moves.size(), 2);
  for (const Move move : game.moves) put_move(out, move);
  put(out, game.vcf.size(), 2);
  for (const Move move : game.vcf) put_move(out, move);
  put(out, game.positions.size(), 2);
  for (const PositionRecord& position : game.positions) {
    put(out, static_cast<uint16_t>(position.ply), 2);
    put(out, static_cast<uint8_t>(position.side), 1);
    put_float(out, position.value);
    put_float(out, position.draw_rate);
    put(out, position.policy.size(), 2);
    for (const PositionRecord::Weight& weight : position.policy) {
      put_move(out, weight.move);
      put_float(out, weight.probability);
    }
  }
  return out;
}

// Inflates one chunk into `raw`; false when it does not inflate to at most kMaxGameBytes
// (a game of 400 moves, each position weighting 400 candidates, is under 1 MiB).
constexpr size_t kMaxGameBytes = size_t{16} << 20;

bool inflate_chunk(const std::string& packed, std::string& raw) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  raw.clear();
  int status = Z_OK;
  char block[1 << 14];
  while (status == Z_OK && raw.size() <= kMaxGameBytes) {
    stream.next_out = reinterpret_cast<Bytef*>(block);
    stream.avail_out = sizeof block;
    status = inflate(&stream, Z_NO_FLUSH);
    raw.append(block, sizeof block - stream.avail_out);
    if (status == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  inflateEnd(&stream);
  return status == Z_STREAM_END && stream.avail_in == 0 && raw.size() <= kMaxGameBytes;
}

// Little-endian fields of an inflated chunk; reading past its end throws.
class Fields {
 public:
  explicit Fields(std::string_view data) : data_(data) {}
  uint64_t take(int bytes) {
    if (data_.size() - at_ < static_cast<size_t>(bytes)) throw std::runtime_error("ends inside a field");
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= uint64_t{static_cast<uint8_t>(data_[at_ + i])} << (8 * i);
    at_ += bytes;
    return value;
  }
  float take_float() {
    const auto bits = static_cast<uint32_t>(take(4));
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  // Coordinates beyond int8_t wrap to negative ones, which no board holds either.
  Move take_move() {
    const auto x = static_cast<int8_t>(take(1));
    return Move{x, static_cast<int8_t>(take(1))};
  }
  std::vector<Move> take_moves() {
    std::vector<Move> moves(take(2));
    for (Move& move : moves) move = take_move();
    return moves;
  }
  bool done() const { return at_ == data_.size(); }

 private:
  std::string_view data_;
  size_t at_ = 0;
};

GameRecord parse_game(std::string_view data) {
  Fields fields(data);
  GameRecord game;
  const auto rule = fields.take(1);
  if (rule > static_cast<uint64_t>(Rule::StandardCaro)) throw std::runtime_error("has an unknown rule");
  game.rule = static_cast<Rule>(rule);
  game.width = static_cast<int32_t>(fields.take(1));
  game.height = static_cast<int32_t>(fields.take(1));
  game.winner = static_cast<int32_t>(fields.take(1));
  const auto end = fields.take(1);
  if (game.winner > 2 || end > static_cast<uint64_t>(GameEnd::kProven))
    throw std::runtime_error("has an unknown result");
  game.end = static_cast<GameEnd>(end);
  game.moves = fields.take_moves();
  game.vcf = fields.take_moves();
  game.positions.resize(fields.take(2));
  for (PositionRecord& position : game.positions) {
    position.ply = static_cast<int32_t>(fields.take(2));
    position.side = static_cast<int32_t>(fields.take(1));
    position.value = fields.take_float();
    position.draw_rate = fields.take_float();
    position.policy.resize(fields.take(2));
    for (PositionRecord::Weight& weight : position.policy) {
      weight.move = fields.take_move();
      weight.probability = fields.take_float();
    }
  }
  if (!fields.done()) throw std::runtime_error("has bytes after its last field");
  return game;
}

}  // namespace

RecordWriter::RecordWriter(const std::string& path) : path_(path), file_(path, std::ios::binary | std::ios::trunc) {
  if (!file_) throw std::runtime_error("cannot open " + path + " for writing");
}

void RecordWriter::write(const GameRecord& game) {
  const std::string raw = game_bytes(game);
  uLongf packed_size = compressBound(raw.size());
  std::string packed(packed_size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size, reinterpret_cast<const Bytef*>(raw.data()),
                raw.size(), Z_BEST_COMPRESSION) != Z_OK) {
    throw std::runtime_error("cannot compress a game record");
  }
  std::string chunk(kMagic, sizeof kMagic);
  put(chunk, kVersion, 1);
  put(chunk, packed_size, 4);
  chunk.append(packed.data(), packed_size);
  file_.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  file_.flush();
  if (!file_) throw std::runtime_error("cannot write to " + path_);
}

RecordReader::RecordReader(const std::string& path) : path_(path), file_(path, std::ios::binary) {
  if (!file_) throw std::runtime_error("cannot open " + path);
}

bool RecordReader::next(GameRecord& game) {
  const std::streamoff offset = file_.tellg();
  char head[9];
  file_.read(head, sizeof head);
  if (file_.gcount() == 0) return false;
  const auto fail = [&](const std::string& fault) {
    throw std::runtime_error(path_ + ": the chunk at byte " + std::to_string(offset) + " " + fault);
  };
  if (file_.gcount() < static_cast<std::streamsize>(sizeof head)) return false;
  if (std::memcmp(head, kMagic, sizeof kMagic) != 0) fail("is not a game record");
  if (static_cast<uint8_t>(head[4]) != RecordWriter::kVersion)
    fail("has version " + std::to_string(static_cast<uint8_t>(head[4])));
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length |= uint32_t{static_cast<uint8_t>(head[5 + i])} << (8 * i);
  if (length > compressBound(kMaxGameBytes)) fail("claims " + std::to_string(length) + " bytes");
  std::string packed(length, '\0');
  file_.read(packed.data(), length);
  if (file_.gcount() < static_cast<std::streamsize>(length)) return false;
  std::string raw;
  if (!inflate_chunk(packed, raw)) fail("does not inflate");
  try {
    game = parse_game(raw);
  } catch (const std::runtime_error& error) {
    fail(error.what());
  }
  return true;
}

}  // namespace tovan::training
