#include "text/words.h"

#include <cstring>

namespace cvqrn {

std::string SystemReason(int err) {
    return std::strerror(err);
}

}  // namespace cvqrn
