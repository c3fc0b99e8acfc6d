#include "app/receive_buffer.h"

namespace kestrel::app {

void ReceiveBuffer::Append(std::string_view bytes) {
    // Forget the bytes already taken once they outweigh the ones still waiting, so
    // memory follows the backlog and each byte is moved a bounded number of times.
    if (front_ > 0 && front_ >= bytes_.size() - front_) {
        bytes_.erase(0, front_);
        front_ = 0;
    }
    bytes_.append(bytes);
}

std::size_t ReceiveBuffer::DropUntil(char byte) {
    const std::size_t found = bytes_.find(byte, front_);
    const std::size_t until = found == std::string::npos ? bytes_.size() : found;
    const std::size_t dropped = until - front_;
    front_ = until;
    return dropped;
}

std::optional<char> ReceiveBuffer::TakeFront() {
    if (empty()) {
        return std::nullopt;
    }
    return bytes_[front_++];
}

}  // namespace kestrel::app
