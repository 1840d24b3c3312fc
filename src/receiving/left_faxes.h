#pragma once
// Faxes a receiver left behind when it was killed or lost its power: FAXnnnn.APF files in the
// receive folder that no row of the received-fax table names. Receive mode takes them in when
// it starts, so that no received page stays where no list shows it.
#include <string>
#include <vector>

#include "receiving/receive_mode.h"

namespace kv {

class TTable;

struct LeftFaxes {
  std::vector<ReceivedFax> adopted;  // files that now have a row
  std::vector<std::string> removed;  // files without a readable page, deleted
  std::vector<std::string> failed;   // sentences about files that could be neither
  bool empty() const { return adopted.empty() && removed.empty() && failed.empty(); }
  // What the user is told; empty when nothing was found.
  std::string report() const;
};

// True for FAXnnnn.APF (four digits), the names receive mode gives its files.
bool IsReceivedFaxName(const std::string &name);

// Gives each FAXnnnn.APF of `receiveDir` that no row of `table` names a row that says it is
// incomplete, with the pages that can be read from it; deletes those with none. A file another
// receiver holds locked (it is being written) is left alone.
LeftFaxes AdoptLeftFaxes(TTable &table, const std::string &receiveDir);

}  // namespace kv
