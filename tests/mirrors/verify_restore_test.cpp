// Verify and restore: the start requests as the service decodes them, the
// progress readers with their lines, and running out of memory while
// building a request. The cancels run with the state operations' table.
#include <gtest/gtest.h>

#include <cstring>

#include "mirror_test_support.h"
#include "platform/alloc.h"

using qvtest::Fault;
using qvtest::Text;

namespace {

using Lines = std::vector<std::u16string>;

// A reference nested in a request: name and number, kind and token 0.
void ExpectNestedRef(const RpcObjectRef& ref, std::u16string_view name, unsigned count,
                     uint32_t number) {
    EXPECT_EQ(ref.kind, 0u);
    EXPECT_EQ(qvtest::Count(ref.name), count);
    EXPECT_EQ(Text(ref.name), name);
    EXPECT_EQ(ref.number, number);
    EXPECT_EQ(ref.token, 0u);
}

// The reference that is a whole request: kind 0 and the handle's token.
void ExpectWholeRef(const RpcObjectRef& ref, std::u16string_view name, uint32_t number) {
    EXPECT_EQ(ref.kind, 0u);
    EXPECT_EQ(Text(ref.name), name);
    EXPECT_EQ(ref.number, number);
    EXPECT_EQ(ref.token, qvtest::kMirrorToken);
}

// ---- qvVerifyData -----------------------------------------------------------

using MirrorVerify = qvtest::MirrorHandleTest;

TEST_F(MirrorVerify, RequestCarriesTheObjectModeAndOptionsAsBooleans) {
    struct Row {
        int32_t option1, option2;
        int sent1, sent2;
    };
    for (const Row r : {Row{5, 0, 1, 0}, Row{0, -1, 0, 1}, Row{1, 1, 1, 1}}) {
        SCOPED_TRACE(testing::Message() << r.option1 << "," << r.option2);
        const QV_VERIFY_REQUEST request{{u"Harddisk2", 4}, 0xDEADBEEF, r.option1, r.option2};
        EXPECT_EQ(qvVerifyData(handle, &request), 0u);
        auto req = svc.Last<VERIFY_DATA>();
        ASSERT_TRUE(req.ok());
        ASSERT_EQ(req->Objects.Objects_len, 1u);
        ExpectNestedRef(req->Objects.Objects_val[0], u"Harddisk2", 10, 4);
        EXPECT_EQ(req->Mode, 0xDEADBEEFu);
        EXPECT_EQ(req->Option1, r.sent1);
        EXPECT_EQ(req->Option2, r.sent2);
        EXPECT_EQ(req->token, qvtest::kMirrorToken);
    }
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorVerify, EmptyNameGoesAsTheLoneTerminator) {
    const QV_VERIFY_REQUEST request{{nullptr, 0}, 0, 0, 0};
    EXPECT_EQ(qvVerifyData(handle, &request), 0u);
    auto req = svc.Last<VERIFY_DATA>();
    ASSERT_TRUE(req.ok());
    ASSERT_EQ(req->Objects.Objects_len, 1u);
    ExpectNestedRef(req->Objects.Objects_val[0], u"", 1, 0);
}

TEST_F(MirrorVerify, RefusalIsLoggedAndTransportFailureIsNot) {
    const QV_VERIFY_REQUEST request{{u"Harddisk2", 4}, 0, 0, 0};
    svc.Answer<VERIFY_DATA>({.status = 0x6FFC0040, .value = 0, .token = 0});
    EXPECT_EQ(qvVerifyData(handle, &request), 0x6FFC0040u);
    svc.Misbehave(VERIFY_DATA, Fault::kGarbage);
    EXPECT_EQ(qvVerifyData(handle, &request), QV_STATUS_RPC_FAILED);
    EXPECT_EQ(trace.Lines(), (Lines{u"qvVerifyData, start verify mirror error[6FFC0040]",
                                    u"Error, rpc call error, client status[00000002]"}));
}

// The reference block, then its name copy.
TEST_F(MirrorVerify, NoMemoryForTheReferenceSendsNothing) {
    const QV_VERIFY_REQUEST request{{u"Harddisk2", 4}, 0, 0, 0};
    for (unsigned n : {1u, 2u}) {
        SCOPED_TRACE(n);
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvVerifyData(handle, &request), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_EQ(trace.Lines(), (Lines{u"qvVerifyData, no more available memory to use",
                                    u"qvVerifyData, no more available memory to use"}));
}

// ---- qvGetVerifyProgress ----------------------------------------------------

RpcVerifyProgress VerifyReply(uint32_t state) {
    RpcVerifyProgress v{};
    v.State = state;
    v.Amount0 = 1 << 20;
    v.Amount1 = 1 << 20;
    v.Amount2 = 2 << 20;
    v.Amount3 = 3 << 20;
    v.Count = 77;
    v.Value1 = 11;
    v.Value2 = 12;
    v.Value3 = 13;
    v.Value4 = 14;
    v.Value5 = 15;
    v.Value6 = 16 << 10;
    return v;
}

TEST_F(MirrorVerify, ProgressIsReadForTheNamedProtection) {
    svc.Answer<GET_VERIFY_PROGRESS>(VerifyReply(2));
    QV_VERIFY_PROGRESS progress;
    std::memset(&progress, 0xA5, sizeof progress);
    EXPECT_EQ(qvGetVerifyProgress(handle, u"Harddisk2", 4, &progress), 0u);

    auto req = svc.Last<GET_VERIFY_PROGRESS>();
    ASSERT_TRUE(req.ok());
    ExpectWholeRef(*req, u"Harddisk2", 4);
    EXPECT_EQ(progress.State, 2u);
    EXPECT_EQ(progress.Result, 0xA5A5A5A5u);  // no reply field feeds it
    EXPECT_EQ(progress.Amount1KiB, 1024u);
    EXPECT_EQ(progress.Amount2KiB, 2048u);
    EXPECT_EQ(progress.Amount3KiB, 3072u);
    EXPECT_EQ(progress.Value5, 15u);
    EXPECT_EQ(progress.Value6KiB, 16u);
    EXPECT_EQ(progress.Count, 77u);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorVerify, ErrorStateWritesOneLineWithTheCallersResult) {
    struct Row {
        uint32_t wire_state;
        uint32_t state;
        bool line;
    };
    for (const Row r : {Row{1, 1, false}, Row{2, 2, false}, Row{3, 3, true}, Row{4, 0, false}}) {
        SCOPED_TRACE(r.wire_state);
        svc.Answer<GET_VERIFY_PROGRESS>(VerifyReply(r.wire_state));
        const size_t before = trace.Lines().size();
        QV_VERIFY_PROGRESS progress{};
        progress.Result = 0xBEEF;
        EXPECT_EQ(qvGetVerifyProgress(handle, u"Harddisk2", 4, &progress), 0u);
        EXPECT_EQ(progress.State, r.state);
        const Lines lines = trace.Lines();
        ASSERT_EQ(lines.size(), before + (r.line ? 1 : 0));
        if (r.line) {
            EXPECT_EQ(lines.back(),
                      u"Verify progress encounters error, state, 3, return, 0000BEEF");
        }
    }
}

TEST_F(MirrorVerify, FailedProgressReadLeavesTheCallersRecord) {
    QV_VERIFY_PROGRESS progress;
    std::memset(&progress, 0xA5, sizeof progress);
    QV_VERIFY_PROGRESS before;
    std::memcpy(&before, &progress, sizeof before);

    RpcVerifyProgress refused = VerifyReply(3);
    refused.status = 0x6FFC0040;
    svc.Answer<GET_VERIFY_PROGRESS>(refused);
    EXPECT_EQ(qvGetVerifyProgress(handle, u"Harddisk2", 4, &progress), 0x6FFC0040u);
    svc.Misbehave(GET_VERIFY_PROGRESS, Fault::kGarbage);
    EXPECT_EQ(qvGetVerifyProgress(handle, u"Harddisk2", 4, &progress), QV_STATUS_RPC_FAILED);
    qv::alloc_fault::FailAt(1);
    EXPECT_EQ(qvGetVerifyProgress(handle, u"Harddisk2", 4, &progress), QV_STATUS_NO_MEMORY);
    qv::alloc_fault::Reset();

    EXPECT_EQ(std::memcmp(&progress, &before, sizeof progress), 0);
    EXPECT_EQ(svc.Calls(GET_VERIFY_PROGRESS), 2u);
    EXPECT_EQ(trace.Lines(),
              (Lines{u"qvGetVerifyProgress, getting verify result error[6FFC0040]",
                     u"Error, rpc call error, client status[00000002]",
                     u"qvGetVerifyProgress, getting verify result error[6FFC8005]",
                     u"qvGetVerifyProgress, getting verify result error[EFFC0001]"}));
}

// ---- qvRestorePrimary -------------------------------------------------------

using MirrorRestore = qvtest::MirrorHandleTest;

const QV_RESTORE_REQUEST kRestore{{u"Harddisk2", 4}, -3, {u"Harddisk5", 0}, 5, 0xFFFFFFFF, -7};

TEST_F(MirrorRestore, RequestCarriesBothObjectsAndTheFiguresUnchanged) {
    EXPECT_EQ(qvRestorePrimary(handle, &kRestore), 0u);
    auto req = svc.Last<RESTORE_PRIMARY>();
    ASSERT_TRUE(req.ok());
    EXPECT_EQ(req->Mode, -3);
    ASSERT_EQ(req->Primaries.Primaries_len, 1u);
    ExpectNestedRef(req->Primaries.Primaries_val[0], u"Harddisk2", 10, 4);
    ASSERT_EQ(req->Counterparts.Counterparts_len, 1u);
    ExpectNestedRef(req->Counterparts.Counterparts_val[0], u"Harddisk5", 10, 0);
    EXPECT_EQ(req->Option1, 5u);
    EXPECT_EQ(req->Option2, 0xFFFFFFFFu);
    EXPECT_EQ(req->Option3, -7);
    EXPECT_EQ(req->token, qvtest::kMirrorToken);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorRestore, RefusalIsLoggedAndTransportFailureIsNot) {
    svc.Answer<RESTORE_PRIMARY>({.status = 0x6FFC0040, .value = 0, .token = 0});
    EXPECT_EQ(qvRestorePrimary(handle, &kRestore), 0x6FFC0040u);
    svc.Misbehave(RESTORE_PRIMARY, Fault::kGarbage);
    EXPECT_EQ(qvRestorePrimary(handle, &kRestore), QV_STATUS_RPC_FAILED);
    EXPECT_EQ(trace.Lines(), (Lines{u"qvRestorePrimary, restore mirror error[6FFC0040]",
                                    u"Error, rpc call error, client status[00000002]"}));
}

// Primary block, its name, counterpart block, its name: each failure gives
// back what came before it.
TEST_F(MirrorRestore, NoMemoryForEitherReferenceSendsNothing) {
    for (unsigned n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvRestorePrimary(handle, &kRestore), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_EQ(trace.Lines(), Lines(4, u"qvRestorePrimary, no memory for allocation"));
}

// ---- qvGetRestorePrimaryProgress --------------------------------------------

TEST_F(MirrorRestore, ProgressLineShowsTheStateAsReceived) {
    struct Row {
        uint32_t wire_state;
        uint32_t state;
        const char16_t* line;
    };
    const Row rows[] = {
        {3, 3, u"Restore Disk, Harddisk2:4, return:42 status:3 dirtyData:100 totalDone:200"},
        {7, 0, u"Restore Disk, Harddisk2:4, return:42 status:7 dirtyData:100 totalDone:200"},
        {5, 0, u"Restore Disk, Harddisk2:4, return:42 status:5 dirtyData:100 totalDone:200"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.wire_state);
        svc.Answer<GET_RESTORE_PRIMARY_PROGRESS>({0, r.wire_state, 42, 100, 200});
        QV_PROGRESS progress;
        std::memset(&progress, 0xA5, sizeof progress);
        EXPECT_EQ(qvGetRestorePrimaryProgress(handle, u"Harddisk2", 4, &progress), 0u);
        auto req = svc.Last<GET_RESTORE_PRIMARY_PROGRESS>();
        ASSERT_TRUE(req.ok());
        ExpectWholeRef(*req, u"Harddisk2", 4);
        EXPECT_EQ(progress.State, r.state);
        EXPECT_EQ(progress.Result, 42u);
        EXPECT_EQ(progress.DirtyData, 100u);
        EXPECT_EQ(progress.TotalDone, 200u);
        EXPECT_EQ(trace.Lines().back(), r.line);
    }
}

TEST_F(MirrorRestore, FailedProgressReadLeavesTheCallersRecord) {
    QV_PROGRESS progress{9, 9, 9, 9};
    svc.Answer<GET_RESTORE_PRIMARY_PROGRESS>({0x6FFC0040, 2, 1, 1, 1});
    EXPECT_EQ(qvGetRestorePrimaryProgress(handle, u"Harddisk2", 4, &progress), 0x6FFC0040u);
    svc.Misbehave(GET_RESTORE_PRIMARY_PROGRESS, Fault::kGarbage);
    EXPECT_EQ(qvGetRestorePrimaryProgress(handle, u"Harddisk2", 4, &progress),
              QV_STATUS_RPC_FAILED);
    qv::alloc_fault::FailAt(1);
    EXPECT_EQ(qvGetRestorePrimaryProgress(handle, u"Harddisk2", 4, &progress), QV_STATUS_NO_MEMORY);
    qv::alloc_fault::Reset();

    EXPECT_EQ(progress.State, 9u);
    EXPECT_EQ(progress.Result, 9u);
    EXPECT_EQ(progress.DirtyData, 9u);
    EXPECT_EQ(progress.TotalDone, 9u);
    EXPECT_EQ(svc.Calls(GET_RESTORE_PRIMARY_PROGRESS), 2u);
    EXPECT_EQ(trace.Lines(),
              (Lines{u"qvGetRestorePrimaryProgress, getting restoring progess error[6FFC0040]",
                     u"Error, rpc call error, client status[00000002]",
                     u"qvGetRestorePrimaryProgress, getting restoring progess error[6FFC8005]",
                     u"qvGetRestorePrimaryProgress, getting restoring progess error[EFFC0001]"}));
}

}  // namespace
