// The operations that send one object reference and read a status: the six
// state operations and the two cancels of verify and restore, run over one
// table.
#include <gtest/gtest.h>

#include "mirror_test_support.h"
#include "platform/alloc.h"

using qvtest::Lines;
using qvtest::Text;

namespace {

struct ObjectOpRow {
    const char* function;
    QV_STATUS (*call)(QV_HANDLE, const QV_WCHAR*, uint32_t);
    unsigned procedure;
    // The error line with %08X in place of the status.
    const char16_t* line;
    // Whether transport failures and lack of memory are logged with the row's
    // line too (the mapped status), or only the service's own word.
    bool logs_mapped_status;
};

void PrintTo(const ObjectOpRow& row, std::ostream* os) { *os << row.function; }

const ObjectOpRow kRows[] = {
    {"qvDisableMirror", qvDisableMirror, 10, u"qvDisableMirror, disable mirror error[%08X]", false},
    {"qvSuspendMirror", qvSuspendMirror, 11, u"qvSuspendMirror, suspend mirror error[%08X]", false},
    {"qvResumeMirror", qvResumeMirror, 12, u"qvResumeMirror, resume mirror error[%08X]", false},
    {"qvStopMirror", qvStopMirror, 36, u"qvStopMirror, stop mirror error[%08X]", false},
    {"qvSyncMirror", qvSyncMirror, 13, u"qvSyncMirror, sync start mirror error[%08X]", false},
    {"qvCancelSyncMirror", qvCancelSyncMirror, 42,
     u"qvSyncStopMirror, sync stop mirror error[%08X]", false},
    {"qvCancelVeridyData", qvCancelVeridyData, 44,
     u"qvStopVeridyData, stop verify mirror error[%08X]", false},
    {"qvCancelRestorePrimary", qvCancelRestorePrimary, 46,
     u"qvStopRestorePrimary, stopping restoring progess error[%08X]", true},
};

std::u16string LineWith(const ObjectOpRow& row, std::u16string_view status) {
    std::u16string line = row.line;
    line.replace(line.find(u"%08X"), 4, status);
    return line;
}

class MirrorObjectOperations : public qvtest::MirrorHandleTest,
                               public ::testing::WithParamInterface<ObjectOpRow> {
  protected:
    qvtest::Decoded<RpcObjectRef> LastRef() const {
        return {reinterpret_cast<xdrproc_t>(xdr_RpcObjectRef), svc.LastBytes(GetParam().procedure)};
    }
};

TEST_P(MirrorObjectOperations, SendTheObjectAndLogTheirOwnLine) {
    const ObjectOpRow& row = GetParam();
    EXPECT_EQ(row.call(handle, u"Harddisk2", 4), 0u);  // success writes no line
    auto req = LastRef();
    ASSERT_TRUE(req.ok());
    EXPECT_EQ(
        std::tuple(req->kind, Text(req->name), qvtest::Count(req->name), req->number, req->token),
        std::tuple(0u, u"Harddisk2", 10u, 4u, qvtest::kMirrorToken));
    // A missing or empty name goes as the lone terminator.
    for (const char16_t* name : {static_cast<const char16_t*>(nullptr), u""}) {
        EXPECT_EQ(row.call(handle, name, 0), 0u);
        auto empty = LastRef();
        ASSERT_TRUE(empty.ok());
        ASSERT_EQ(qvtest::Count(empty->name), 1u);
        EXPECT_EQ(empty->name.RpcWString_val[0], 0u);
    }
    EXPECT_TRUE(trace.Lines().empty());

    const RpcStatus refusal{0x6FFC0040, 0, 0};
    svc.AnswerRaw(row.procedure,
                  qvtest::Encode(reinterpret_cast<xdrproc_t>(xdr_RpcStatus), &refusal));
    EXPECT_EQ(row.call(handle, u"Harddisk2", 4), 0x6FFC0040u);
    svc.Misbehave(row.procedure, qvtest::Fault::kGarbage);
    EXPECT_EQ(row.call(handle, u"Harddisk2", 4), QV_STATUS_RPC_FAILED);
    qv::alloc_fault::FailAt(1);
    EXPECT_EQ(row.call(handle, u"Harddisk2", 4), QV_STATUS_NO_MEMORY);
    qv::alloc_fault::Reset();
    EXPECT_EQ(svc.Calls(row.procedure), 5u);  // no name, no call

    Lines expected{LineWith(row, u"6FFC0040"), u"Error, rpc call error, client status[00000002]"};
    if (row.logs_mapped_status) {
        expected.push_back(LineWith(row, u"6FFC8005"));
        expected.push_back(LineWith(row, u"EFFC0001"));
    }
    EXPECT_EQ(trace.Lines(), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, MirrorObjectOperations, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.function); });

}  // namespace
