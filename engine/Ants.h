#pragma once
// The outline object of a selection slot. It is told after every change of its slot's mask
// and draws no outline.
#include <cstdint>
#include <memory>

#include "engine/Block.h"

class TAnts {
 public:
  TAnts() = default;
  TAnts(const TAnts&) = delete;
  TAnts& operator=(const TAnts&) = delete;

  void Update(const TBlockChannel& mask);

  int32_t Count() const { return count_; }

 private:
  int32_t count_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
};
