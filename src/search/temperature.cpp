#include "search/temperature.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numeric>
#include <random>

namespace tovan::search {

void apply_temperature(std::vector<float>& probabilities, float temperature) {
  const float t = std::max(temperature, 0.001f);
  std::vector<bool> positive(probabilities.size());
  float largest = -1e10f;
  for (size_t a = 0; a < probabilities.size(); ++a) {
    positive[a] = probabilities[a] > 0.0f;
    if (!positive[a]) continue;
    probabilities[a] = std::log(probabilities[a]) / t;
    largest = std::max(largest, probabilities[a]);
  }
  // Relative to the largest, so that a low temperature cannot overflow.
  double sum = 0.0;
  for (size_t a = 0; a < probabilities.size(); ++a) {
    if (!positive[a]) continue;
    probabilities[a] = std::exp(probabilities[a] - largest);
    sum += probabilities[a];
  }
  // The largest positive entry is now exactly 1. Nothing positive: there is nothing to
  // normalise (and no 0 / 0 to make).
  assert(sum >= 1.0 || largest == -1e10f);
  if (sum == 0.0) return;
  for (float& p : probabilities) {
    p = static_cast<float>(p / sum);
    assert(std::isfinite(p));
  }
}

std::vector<float> dirichlet_noise(float alpha, size_t n, std::mt19937_64& generator) {
  std::gamma_distribution<float> gamma(alpha, 1.0f);
  std::vector<float> noise(n);
  double sum = 0.0;
  for (float& value : noise) {
    value = gamma(generator);
    sum += value;
  }
  for (float& value : noise) value = static_cast<float>(value / sum);
  assert(std::fabs(std::accumulate(noise.begin(), noise.end(), 0.0) - 1.0) < 1e-5);
  return noise;
}

}  // namespace tovan::search
