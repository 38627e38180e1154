// Operations on probability vectors shared by the search and the move decision.
#pragma once

#include <cstddef>
#include <random>
#include <vector>

namespace tovan::search {

// Raises the positive entries to the power 1 / T (T at least 0.001) and divides every
// entry by their new sum; entries that are not positive stay as they were before the
// division, and a vector without a positive entry is left as it is. T = 1 only normalises.
void apply_temperature(std::vector<float>& probabilities, float temperature);

// n draws of Gamma(alpha, 1) from `generator`, normalised to sum 1.
std::vector<float> dirichlet_noise(float alpha, size_t n, std::mt19937_64& generator);

}  // namespace tovan::search
