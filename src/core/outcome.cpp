#include "core/outcome.h"

namespace quillon {

Kind linkKind(int linkResult) {
    switch (linkResult) {
        case -4:
            return Kind::Timeout;
        case -2:
        case -3:
            return Kind::Refused;
        default:
            return Kind::Disconnected;
    }
}

}  // namespace quillon
