// Verify and restore: the start requests as the service decodes them, the
// progress readers with their lines, failures and running out of memory.
// The cancels run with the state operations' table.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "mirror_test_support.h"
#include "platform/alloc.h"

using qvtest::Fault;
using qvtest::kMirrorToken;
using qvtest::Lines;
using qvtest::Text;

namespace {

// A reference nested in a request: name and number, kind and token 0.
auto Nested(const RpcObjectRef& ref) {
    return std::tuple(ref.kind, Text(ref.name), qvtest::Count(ref.name), ref.number, ref.token);
}

using MirrorVerifyRestore = qvtest::MirrorHandleTest;

const QV_RESTORE_REQUEST kRestore{{u"Harddisk2", 4}, -3, {u"Harddisk5", 0}, 5, 0xFFFFFFFF, -7};

TEST_F(MirrorVerifyRestore, VerifyCarriesTheObjectModeAndOptionsAsBooleans) {
    const struct {
        int32_t option1, option2;
        unsigned sent1, sent2;
    } rows[] = {{5, 0, 1, 0}, {0, -1, 0, 1}, {1, 1, 1, 1}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.option1 << "," << r.option2);
        const QV_VERIFY_REQUEST request{{u"Harddisk2", 4}, 0xDEADBEEF, r.option1, r.option2};
        EXPECT_EQ(qvVerifyData(handle, &request), 0u);
        auto req = svc.Last<VERIFY_DATA>();
        ASSERT_TRUE(req.ok());
        ASSERT_EQ(req->Objects.Objects_len, 1u);
        EXPECT_EQ(Nested(req->Objects.Objects_val[0]), std::tuple(0u, u"Harddisk2", 10u, 4u, 0u));
        EXPECT_EQ(std::tuple(req->Mode, req->Option1, req->Option2, req->token),
                  std::tuple(0xDEADBEEFu, r.sent1, r.sent2, kMirrorToken));
    }
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorVerifyRestore, RestoreCarriesBothObjectsAndTheFiguresUnchanged) {
    EXPECT_EQ(qvRestorePrimary(handle, &kRestore), 0u);
    auto req = svc.Last<RESTORE_PRIMARY>();
    ASSERT_TRUE(req.ok());
    ASSERT_EQ(req->Primaries.Primaries_len, 1u);
    EXPECT_EQ(Nested(req->Primaries.Primaries_val[0]), std::tuple(0u, u"Harddisk2", 10u, 4u, 0u));
    ASSERT_EQ(req->Counterparts.Counterparts_len, 1u);
    EXPECT_EQ(Nested(req->Counterparts.Counterparts_val[0]),
              std::tuple(0u, u"Harddisk5", 10u, 0u, 0u));
    EXPECT_EQ(std::tuple(req->Mode, req->Option1, req->Option2, req->Option3, req->token),
              std::tuple(-3, 5u, 0xFFFFFFFFu, -7, kMirrorToken));
    EXPECT_TRUE(trace.Lines().empty());
}

// The refusal is logged with the function's line, a transport failure only
// with the road's. Without memory for a reference (block, then name, for
// each object) nothing is sent.
TEST_F(MirrorVerifyRestore, StartFailuresAreLoggedByWhatFailed) {
    const QV_VERIFY_REQUEST verify{{u"Harddisk2", 4}, 0, 0, 0};
    const struct {
        unsigned proc;
        std::function<QV_STATUS()> call;
        const char16_t* refusal;
        const char16_t* no_memory;
        unsigned allocations;
    } rows[] = {
        {VERIFY_DATA, [&] { return qvVerifyData(handle, &verify); },
         u"qvVerifyData, start verify mirror error[6FFC0040]",
         u"qvVerifyData, no more available memory to use", 2},
        {RESTORE_PRIMARY, [&] { return qvRestorePrimary(handle, &kRestore); },
         u"qvRestorePrimary, restore mirror error[6FFC0040]",
         u"qvRestorePrimary, no memory for allocation", 4},
    };
    for (const auto& r : rows) {
        const std::size_t before = trace.Lines().size();
        const RpcStatus refusal{0x6FFC0040, 0, 0};
        svc.AnswerRaw(r.proc, qvtest::Encode(reinterpret_cast<xdrproc_t>(xdr_RpcStatus), &refusal));
        EXPECT_EQ(r.call(), 0x6FFC0040u);
        svc.Misbehave(r.proc, Fault::kGarbage);
        EXPECT_EQ(r.call(), QV_STATUS_RPC_FAILED);
        Lines expected{r.refusal, u"Error, rpc call error, client status[00000002]"};
        for (unsigned n = 1; n <= r.allocations; ++n) {
            qv::alloc_fault::FailAt(n);
            EXPECT_EQ(r.call(), QV_STATUS_NO_MEMORY) << n;
            qv::alloc_fault::Reset();
            expected.push_back(r.no_memory);
        }
        EXPECT_EQ(svc.Calls(r.proc), 2u);
        EXPECT_EQ(LinesSince(before), expected);
    }
}

