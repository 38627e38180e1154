// The search constants, built once by the protocol loop from the configuration and the
// fixed values below; a search keeps one copy, which every node of its tree reads.
#pragma once

namespace tovan::search {

struct NodeConfig {
  float c_puct = 0.0f;                  // exploration constant of the selection formula
  float balanced_c_factor = 2.0f;       // multiplies c_puct in balanced mode
  float virtual_loss_index = 0.0f;      // exponent of the exploration-count increment
  float noise_weight = 0.25f;           // weight of Dirichlet noise at the root
  float forced_playout_k = 2.0f;        // factor of forced playouts
  float fpu_reduction_min = 0.0f;       // first-play urgency, smaller reduction
  float fpu_reduction_max = 0.0f;       // first-play urgency, larger reduction
  float root_fpu_reduction_min = 0.0f;  // replaces fpu_reduction_min when root exploration is on
  float root_fpu_reduction_max = 0.0f;  // replaces fpu_reduction_max when root exploration is on
};

// The search constants with the four configurable ones given and the rest fixed.
constexpr NodeConfig make_node_config(float c_puct, float virtual_loss_index, float fpu_reduction_min,
                                      float fpu_reduction_max) {
  NodeConfig constants;
  constants.c_puct = c_puct;
  constants.virtual_loss_index = virtual_loss_index;
  constants.fpu_reduction_min = fpu_reduction_min;
  constants.fpu_reduction_max = fpu_reduction_max;
  return constants;
}

}  // namespace tovan::search
