// Protections: enabling and its refusals, the configuration round trip, the
// state machine, synchronisation, verify and restore over time, statistics
// and the data trace configuration.
#include "fixture.h"

namespace simtest {
namespace {

class SimMirror : public SimTest {
  protected:
    // Fast enough that a synchronisation of the test partitions ends at
    // once; a protection's own limit slows it down where a test needs an
    // operation that stays running.
    void SetUp() override { Start({"--rate", "1000000", "--io-rate", "4"}); }

    std::unique_ptr<Reply<GET_VERIFY_PROGRESS>> VerifyProgress() {
        return OnObject<GET_VERIFY_PROGRESS>(u"Disk1", 1);
    }
    std::unique_ptr<Reply<GET_RESTORE_PRIMARY_PROGRESS>> RestoreProgress() {
        return OnObject<GET_RESTORE_PRIMARY_PROGRESS>(u"Disk1", 1);
    }
    uint32_t Verify() {
        RpcVerifyRequest req{};
        req.Objects = {1, arena_.Refs(u"Disk1", 1)};
        req.Mode = 2;
        req.Option1 = 1;
        req.token = token_;
        return Call<VERIFY_DATA>(req)->res.status;
    }
    uint32_t Restore(std::u16string_view from, uint32_t number) {
        RpcRestoreRequest req{};
        req.Mode = 1;
        req.Primaries = {1, arena_.Refs(u"Disk1", 1)};
        req.Counterparts = {1, arena_.Refs(from, number)};
        req.token = token_;
        return Call<RESTORE_PRIMARY>(req)->res.status;
    }
    // Disk1:1 (1000 MiB) on Disk3:2, synchronised.
    void Protect() {
        ASSERT_EQ(Enable({u"Disk1", 1, u"Disk3", 2}), 0u);
        ASSERT_TRUE(WaitForState(u"Disk1", 1, kMirrored));
    }
};

TEST_F(SimMirror, EnableRefusesWhatTheServiceRefuses) {
    struct Case {
        MirrorPair pair;
        uint32_t status;
    };
    const Case refusals[] = {
        {{u"Nope", 0, u"Disk2", 0}, kDiskNotFound},
        {{u"Disk1", 9, u"Disk2", 0}, kPartitionNotFound},
        {{u"Disk1", 1, u"Nope", 0}, kDiskNotFound},
        {{u"Disk1", 1, u"Disk3", 7}, kPartitionNotFound},
        {{u"Disk1", 1, u"Disk0", 2}, kSystemDiskAsMirror},
        {{u"Disk1", 2, u"Disk3", 1}, kMirrorTooSmall},
        {{u"Disk1", 0, u"Disk2", 0}, 0},  // equal sizes are fine: enabled here, refused below
        {{u"Disk3", 1, u"Disk3", 0}, kInvalidParameter},
        {{u"Disk3", 1, u"Disk3", 1}, kInvalidParameter},
        {{u"Disk4", 2, u"Disk3", 2}, kDiskNotSupported},  // dynamic
        {{u"Disk5", 1, u"Disk3", 2}, kDiskNotSupported},  // removable
        {{u"Disk6", 0, u"Disk2", 0}, kDiskOffline},
        {{u"Disk3", 2, u"Disk6", 0}, kDiskOffline},
        {{u"Disk0", 1, u"Disk3", 0}, kMirrorHasPartitions},
        // Disk1 is protected whole now.
        {{u"Disk1", 0, u"Disk2", 0}, kProtectionExists},
        {{u"Disk1", 1, u"Disk3", 2}, kProtectionExists},
        {{u"Disk3", 2, u"Disk1", 2}, kProtectionExists},  // mirror inside a protected disk
        {{u"Disk2", 0, u"Disk0", 0}, kProtectionExists},  // primary is a mirror
    };
    for (const auto& c : refusals) {
        SCOPED_TRACE(testing::Message() << std::string(c.pair.primary.begin(), c.pair.primary.end())
                                        << ":" << c.pair.primary_number << " -> "
                                        << std::string(c.pair.mirror.begin(), c.pair.mirror.end())
                                        << ":" << c.pair.mirror_number);
        EXPECT_EQ(Enable(c.pair), c.status);
    }
    RpcMirrorConfig empty{};
    empty.token = token_;
    EXPECT_EQ(Call<ENABLE_MIRROR>(empty)->res.status, kInvalidParameter);
    EXPECT_EQ(ConfigList()->res.Count, 1u);
}

TEST_F(SimMirror, ConfigurationRoundTripsThroughEnableChangeAndList) {
    RpcMirrorConfig c = EnableRequest({u"disk1", 1, u"DISK3", 2});
    c.Text1 = arena_.Text(u"first");
    c.Text2 = arena_.NoText();
    c.Text3 = arena_.Text(u"");
    c.Text4 = arena_.Text(u"four");
    c.Schedules.Schedules_val[0].Mode = 3;
    c.Schedules.Schedules_val[0].Param1 = 7;
    c.Schedules.Schedules_val[0].Param6 = 66;
    c.ScheduleMode = 3;
    c.MirrorKind = 2;
    c.Setting1 = -5;
    c.Setting7 = 70;
    c.Setting12 = 120;
    c.Switch1 = 1;
    c.EnableOption1 = 1;
    ASSERT_EQ(Call<ENABLE_MIRROR>(c)->res.status, 0u);

    auto listed = ConfigList();
    ASSERT_EQ(listed->res.status, 0u);
    ASSERT_EQ(listed->res.Count, 1u);
    ASSERT_EQ(listed->res.Configs.Configs_len, 1u);
    const RpcMirrorConfig& got = listed->res.Configs.Configs_val[0];
    ASSERT_EQ(got.Primaries.Primaries_len, 1u);
    ASSERT_EQ(got.Mirrors.Mirrors_len, 1u);
    ASSERT_EQ(got.Schedules.Schedules_len, 1u);
    // Names as the inventory spells them.
    EXPECT_EQ(Text(got.Primaries.Primaries_val[0].name), u"Disk1");
    EXPECT_EQ(got.Primaries.Primaries_val[0].number, 1u);
    EXPECT_EQ(Text(got.Mirrors.Mirrors_val[0].name), u"Disk3");
    EXPECT_EQ(got.Mirrors.Mirrors_val[0].number, 2u);
    EXPECT_EQ(Text(got.Text1), u"first");
    EXPECT_EQ(got.Text2.RpcWString_len, 0u);  // absent stays absent
    EXPECT_EQ(got.Text3.RpcWString_len, 1u);  // empty stays empty
    EXPECT_EQ(Text(got.Text4), u"four");
    EXPECT_EQ(got.Schedules.Schedules_val[0].Mode, 3u);
    EXPECT_EQ(got.Schedules.Schedules_val[0].Param1, 7u);
    EXPECT_EQ(got.Schedules.Schedules_val[0].Param6, 66u);
    EXPECT_EQ(got.ScheduleMode, 3u);
    EXPECT_EQ(got.MirrorKind, 2u);
    EXPECT_EQ(got.Setting1, -5);
    EXPECT_EQ(got.Setting7, 70u);
    EXPECT_EQ(got.Setting12, 120u);
    EXPECT_EQ(got.Switch1, 1u);

    // A change replaces the settings but keeps the fourth text, which only
    // enable carries.
    RpcMirrorConfig change = EnableRequest({u"Disk1", 1, u"", 0});
    change.Text1 = arena_.NoText();
    change.Text4 = arena_.NoText();
    change.Setting7 = 71;
    change.Limit = 9;
    EXPECT_EQ(Call<CHANGE_MIRROR_CONFIG>(change)->res.status, 0u);
    auto single = OnObject<GET_MIRROR_CONFIG>(u"Disk1", 1);
    ASSERT_EQ(single->res.status, 0u);
    EXPECT_EQ(single->res.Text1.RpcWString_len, 0u);
    EXPECT_EQ(Text(single->res.Text4), u"four");
    EXPECT_EQ(single->res.Setting7, 71u);
    EXPECT_EQ(single->res.Limit, 9u);

    // Changing the mirror is not a change of configuration; an unknown
    // protection is not found.
    RpcMirrorConfig other = EnableRequest({u"Disk1", 1, u"Disk2", 0});
    EXPECT_EQ(Call<CHANGE_MIRROR_CONFIG>(other)->res.status, kInvalidParameter);
    RpcMirrorConfig unknown = EnableRequest({u"Disk1", 2, u"Disk2", 0});
    EXPECT_EQ(Call<CHANGE_MIRROR_CONFIG>(unknown)->res.status, kProtectionNotFound);
    EXPECT_EQ(OnObject<GET_MIRROR_CONFIG>(u"Disk1", 2)->res.status, kProtectionNotFound);

    // The list by object: the partition, its disk, nothing elsewhere.
    struct Case {
        uint32_t kind;
        std::u16string name;
        uint32_t number;
        uint32_t status;
        uint32_t count;
    };
    const Case queries[] = {
        {1, u"Disk1", 1, 0, 1},
        {1, u"Disk1", 0, 0, 1},
        {1, u"Disk1", 2, 0, 0},
        {1, u"Disk2", 0, 0, 0},
        {1, u"Nope", 0, kDiskNotFound, 0},
        {1, u"", 0, kDiskNotFound, 0},
        {2, u"", 0, kInvalidParameter, 0},
        {255, u"", 0, kInvalidParameter, 0},
    };
    for (const auto& q : queries) {
        SCOPED_TRACE(testing::Message() << "kind " << q.kind << " number " << q.number);
        RpcConfigListQuery query{};
        query.Kind = q.kind;
        query.token = token_;
        query.Objects = {1, arena_.Refs(q.name, q.number)};
        auto reply = Call<GET_MIR_CONFIG_LIST>(query);
        EXPECT_EQ(reply->res.status, q.status);
        EXPECT_EQ(reply->res.Count, q.count);
        EXPECT_EQ(reply->res.Configs.Configs_len, q.count);
    }
    RpcConfigListQuery no_object{};
    no_object.Kind = 1;
    no_object.token = token_;
    EXPECT_EQ(Call<GET_MIR_CONFIG_LIST>(no_object)->res.status, kInvalidParameter);
}

TEST_F(SimMirror, LifecycleFromEnableToDisable) {
    ASSERT_EQ(Enable({u"Disk1", 1, u"Disk3", 2}), 0u);
    EXPECT_EQ(ConfigList()->res.Count, 1u);

    // The initial synchronisation runs to its end; the share in sync only
    // grows on the way.
    uint32_t last_percent = 0;
    ASSERT_TRUE(Eventually([&] {
        auto stats = OnObject<GET_MIRROR_STATS>(u"Disk1", 1);
        EXPECT_EQ(stats->res.status, 0u);
        EXPECT_TRUE(stats->res.State == kSynchronizing || stats->res.State == kMirrored);
        EXPECT_GE(stats->res.Value1, last_percent);
        last_percent = stats->res.Value1;
        return stats->res.State == kMirrored;
    }));
    auto synced = OnObject<GET_MIRROR_STATS>(u"Disk1", 1);
    EXPECT_EQ(synced->res.Value1, 100u);
    EXPECT_EQ(synced->res.Amount2, 0);
    EXPECT_EQ(synced->res.Value4, 1u);  // one synchronisation completed
    EXPECT_EQ(synced->res.Condition, 1u);

    // Verify at 1 MiB/s stays running for the rest of the test.
    ASSERT_EQ(SetLimit(u"Disk1", 1, 1), 0u);
    EXPECT_EQ(VerifyProgress()->res.status, kNoTaskRunning);
    EXPECT_EQ(Verify(), 0u);
    EXPECT_EQ(State(u"Disk1", 1), kVerifying);
    EXPECT_EQ(Verify(), kAlreadyInProgress);
    EXPECT_EQ(Op<SYNC_MIRROR>(u"Disk1", 1), kOtherOperationRunning);
    EXPECT_EQ(Op<SUSPEND_MIRROR>(u"Disk1", 1), kOtherOperationRunning);
    EXPECT_EQ(Op<DISABLE_MIRROR>(u"Disk1", 1), kOtherOperationRunning);
    EXPECT_EQ(Op<CANCEL_SYNC_MIRROR>(u"Disk1", 1), kNoTaskRunning);
    ASSERT_TRUE(Eventually([&] { return VerifyProgress()->res.Amount1 > 0; }));
    auto verifying = VerifyProgress();
    EXPECT_EQ(verifying->res.status, 0u);
    EXPECT_EQ(verifying->res.State, 1u);
    EXPECT_EQ(verifying->res.Amount2, static_cast<int64_t>(1000 * kMiB));
    EXPECT_LT(verifying->res.Amount1, verifying->res.Amount2);
    EXPECT_EQ(verifying->res.Value4, 2u);    // the mode asked for
    EXPECT_EQ(verifying->res.Value6, kMiB);  // bytes per second
    auto stats = OnObject<GET_MIRROR_STATS>(u"Disk1", 1);
    EXPECT_EQ(stats->res.State, kVerifying);
    EXPECT_EQ(stats->res.VerifyProgress.VerifyProgress_len, 1u);

    EXPECT_EQ(Op<CANCEL_VERIDY_DATA>(u"Disk1", 1), 0u);
    EXPECT_EQ(VerifyProgress()->res.State, 3u);
    EXPECT_EQ(State(u"Disk1", 1), kMirrored);
    EXPECT_EQ(Op<CANCEL_VERIDY_DATA>(u"Disk1", 1), kNoTaskRunning);

    // Suspended: nothing but resume, stop and disable.
    EXPECT_EQ(Op<SUSPEND_MIRROR>(u"Disk1", 1), 0u);
    EXPECT_EQ(State(u"Disk1", 1), kSuspended);
    EXPECT_EQ(Op<SUSPEND_MIRROR>(u"Disk1", 1), kWrongState);
    EXPECT_EQ(Op<SYNC_MIRROR>(u"Disk1", 1), kWrongState);
    EXPECT_EQ(Verify(), kWrongState);
    EXPECT_EQ(Op<CANCEL_SYNC_MIRROR>(u"Disk1", 1), kNoTaskRunning);
    EXPECT_EQ(Op<RESUME_MIRROR>(u"Disk1", 1), 0u);
    EXPECT_EQ(Op<RESUME_MIRROR>(u"Disk1", 1), kWrongState);

    // Stopped: a full synchronisation on resume, which stays running at the
    // protection's limit and can be cancelled and started again.
    EXPECT_EQ(Op<STOP_MIRROR>(u"Disk1", 1), 0u);
    EXPECT_EQ(State(u"Disk1", 1), kStopped);
    EXPECT_EQ(Op<STOP_MIRROR>(u"Disk1", 1), kAlreadyStopped);
    EXPECT_EQ(Op<SYNC_MIRROR>(u"Disk1", 1), kProtectionStopped);
    EXPECT_EQ(Op<SUSPEND_MIRROR>(u"Disk1", 1), kProtectionStopped);
    EXPECT_EQ(Verify(), kProtectionStopped);
    EXPECT_EQ(Op<RESUME_MIRROR>(u"Disk1", 1), 0u);
    EXPECT_EQ(State(u"Disk1", 1), kSynchronizing);
    EXPECT_EQ(Op<SYNC_MIRROR>(u"Disk1", 1), kAlreadyInProgress);
    EXPECT_EQ(Op<CANCEL_SYNC_MIRROR>(u"Disk1", 1), 0u);
    EXPECT_EQ(State(u"Disk1", 1), kOutOfSync);
    EXPECT_EQ(Op<CANCEL_SYNC_MIRROR>(u"Disk1", 1), kNoTaskRunning);
    EXPECT_EQ(Verify(), kWrongState);
    EXPECT_EQ(Op<SYNC_MIRROR>(u"Disk1", 1), 0u);
    EXPECT_EQ(State(u"Disk1", 1), kSynchronizing);

    EXPECT_EQ(Op<DISABLE_MIRROR>(u"Disk1", 1), 0u);
    EXPECT_EQ(ConfigList()->res.Count, 0u);
    EXPECT_EQ(OnObject<GET_MIRROR_STATS>(u"Disk1", 1)->res.status, kProtectionNotFound);
    for (uint32_t status : {Op<DISABLE_MIRROR>(u"Disk1", 1), Op<SUSPEND_MIRROR>(u"Disk1", 1),
                            Op<RESUME_MIRROR>(u"Disk1", 1), Op<STOP_MIRROR>(u"Disk1", 1),
                            Op<SYNC_MIRROR>(u"Disk1", 1), Op<CANCEL_SYNC_MIRROR>(u"Disk1", 1)}) {
        EXPECT_EQ(status, kProtectionNotFound);
    }
    // Its objects are free again.
    EXPECT_EQ(Enable({u"Disk3", 2, u"Disk1", 2}), 0u);
}

TEST_F(SimMirror, RestoreProgressesCancelsAndCompletes) {
    Protect();
    EXPECT_EQ(RestoreProgress()->res.status, kNoTaskRunning);
    ASSERT_EQ(SetLimit(u"Disk1", 1, 1), 0u);

    EXPECT_EQ(Restore(u"Disk2", 0), kInvalidParameter);  // not its mirror
    EXPECT_EQ(Restore(u"Disk3", 2), 0u);
    EXPECT_EQ(Restore(u"", 0), kAlreadyInProgress);
    EXPECT_EQ(Verify(), kOtherOperationRunning);
    auto stats = OnObject<GET_MIRROR_STATS>(u"Disk1", 1);
    EXPECT_EQ(stats->res.State, kRestoring);
    EXPECT_EQ(stats->res.RestoreProgress.RestoreProgress_len, 1u);
    EXPECT_EQ(stats->res.VerifyProgress.VerifyProgress_len, 0u);
    ASSERT_TRUE(Eventually([&] { return RestoreProgress()->res.TotalDone > 0; }));
    auto running = RestoreProgress();
    EXPECT_EQ(running->res.State, 1u);
    EXPECT_EQ(running->res.TotalDone + running->res.DirtyData, 1000u);

    EXPECT_EQ(Op<CANCEL_RESTORE_PRIMARY>(u"Disk1", 1), 0u);
    auto cancelled = RestoreProgress();
    EXPECT_EQ(cancelled->res.State, 3u);
    EXPECT_EQ(cancelled->res.Result, kCancelled);
    EXPECT_EQ(State(u"Disk1", 1), kSuspended);
    EXPECT_EQ(Op<CANCEL_RESTORE_PRIMARY>(u"Disk1", 1), kNoTaskRunning);

    // Without the limit the next restore runs to its end.
    ASSERT_EQ(SetLimit(u"Disk1", 1, 0), 0u);
    EXPECT_EQ(Restore(u"Disk3", 2), 0u);
    ASSERT_TRUE(Eventually([&] { return RestoreProgress()->res.State == 2; }));
    auto done = RestoreProgress();
    EXPECT_EQ(done->res.Result, 0u);
    EXPECT_EQ(done->res.TotalDone, 1000u);
    EXPECT_EQ(done->res.DirtyData, 0u);
    EXPECT_EQ(State(u"Disk1", 1), kMirrored);
}

TEST_F(SimMirror, StatisticsCountersMoveWithTime) {
    Protect();
    auto first = OnObject<GET_MIRROR_STATS>(u"Disk1", 1);
    ASSERT_EQ(first->res.status, 0u);
    EXPECT_EQ(first->res.Amount1, static_cast<int64_t>(1000 * kMiB));
    ASSERT_EQ(first->res.Io1.Io1_len, 1u);
    ASSERT_EQ(first->res.Io2.Io2_len, 1u);
    ASSERT_EQ(first->res.Io3.Io3_len, 1u);
    ASSERT_EQ(first->res.Io4.Io4_len, 1u);
    EXPECT_GE(first->res.Divisor1, 1u);
    EXPECT_GE(first->res.Divisor2, 1u);
    // The initial copy read the whole primary and wrote the whole mirror.
    EXPECT_NEAR(static_cast<double>(first->res.Io3.Io3_val[0].Bytes1), 1000.0 * kMiB, 4096);
    EXPECT_NEAR(static_cast<double>(first->res.Io4.Io4_val[0].Bytes2), 1000.0 * kMiB, 4096);

    const int64_t written = first->res.Io1.Io1_val[0].Bytes2;
    const int64_t mirrored = first->res.Io2.Io2_val[0].Bytes2;
    ASSERT_TRUE(Eventually([&] {
        auto now = OnObject<GET_MIRROR_STATS>(u"Disk1", 1);
        return now->res.Io1.Io1_val[0].Bytes2 > written &&
               now->res.Io2.Io2_val[0].Bytes2 > mirrored &&
               now->res.Io1.Io1_val[0].Count2 > first->res.Io1.Io1_val[0].Count2;
    }));

    // Suspended, the writes pile up as data the mirror lacks.
    ASSERT_EQ(Op<SUSPEND_MIRROR>(u"Disk1", 1), 0u);
    ASSERT_TRUE(
        Eventually([&] { return OnObject<GET_MIRROR_STATS>(u"Disk1", 1)->res.Amount2 > 0; }));
    auto suspended = OnObject<GET_MIRROR_STATS>(u"Disk1", 1);
    EXPECT_EQ(suspended->res.Condition, 5u);
    EXPECT_GT(suspended->res.Value3, 0u);  // MiB the mirror lacks
}

TEST_F(SimMirror, DataTraceConfigurationIsKeptPerProtection) {
    EXPECT_EQ(OnObject<GET_DATA_TRACE_CONFIG>(u"Nope", 0)->res.status, kDiskNotFound);
    EXPECT_EQ(OnObject<GET_DATA_TRACE_CONFIG>(u"Disk1", 9)->res.status, kPartitionNotFound);
    EXPECT_EQ(OnObject<GET_DATA_TRACE_CONFIG>(u"Disk1", 1)->res.status, kProtectionNotFound);
    Protect();

    auto defaults = OnObject<GET_DATA_TRACE_CONFIG>(u"Disk1", 1);
    EXPECT_EQ(defaults->res.status, 0u);
    EXPECT_EQ(defaults->res.Option, 0);
    EXPECT_EQ(defaults->res.Text.RpcWString_len, 0u);
    EXPECT_EQ(defaults->res.Count, 5u);
    ASSERT_EQ(defaults->res.Objects.Objects_len, 1u);
    EXPECT_EQ(Text(defaults->res.Objects.Objects_val[0].name), u"Disk1");

    struct Case {
        int32_t option;
        std::optional<std::u16string> text;
        uint32_t count;
        uint32_t stored_count;
    };
    const Case cases[] = {
        {3, u"trace", 0, 5},
        {-1, std::nullopt, 7, 7},
        {0, u"", 1, 1},
    };
    for (const auto& c : cases) {
        RpcDataTraceConfig set{};
        set.token = token_;
        set.Objects = {1, arena_.Refs(u"Disk1", 1)};
        set.Option = c.option;
        set.Text = c.text ? arena_.Text(*c.text) : arena_.NoText();
        set.Count = c.count;
        EXPECT_EQ(Call<SET_DATA_TRACE_CONFIG>(set)->res.status, 0u);
        auto got = OnObject<GET_DATA_TRACE_CONFIG>(u"DISK1", 1);
        EXPECT_EQ(got->res.status, 0u);
        EXPECT_EQ(got->res.Option, c.option);
        EXPECT_EQ(got->res.Count, c.stored_count);
        if (c.text) {
            EXPECT_EQ(got->res.Text.RpcWString_len, c.text->size() + 1);
            EXPECT_EQ(Text(got->res.Text), *c.text);
        } else {
            EXPECT_EQ(got->res.Text.RpcWString_len, 0u);
        }
    }

    RpcDataTraceConfig no_object{};
    no_object.token = token_;
    EXPECT_EQ(Call<SET_DATA_TRACE_CONFIG>(no_object)->res.status, kInvalidParameter);

    // The settings go with the protection.
    ASSERT_EQ(Op<DISABLE_MIRROR>(u"Disk1", 1), 0u);
    EXPECT_EQ(OnObject<GET_DATA_TRACE_CONFIG>(u"Disk1", 1)->res.status, kProtectionNotFound);
    Protect();
    EXPECT_EQ(OnObject<GET_DATA_TRACE_CONFIG>(u"Disk1", 1)->res.Count, 5u);
}

}  // namespace
}  // namespace simtest
