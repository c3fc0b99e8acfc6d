#include "serial/port_table_win32.h"

#include "serial/receive_thread_win32.h"

namespace kestrel::serial {

PortTable::~PortTable() {
    for (auto& slot : slots_) {
        if (slot) {
            StopReceiveThread(*slot);
            slot.reset();
        }
    }
}

PortRecord* PortTable::Add() {
    for (int tried = 0; tried < kSlots; ++tried) {
        const int slot = (next_ + tried) % kSlots;
        if (!slots_[slot]) {
            next_ = (slot + 1) % kSlots;
            slots_[slot] = std::make_unique<PortRecord>(slot);
            return slots_[slot].get();
        }
    }
    return nullptr;
}

PortRecord* PortTable::Find(PortHandle port) const {
    if (port < 0 || port >= kSlots) {
        return nullptr;
    }
    return slots_[port].get();
}

void PortTable::Remove(PortHandle port) {
    if (Find(port) != nullptr) {
        slots_[port].reset();
    }
}

int PortTable::Count() const {
    int count = 0;
    for (const auto& slot : slots_) {
        count += slot ? 1 : 0;
    }
    return count;
}

PortTable& OpenPorts() {
    static PortTable table;
    return table;
}

}  // namespace kestrel::serial
