// Login sessions: the tokens the daemon has issued and not yet seen logged
// out. Tokens live in memory only; after a restart every client logs in
// again, as with the real service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <random>
#include <string>
#include <unordered_map>

namespace qvsim {

struct Credentials {
    std::u16string user = u"admin";
    std::u16string password = u"secret";
};

class Sessions {
  public:
    // Clients that never log out would otherwise grow the table without
    // end; past this many open sessions the oldest one is closed.
    static constexpr std::size_t kMaxOpen = 4096;

    Sessions();

    // A fresh token, never 0 and never one that is still open.
    uint32_t Open();
    bool Valid(uint32_t token) const noexcept { return open_.count(token) != 0; }
    bool Close(uint32_t token);
    std::size_t Count() const noexcept { return open_.size(); }

  private:
    std::mt19937 random_;
    std::list<uint32_t> order_;  // oldest first
    std::unordered_map<uint32_t, std::list<uint32_t>::iterator> open_;
};

}  // namespace qvsim
