// The fixture of the end-to-end tests: a daemon on the test inventory, a
// logged-in client, and short forms of the requests the tests make.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "daemon.h"

namespace simtest {

struct MirrorPair {
    std::u16string primary;
    uint32_t primary_number = 0;
    std::u16string mirror;
    uint32_t mirror_number = 0;
};

class SimTest : public ::testing::Test {
  protected:
    // Starts the daemon on the test inventory (unless the arguments name
    // another) and, unless told not to, logs in.
    void Start(std::vector<std::string> args = {}, bool login = true) {
        inventory_ = dir_.Write("inventory.json", TestInventory());
        bool has_inventory = false;
        for (const auto& a : args) has_inventory = has_inventory || a == "--inventory";
        if (!has_inventory) {
            args.push_back("--inventory");
            args.push_back(inventory_.string());
        }
        daemon_.emplace(args);
        if (login) Connect();
    }

    void Connect() {
        client_.emplace(daemon_->port());
        token_ = client_->Login();
        ASSERT_NE(token_, 0u);
    }

    // Stops the daemon, expecting a clean exit.
    void StopDaemon() {
        client_.reset();
        if (daemon_) {
            EXPECT_EQ(daemon_->Stop(), 0) << "quarvane-sim did not exit cleanly";
            daemon_.reset();
        }
    }

    void TearDown() override { StopDaemon(); }

    template <unsigned P>
    std::unique_ptr<Reply<P>> Call(typename qv::wire::Proc<P>::Arg& arg) {
        auto reply = std::make_unique<Reply<P>>();
        client_->Call<P>(arg, *reply);
        EXPECT_EQ(reply->rpc, RPC_SUCCESS) << qv::wire::Proc<P>::kName;
        return reply;
    }

    // The procedures that take only an object reference.
    template <unsigned P>
    std::unique_ptr<Reply<P>> OnObject(std::u16string_view name, uint32_t number) {
        RpcObjectRef ref = arena_.Ref(name, number, token_);
        return Call<P>(ref);
    }
    template <unsigned P>
    uint32_t Op(std::u16string_view name, uint32_t number) {
        return OnObject<P>(name, number)->res.status;
    }

    std::unique_ptr<Reply<GET_DISK_LIST>> DiskList(uint32_t code, std::u16string_view name = u"",
                                                   uint32_t number = 0, uint32_t options = 0) {
        RpcDiskListRequest req{};
        req.ListCode = code;
        if (!name.empty()) req.Object = arena_.Ref(name, number);
        req.Options = options;
        req.token = token_;
        return Call<GET_DISK_LIST>(req);
    }

    // An enable request whose settings the caller may adjust before sending.
    RpcMirrorConfig EnableRequest(const MirrorPair& pair) {
        RpcMirrorConfig c{};
        c.Primaries = {1, arena_.Refs(pair.primary, pair.primary_number)};
        c.Mirrors = {1, arena_.Refs(pair.mirror, pair.mirror_number)};
        schedules_.emplace_back();
        c.Schedules = {1, &schedules_.back()};
        c.token = token_;
        return c;
    }
    uint32_t Enable(const MirrorPair& pair) {
        RpcMirrorConfig c = EnableRequest(pair);
        return Call<ENABLE_MIRROR>(c)->res.status;
    }

    std::unique_ptr<Reply<GET_MIR_CONFIG_LIST>> ConfigList() {
        RpcConfigListQuery q{};
        q.Kind = 0;
        q.token = token_;
        return Call<GET_MIR_CONFIG_LIST>(q);
    }

    uint32_t State(std::u16string_view name, uint32_t number) {
        return OnObject<GET_MIRROR_STATS>(name, number)->res.State;
    }

    // Waits until the protection reaches the state (it progresses with the
    // daemon's clock).
    bool WaitForState(std::u16string_view name, uint32_t number, uint32_t state) {
        return Eventually([&] { return State(name, number) == state; });
    }

    // Changes only the copy limit of a protection, keeping the rest of its
    // configuration as the daemon lists it.
    uint32_t SetLimit(std::u16string_view name, uint32_t number, uint32_t limit) {
        auto current = OnObject<GET_MIRROR_CONFIG>(name, number);
        if (current->res.status != 0) return current->res.status;
        RpcMirrorConfig change = current->res;  // shares the reply's arrays; not freed twice
        change.status = 0;
        change.token = token_;
        change.Limit = limit;
        return Call<CHANGE_MIRROR_CONFIG>(change)->res.status;
    }

    TempDir dir_;
    std::filesystem::path inventory_;
    std::optional<Daemon> daemon_;
    std::optional<Client> client_;
    uint32_t token_ = 0;
    Arena arena_;
    std::deque<RpcSnapshotSchedule> schedules_;
};

// States and conditions as the daemon reports them.
inline constexpr uint32_t kMirrored = 1;
inline constexpr uint32_t kSynchronizing = 2;
inline constexpr uint32_t kSuspended = 3;
inline constexpr uint32_t kStopped = 4;
inline constexpr uint32_t kOutOfSync = 5;
inline constexpr uint32_t kRestoring = 9;
inline constexpr uint32_t kVerifying = 10;

inline constexpr uint64_t kMiB = 1024 * 1024;

}  // namespace simtest
