// A free list of fixed-size byte buffers for one thread: buffers that are
// taken and given back at a high rate come from here rather than from the
// general allocator. At most `Kept` free buffers are held; the rest are freed.
#pragma once

#include <cstddef>
#include <vector>

namespace win {

template <std::size_t Size, std::size_t Kept>
class FreeList {
 public:
  char* Take() {
    if (free_.empty()) return new char[Size];
    char* buffer = free_.back();
    free_.pop_back();
    return buffer;
  }
  void Give(char* buffer) {
    if (free_.size() < Kept)
      free_.push_back(buffer);
    else
      delete[] buffer;
  }

 private:
  std::vector<char*> free_;
};

}  // namespace win
