#pragma once

#include <memory>

#include "serial/port_record_win32.h"

namespace kestrel::serial {

// The open ports, indexed by PortHandle. Used on the window thread only. A freed slot
// is handed out again only after every other slot has been used once since, so a
// stale handle is unlikely to name a newer port.
class PortTable {
  public:
    static constexpr int kSlots = 256;

    PortTable() = default;
    PortTable(const PortTable&) = delete;
    PortTable& operator=(const PortTable&) = delete;
    // Ports still open when the program ends are closed properly, threads first.
    ~PortTable();

    // A new, empty record and its handle; nullptr when every slot is taken.
    PortRecord* Add();
    // The open port the handle names, or nullptr.
    PortRecord* Find(PortHandle port) const;
    // Frees the record; the caller has stopped its thread.
    void Remove(PortHandle port);
    int Count() const;

  private:
    std::unique_ptr<PortRecord> slots_[kSlots];
    int next_ = 0;
};

// The module's one table of open ports.
PortTable& OpenPorts();

}  // namespace kestrel::serial
