#include "app/selfplay_records.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>

namespace {

constexpr char kMagic[4] = {'T', 'V', 'S', 'P'};

// Little-endian fields, whatever the host's byte order.
void put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void put_float(std::string& out, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  put(out, bits, 4);
}

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
