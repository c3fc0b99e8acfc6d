#include "app/module_state.h"

namespace kestrel::app {

TapeImage& TheTapeImage() {
    static TapeImage image;
    return image;
}

ReceiveBuffer& TheReceiveBuffer() {
    static ReceiveBuffer buffer;
    return buffer;
}

}  // namespace kestrel::app
