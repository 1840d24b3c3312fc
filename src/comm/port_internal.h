#pragma once
// Functions the parts of the port layer share. Private to the port layer.
#include <memory>
#include <mutex>

#include "comm/port_record.h"

namespace kv::detail {

std::shared_ptr<PortRecord> lookup(int port);
void refreshStatus(PortRecord &rec);
std::uint8_t currentLines(PortRecord &rec);
void updateShadow(PortRecord &rec);
void readInput(PortRecord &rec);
void inputConsumed(PortRecord &rec);
void markLost(PortRecord &rec);
// Stops the port's threads, closes the device and frees the slot. From the dispatch thread
// itself (a close asked for inside a handler) that thread is left to end on its own.
void finishClose(PortRecord &rec, bool fromDispatch);
// Starts the comm event, dispatch and output threads; false when one could not be started.
bool startPortThreads(const std::shared_ptr<PortRecord> &rp);
void closeDevice(PortRecord &rec);
// Empties the output ring, the output thread's piece in flight included.
void flushOutput(PortRecord &rec);
// Gives the port's slot back to the table.
void freeSlot(PortRecord &rec);

// Dispatch thread passes
void eventPass(PortRecord &rec, std::uint32_t events);
void idlePass(PortRecord &rec);

}  // namespace kv::detail

// Opens a port operation: finds the record of `port`, holds its lock for the rest of the
// function and answers `bad` for an unknown or already freed port.
#define KV_RECORD(port, bad)             \
  auto rp_ = ::kv::detail::lookup(port); \
  if (!rp_) return bad;                  \
  ::kv::detail::PortRecord &rec = *rp_;  \
  std::lock_guard lock_guard_(rec.lock); \
  if (rec.freed) return bad
