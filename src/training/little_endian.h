// Little-endian fields of the record and sample files, whatever the host's byte order.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace tovan::training {

inline void put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline void put_float(std::string& out, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  put(out, bits, 4);
}

}  // namespace tovan::training
