#pragma once
// Work that a hostile input can make endless or huge (drawing a PDF page), done in a child
// process under a budget of processor time and memory, so that the program itself stays
// responsive and is told plainly when the budget ran out. Results come back through memory
// mapped before the child starts.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace kv {

struct WorkLimit {
  std::chrono::seconds cpu{20};                    // processor time
  std::size_t memoryBytes = std::size_t{2} << 30;  // address space the work may add
};

enum class WorkOutcome {
  Done,        // the work ended by itself; its code says how it went
  OverTime,    // stopped after its processor time (or, stuck, three times that on the clock)
  OverMemory,  // it could not get the memory it asked for within the limit
  Failed,      // it crashed, or no child could be started
};

struct WorkResult {
  WorkOutcome outcome = WorkOutcome::Failed;
  int code = 0;  // the work's answer (0..100) when Done
};

// Memory shared by the parent and the children it starts afterwards (zero-filled).
class SharedBuffer {
 public:
  explicit SharedBuffer(std::size_t bytes);
  ~SharedBuffer();
  SharedBuffer(const SharedBuffer &) = delete;
  SharedBuffer &operator=(const SharedBuffer &) = delete;
  bool valid() const { return data_ != nullptr; }
  std::uint8_t *data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::uint8_t *data_ = nullptr;
  std::size_t size_ = 0;
};

// Runs `work` in a child process under `limit` and waits for it. The child ends with the code
// `work` answers (0..100); a std::bad_alloc in it counts as OverMemory. The child takes the
// default action for every terminating signal (the parent's clean-up handlers stay with the
// parent) and dies with the parent.
WorkResult RunBounded(const WorkLimit &limit, const std::function<int()> &work);

}  // namespace kv
