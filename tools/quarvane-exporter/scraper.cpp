#include "scraper.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace qvexp {
namespace {

struct Slot {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<std::string> text;
};

constexpr std::chrono::duration<double> kMargin{0.25};
constexpr std::chrono::duration<double> kShortest{0.1};

}  // namespace

std::chrono::duration<double> ScrapeTimeout(const std::string& header,
                                            std::chrono::duration<double> limit) {
    double seconds = 0;
    const auto [end, ec] = std::from_chars(header.data(), header.data() + header.size(), seconds);
    if (header.empty() || ec != std::errc() || end != header.data() + header.size() ||
        !(seconds > 0)) {
        return limit;
    }
    const std::chrono::duration<double> asked{seconds};
    return std::clamp(asked - std::min(kMargin, asked / 10), kShortest, limit);
}

std::size_t Scraper::running() const {
    const std::lock_guard lock(running_->mutex);
    return running_->all;
}

bool Scraper::Enter(const std::string& key) {
    const std::lock_guard lock(running_->mutex);
    const auto [mine, added] = running_->by_target.try_emplace(key, 0);
    if (running_->all >= max_ || mine->second >= kPerTarget) {
        if (added) running_->by_target.erase(mine);
        return false;
    }
    ++running_->all;
    ++mine->second;
    return true;
}

void Scraper::Leave(Running& running, const std::string& key) {
    const std::lock_guard lock(running.mutex);
    --running.all;
    if (--running.by_target[key] == 0) running.by_target.erase(key);
}

std::string Scraper::Run(const Target& target, std::chrono::duration<double> timeout) {
    const auto start = std::chrono::steady_clock::now();
    const auto down = [start] {
        Exposition out;
        WriteDown(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                  out);
        return out.Take();
    };
    const std::string key = target.host + ":" + std::to_string(target.port);
    if (!Enter(key)) {
        Log(target, "too many scrapes still waiting for an answer");
        return down();
    }
    auto slot = std::make_shared<Slot>();
    try {
        std::thread([slot, target, key, login = login_, running = running_] {
            std::string text = Scrape(target, login);
            {
                const std::lock_guard lock(slot->mutex);
                slot->text = std::move(text);
            }
            slot->done.notify_one();
            Leave(*running, key);
        }).detach();
    } catch (const std::system_error&) {
        Leave(*running_, key);
        return down();
    }
    std::unique_lock lock(slot->mutex);
    const auto deadline =
        start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout);
    if (!slot->done.wait_until(lock, deadline, [&] { return slot->text.has_value(); })) {
        Log(target, "no answer within the scrape's timeout");
        return down();
    }
    return std::move(*slot->text);
}

}  // namespace qvexp
