#pragma once
// Functions the parts of the port layer share. Private to the port layer.
#include <memory>

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

// Dispatch thread passes
void eventPass(PortRecord &rec, std::uint32_t events);
void idlePass(PortRecord &rec);

}  // namespace kv::detail