TEST_F(MirrorVerifyRestore, VerifyProgressIsConvertedAndItsErrorStateLogged) {
    for (const auto& [wire_state, state] : {std::pair{2u, 2u}, {3u, 3u}, {4u, 0u}}) {
        SCOPED_TRACE(wire_state);
        RpcVerifyProgress reply{0,  wire_state, 1 << 20, 1 << 20, 2 << 20, 3 << 20, 77,
                                11, 12,         13,      14,      15,      16 << 10};
        svc.Answer<GET_VERIFY_PROGRESS>(reply);
        const std::size_t before = trace.Lines().size();
        QV_VERIFY_PROGRESS progress;
        std::memset(&progress, 0xA5, sizeof progress);
        EXPECT_EQ(qvGetVerifyProgress(handle, u"Harddisk2", 4, &progress), 0u);
        auto req = svc.Last<GET_VERIFY_PROGRESS>();
        ASSERT_TRUE(req.ok());
        EXPECT_EQ(std::tuple(req->kind, Text(req->name), req->number, req->token),
                  std::tuple(0u, u"Harddisk2", 4u, kMirrorToken));
        EXPECT_EQ(
            std::tuple(progress.State, progress.Result, progress.Amount1KiB, progress.Amount2KiB,
                       progress.Amount3KiB, progress.Value5, progress.Value6KiB, progress.Count),
            std::tuple(state, 0xA5A5A5A5u,  // no reply field feeds Result
                       1024u, 2048u, 3072u, 15u, 16u, uint64_t{77}));
        // The error state is logged with the caller's own Result.
        EXPECT_EQ(LinesSince(before),
                  state == 3
                      ? Lines{u"Verify progress encounters error, state, 3, return, A5A5A5A5"}
                      : Lines{});
    }
}

TEST_F(MirrorVerifyRestore, RestoreProgressLineShowsTheStateAsReceived) {
    for (const auto& [wire_state, state] : {std::pair{3u, 3u}, {7u, 0u}, {5u, 0u}}) {
        SCOPED_TRACE(wire_state);
        svc.Answer<GET_RESTORE_PRIMARY_PROGRESS>({0, wire_state, 42, 100, 200});
        QV_PROGRESS progress;
        std::memset(&progress, 0xA5, sizeof progress);
        EXPECT_EQ(qvGetRestorePrimaryProgress(handle, u"Harddisk2", 4, &progress), 0u);
        auto req = svc.Last<GET_RESTORE_PRIMARY_PROGRESS>();
        ASSERT_TRUE(req.ok());
        EXPECT_EQ(std::tuple(req->kind, Text(req->name), req->number, req->token),
                  std::tuple(0u, u"Harddisk2", 4u, kMirrorToken));
        EXPECT_EQ(
            std::tuple(progress.State, progress.Result, progress.DirtyData, progress.TotalDone),
            std::tuple(state, 42u, 100u, 200u));
        const std::string received = std::to_string(wire_state);
        EXPECT_EQ(trace.Lines().back(), u"Restore Disk, Harddisk2:4, return:42 status:" +
                                            std::u16string(received.begin(), received.end()) +
                                            u" dirtyData:100 totalDone:200");
    }
}

// Refused, undecodable, no memory for the name: the caller's record stays as
// it was and the mapped status is logged.
TEST_F(MirrorVerifyRestore, FailedProgressReadLeavesTheCallersRecord) {
    QV_VERIFY_PROGRESS verify;
    QV_PROGRESS restore;
    const struct {
        unsigned proc;
        std::function<void()> refuse;
        std::function<QV_STATUS()> call;
        void* record;
        std::size_t size;
        const char16_t* line;  // without the status
    } rows[] = {
        {GET_VERIFY_PROGRESS,
         [&] {
             RpcVerifyProgress refusal{};
             refusal.status = 0x6FFC0040;
             refusal.State = 3;  // an error state: still not read
             svc.Answer<GET_VERIFY_PROGRESS>(refusal);
         },
         [&] { return qvGetVerifyProgress(handle, u"D", 4, &verify); }, &verify, sizeof verify,
         u"qvGetVerifyProgress, getting verify result error["},
        {GET_RESTORE_PRIMARY_PROGRESS,
         [&] {
             svc.Answer<GET_RESTORE_PRIMARY_PROGRESS>({0x6FFC0040, 2, 1, 1, 1});
         },
         [&] { return qvGetRestorePrimaryProgress(handle, u"D", 4, &restore); }, &restore,
         sizeof restore, u"qvGetRestorePrimaryProgress, getting restoring progess error["},
    };
    for (const auto& r : rows) {
        const std::size_t before = trace.Lines().size();
        std::memset(r.record, 0xA5, r.size);
        const std::vector<uint8_t> pattern(r.size, 0xA5);
        r.refuse();
        EXPECT_EQ(r.call(), 0x6FFC0040u);
        svc.Misbehave(r.proc, Fault::kGarbage);
        EXPECT_EQ(r.call(), QV_STATUS_RPC_FAILED);
        qv::alloc_fault::FailAt(1);
        EXPECT_EQ(r.call(), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
        EXPECT_EQ(std::memcmp(r.record, pattern.data(), r.size), 0);
        EXPECT_EQ(svc.Calls(r.proc), 2u);
        const std::u16string line = r.line;
        EXPECT_EQ(LinesSince(before),
                  (Lines{line + u"6FFC0040]", u"Error, rpc call error, client status[00000002]",
                         line + u"6FFC8005]", line + u"EFFC0001]"}));
    }
}

}  // namespace
