#include "evaluation/code_network_weights.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "evaluation/file_path.h"
#include "evaluation/inference_session.h"

namespace tovan::eval {
namespace {

constexpr char kMagic[] = {'T', 'V', 'C', 'N'};
// Version 1 has no policy context (read as zeros).
constexpr uint8_t kVersion = 2;
constexpr size_t kHeaderBytes = 16;

static_assert(std::endian::native == std::endian::little, "the weights are read as little-endian float32");

}  // namespace

CodeNetworkWeights read_code_network(const std::string& path) {
  std::ifstream file(path_from_utf8(path), std::ios::binary);
  if (!file) throw ModelError("cannot read code network " + path);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw ModelError("cannot read code network " + path);
  auto fail = [&](const std::string& what) { throw ModelError("code network " + path + ": " + what); };

  if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    fail("not a code network file");
  }
  const auto header = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  const uint8_t version = header(4);
  if (version < 1 || version > kVersion) {
    fail("version " + std::to_string(version) + " is not supported (only 1 to " + std::to_string(kVersion) + ")");
  }
  CodeNetworkWeights weights;
  weights.channels = header(5);
  if (header(6) != kCellWidth || header(7) != kPolicyHidden || header(8) != kValueHidden) {
    fail("widths " + std::to_string(header(6)) + ", " + std::to_string(header(7)) + ", " + std::to_string(header(8)) +
         " differ from this engine's " + std::to_string(kCellWidth) + ", " + std::to_string(kPolicyHidden) + ", " +
         std::to_string(kValueHidden));
  }

  const size_t channels = static_cast<size_t>(weights.channels);
  std::vector<std::pair<std::vector<float>*, size_t>> arrays = {
      {&weights.cell_bias, kCellWidth},
      {&weights.plane_columns, channels * kCellWidth},
      {&weights.own_code_columns, size_t{kCodeIndices} * kCellWidth},
      {&weights.opponent_code_columns, size_t{kCodeIndices} * kCellWidth},
      {&weights.policy_hidden, size_t{kPolicyHidden} * kCellWidth},
      {&weights.policy_hidden_bias, kPolicyHidden},
      {&weights.policy_out, kPolicyHidden},
      {&weights.policy_out_bias, 1},
      {&weights.value_hidden, size_t{kValueHidden} * 2 * kCellWidth},
      {&weights.value_hidden_bias, kValueHidden},
      {&weights.value_out, size_t{kOutcomes} * kValueHidden},
      {&weights.value_out_bias, kOutcomes}};
  if (version >= 2) arrays.push_back({&weights.policy_context, weights.policy_context.size()});
  size_t floats = 0;
  for (const auto& array : arrays) floats += array.second;
  if (bytes.size() != kHeaderBytes + floats * sizeof(float)) {
    fail(std::to_string(bytes.size()) + " bytes where " + std::to_string(channels) + " input planes make " +
         std::to_string(kHeaderBytes + floats * sizeof(float)));
  }
  size_t offset = kHeaderBytes;
  for (const auto& [array, count] : arrays) {
    array->resize(count);
    std::memcpy(array->data(), bytes.data() + offset, count * sizeof(float));
    offset += count * sizeof(float);
    for (const float value : *array) {
      if (!std::isfinite(value)) fail("a number is not finite");
    }
  }
  return weights;
}

}  // namespace tovan::eval
