#include "protocol/board_list.h"

#include <string>

#include "app/output.h"
#include "board/win.h"

namespace tovan::protocol {

namespace {

const char* colour_name(int player) { return player == 0 ? "Black" : "White"; }

// Player index of each listed stone.
std::vector<int> colours_of(const std::vector<MoveWord>& words) {
  const size_t count = words.size();
  const int side_to_move = static_cast<int>(count % 2);
  std::vector<int> alternating(count);
  bool every_field_given = true;
  bool fields_agree = true;
  size_t own = 0;
  for (size_t i = 0; i < count; ++i) {
    alternating[i] = static_cast<int>(i % 2);
    const std::optional<int32_t> who = words[i].who;
    if (who != 1 && who != 2) {
      every_field_given = false;
      continue;
    }
    own += who == 1;
    fields_agree = fields_agree && (who == 1) == (alternating[i] == side_to_move);
  }
  if (!every_field_given || fields_agree) return alternating;

  // The engine's own stones are the side to move: Black when the counts are equal, White
  // when Black has one stone more.
  const size_t opponent = count - own;
  if (own != opponent && opponent != own + 1) {
    throw ProtocolError("the who fields give " + std::to_string(own) + " own and " + std::to_string(opponent) +
                        " opponent stones, which fit neither side to move");
  }
  const int own_colour = own == opponent ? 0 : 1;
  std::vector<int> colours(count);
  for (size_t i = 0; i < count; ++i) colours[i] = words[i].who == 1 ? own_colour : own_colour ^ 1;
  return colours;
}

bool has_winning_stone(const BoardConfig& config, const CellArray& cells, int8_t colour) {
  for (int y = 0; y < config.height; ++y) {
    for (int x = 0; x < config.width; ++x) {
      if (cells[cell_index(x, y)] == colour && is_winning_stone(config, cells, y, x)) return true;
    }
  }
  return false;
}

// Whether one stone of `colour` stands in every winning line of that colour, so that a
// single last move can have made them all.
bool one_stone_made_every_win(const BoardConfig& config, CellArray cells, int8_t colour) {
  for (int y = 0; y < config.height; ++y) {
    for (int x = 0; x < config.width; ++x) {
      const int index = cell_index(x, y);
      if (cells[index] != colour || !is_winning_stone(config, cells, y, x)) continue;
      cells[index] = EMPTY;
      const bool made_all = !has_winning_stone(config, cells, colour);
      cells[index] = colour;
      if (made_all) return true;
    }
  }
  return false;
}

}  // namespace

ListedPosition place_listed_stones(const BoardConfig& config, const std::vector<MoveWord>& words) {
  const std::vector<int> colours = colours_of(words);
  ListedPosition listed;
  CellArray cells{};
  int32_t black_stones = 0;
  for (size_t i = 0; i < words.size(); ++i) {
    const auto [x, y, who] = words[i];
    if (x < 0 || x >= config.width || y < 0 || y >= config.height) {
      throw ProtocolError("move " + app::move_reply(x, y) + " is off the " + std::to_string(config.width) + "x" +
                          std::to_string(config.height) + " board");
    }
    int8_t& cell = cells[cell_index(x, y)];
    if (cell != EMPTY) throw ProtocolError("move " + app::move_reply(x, y) + " is on an occupied cell");
    cell = static_cast<int8_t>(colours[i] + 1);
    black_stones += colours[i] == 0;
    listed.moves.push_back(Move{static_cast<int8_t>(x), static_cast<int8_t>(y)});
  }
  const int32_t side_to_move = 2 * black_stones == static_cast<int32_t>(words.size()) ? 0 : 1;

  const int last_mover = side_to_move ^ 1;
  const bool last_mover_won = has_winning_stone(config, cells, static_cast<int8_t>(last_mover + 1));
  if (has_winning_stone(config, cells, static_cast<int8_t>(side_to_move + 1))) {
    throw ProtocolError(std::string("the list goes on after ") + colour_name(side_to_move) + "'s five" +
                        (last_mover_won ? ": both sides have one" : ""));
  }
  if (last_mover_won && !one_stone_made_every_win(config, cells, static_cast<int8_t>(last_mover + 1))) {
    throw ProtocolError(std::string("the list goes on after ") + colour_name(last_mover) +
                        "'s five: no single stone made all of its winning lines");
  }
  listed.board = std::make_unique<Board>(config, static_cast<int32_t>(words.size()), cells, side_to_move);
  return listed;
}

}  // namespace tovan::protocol
