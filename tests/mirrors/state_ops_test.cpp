// The operations that send one object reference and read a status: the six
// state operations and the two cancels of verify and restore, run over one
// table.
#include <gtest/gtest.h>

#include "mirror_test_support.h"
#include "platform/alloc.h"

using qvtest::Fault;
using qvtest::Text;

namespace {

using ObjectFunction = QV_STATUS (*)(QV_HANDLE, const QV_WCHAR*, uint32_t);

struct ObjectOpRow {
    const char* function;
    ObjectFunction call;
    unsigned procedure;
    // The error line for a service word of 6FFC0040.
    const char16_t* refusal_line;
    // Whether transport failures and lack of memory are logged with the row's
    // line too (the mapped status), or only the service's own word.
    bool logs_mapped_status;
};

// Failures name the row by its function.
void PrintTo(const ObjectOpRow& row, std::ostream* os) { *os << row.function; }

const ObjectOpRow kRows[] = {
    {"qvDisableMirror", qvDisableMirror, 10, u"qvDisableMirror, disable mirror error[6FFC0040]",
     false},
    {"qvSuspendMirror", qvSuspendMirror, 11, u"qvSuspendMirror, suspend mirror error[6FFC0040]",
     false},
    {"qvResumeMirror", qvResumeMirror, 12, u"qvResumeMirror, resume mirror error[6FFC0040]", false},
    {"qvStopMirror", qvStopMirror, 36, u"qvStopMirror, stop mirror error[6FFC0040]", false},
    {"qvSyncMirror", qvSyncMirror, 13, u"qvSyncMirror, sync start mirror error[6FFC0040]", false},
    {"qvCancelSyncMirror", qvCancelSyncMirror, 42,
     u"qvSyncStopMirror, sync stop mirror error[6FFC0040]", false},
    {"qvCancelVeridyData", qvCancelVeridyData, 44,
     u"qvStopVeridyData, stop verify mirror error[6FFC0040]", false},
    {"qvCancelRestorePrimary", qvCancelRestorePrimary, 46,
     u"qvStopRestorePrimary, stopping restoring progess error[6FFC0040]", true},
};

// The row's line with another status in place of 6FFC0040.
std::u16string LineWith(const ObjectOpRow& row, std::u16string_view status) {
    std::u16string line = row.refusal_line;
    line.replace(line.size() - 9, 8, status);
    return line;
}

void AnswerStatus(qvtest::TestService& svc, unsigned procedure, uint32_t status) {
    const RpcStatus reply{status, 0, 0};
    svc.AnswerRaw(procedure, qvtest::Encode(reinterpret_cast<xdrproc_t>(xdr_RpcStatus), &reply));
}

qvtest::Decoded<RpcObjectRef> LastRef(const qvtest::TestService& svc, unsigned procedure) {
    return {reinterpret_cast<xdrproc_t>(xdr_RpcObjectRef), svc.LastBytes(procedure)};
}

class MirrorObjectOperations : public qvtest::MirrorHandleTest,
                               public ::testing::WithParamInterface<ObjectOpRow> {};

TEST_P(MirrorObjectOperations, SendNameNumberAndTokenAndPassTheRefusalOn) {
    const ObjectOpRow& row = GetParam();
    AnswerStatus(svc, row.procedure, 0x6FFC0040);
    EXPECT_EQ(row.call(handle, u"Harddisk2", 4), 0x6FFC0040u);

    EXPECT_EQ(svc.CallOrder(), std::vector<unsigned>{row.procedure});
    auto req = LastRef(svc, row.procedure);
    ASSERT_TRUE(req.ok());
    EXPECT_EQ(req->kind, 0u);
    EXPECT_EQ(qvtest::Count(req->name), 10u);
    EXPECT_EQ(Text(req->name), u"Harddisk2");
    EXPECT_EQ(req->number, 4u);
    EXPECT_EQ(req->token, qvtest::kMirrorToken);
    EXPECT_EQ(trace.Lines(), std::vector<std::u16string>{row.refusal_line});
}

TEST_P(MirrorObjectOperations, SuccessWritesNoLine) {
    const ObjectOpRow& row = GetParam();
    EXPECT_EQ(row.call(handle, u"Harddisk0", 0), 0u);
    EXPECT_EQ(svc.Calls(row.procedure), 1u);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_P(MirrorObjectOperations, MissingOrEmptyNameGoesAsTheLoneTerminator) {
    const ObjectOpRow& row = GetParam();
    for (const char16_t* name : {static_cast<const char16_t*>(nullptr), u""}) {
        svc.ClearRecord();
        EXPECT_EQ(row.call(handle, name, 0), 0u);
        auto req = LastRef(svc, row.procedure);
        ASSERT_TRUE(req.ok());
        ASSERT_EQ(qvtest::Count(req->name), 1u);
        EXPECT_EQ(req->name.RpcWString_val[0], 0u);
        EXPECT_EQ(req->number, 0u);
    }
}

TEST_P(MirrorObjectOperations, TransportFailureIsMapped) {
    const ObjectOpRow& row = GetParam();
    svc.Misbehave(row.procedure, Fault::kGarbage);
    EXPECT_EQ(row.call(handle, u"Harddisk2", 4), QV_STATUS_RPC_FAILED);
    std::vector<std::u16string> expected{u"Error, rpc call error, client status[00000002]"};
    if (row.logs_mapped_status) expected.push_back(LineWith(row, u"6FFC8005"));
    EXPECT_EQ(trace.Lines(), expected);
}

TEST_P(MirrorObjectOperations, NoMemoryForTheNameSendsNothing) {
    const ObjectOpRow& row = GetParam();
    qv::alloc_fault::FailAt(1);
    EXPECT_EQ(row.call(handle, u"Harddisk2", 4), QV_STATUS_NO_MEMORY);
    qv::alloc_fault::Reset();
    EXPECT_EQ(svc.TotalCalls(), 0u);
    std::vector<std::u16string> expected;
    if (row.logs_mapped_status) expected.push_back(LineWith(row, u"EFFC0001"));
    EXPECT_EQ(trace.Lines(), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, MirrorObjectOperations, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.function); });

}  // namespace
