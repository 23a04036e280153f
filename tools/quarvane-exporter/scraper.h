// Scrapes under a deadline: each runs on a thread of its own so that a
// service that stops answering (a call waits up to a minute) costs the
// caller no more than its timeout. The scrapes still running are bounded,
// in all and for each target, so that silent services cannot starve the
// others; past a bound a scrape answers at once that the service is down.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "collector.h"

namespace qvexp {

class Scraper {
  public:
    static constexpr std::size_t kPerTarget = 4;

    Scraper(Login login, std::size_t max_running) : login_(std::move(login)), max_(max_running) {}

    // The exposition for `target`, or quarvane_up 0 once `timeout` has passed.
    std::string Run(const Target& target, std::chrono::duration<double> timeout);

    // Scrapes still running, also those whose caller has stopped waiting.
    std::size_t running() const;

  private:
    struct Running {
        std::mutex mutex;
        std::size_t all = 0;
        std::map<std::string, std::size_t> by_target;
    };
    // Counts a scrape of `key` in, or says no when a bound is reached.
    bool Enter(const std::string& key);
    static void Leave(Running& running, const std::string& key);

    Login login_;
    std::size_t max_;
    // Shared with the scrapes, which may outlive their callers.
    std::shared_ptr<Running> running_ = std::make_shared<Running>();
};

// How long a scrape may take: what Prometheus says it waits
// (X-Prometheus-Scrape-Timeout-Seconds) less a margin for the answer to
// travel, never more than `limit`.
std::chrono::duration<double> ScrapeTimeout(const std::string& header,
                                            std::chrono::duration<double> limit);

}  // namespace qvexp
