#include "sessions.h"

namespace qvsim {

Sessions::Sessions() : random_(std::random_device{}()) {}

uint32_t Sessions::Open() {
    if (open_.size() >= kMaxOpen) Close(order_.front());
    // Tokens are drawn at random so that a client cannot guess another
    // client's token from its own.
    for (;;) {
        const auto token = static_cast<uint32_t>(random_());
        if (token == 0 || open_.count(token) != 0) continue;
        open_.emplace(token, order_.insert(order_.end(), token));
        return token;
    }
}

bool Sessions::Close(uint32_t token) {
    const auto it = open_.find(token);
    if (it == open_.end()) return false;
    order_.erase(it->second);
    open_.erase(it);
    return true;
}

}  // namespace qvsim
